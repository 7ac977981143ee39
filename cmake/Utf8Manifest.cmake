# trellon_utf8_manifest(TARGET): on Windows, gives a program the manifest that
# makes UTF-8 its code page, so that its arguments and the C library's file
# names are UTF-8 there as on Linux. Nothing elsewhere.
if(WIN32)
  enable_language(RC)
  set(TRELLON_UTF8_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/windows/utf8.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/utf8.rc.in ${CMAKE_BINARY_DIR}/utf8.rc @ONLY)
endif()
function(trellon_utf8_manifest target)
  if(WIN32)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/utf8.rc)
  endif()
endfunction()

# trellon_version_resource(TARGET DESCRIPTION): on Windows, gives a program
# the version resource Explorer's Properties and installers read, with the
# project's version and DESCRIPTION. trellonhd.exe has its own, in its
# resource script. Nothing elsewhere.
function(trellon_version_resource target description)
  if(WIN32)
    set(TRELLON_RC_NAME ${target})
    set(TRELLON_RC_DESCRIPTION ${description})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/version.rc.in
      ${CMAKE_BINARY_DIR}/version-${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version-${target}.rc)
  endif()
endfunction()
