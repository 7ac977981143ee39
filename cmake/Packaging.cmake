# The Debian package: `cpack --config CPackConfig.cmake` in a Linux build
# folder writes trellonhd_VERSION_amd64.deb from this build's install rules
# (scripts/package does it in build/package, with Debian's own build flags).
#
# Besides the programs' own install rules it installs what a Debian package
# carries: a manual page for each program, made from its --help and
# --version; the changelog, made from CHANGELOG.md; the copyright file.
# The dependencies are computed from the binaries by dpkg-shlibdeps; only
# what they load at run time without linking it is named by hand.
include(GNUInstallDirs)

set(TRELLON_MAINTAINER "TrellonHD developers <developers@trellonhd.org>")
set(trellon_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/trellonhd)
set(trellon_package_dir ${CMAKE_BINARY_DIR}/package-files)
find_program(TRELLON_GZIP gzip REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Manual pages, written from each program's --help (packaging/debian/
# manpage.py), compressed as Debian wants them (-n: no time stamp, so the
# same program makes the same file).
set(trellon_manpages)
foreach(program trellon trellonhd)
  set(page ${trellon_package_dir}/${program}.1)
  set(sections ${PROJECT_SOURCE_DIR}/packaging/debian/${program}.1.in)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${trellon_package_dir}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/packaging/debian/manpage.py
      $<TARGET_FILE:${program}> ${sections} ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${page}
    COMMAND ${TRELLON_GZIP} -9nf ${page}
    DEPENDS ${program} ${sections} ${PROJECT_SOURCE_DIR}/packaging/debian/manpage.py
      ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    COMMENT "Writing the manual page of ${program}" VERBATIM)
  list(APPEND trellon_manpages ${page}.gz)
endforeach()
add_custom_target(trellon_manpages ALL DEPENDS ${trellon_manpages})
install(FILES ${trellon_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's changelog and copyright, where Debian looks for them.
add_custom_command(OUTPUT ${trellon_package_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${trellon_package_dir}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/packaging/debian/changelog.py
    ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_VERSION} ${TRELLON_MAINTAINER}
    ${trellon_package_dir}/changelog
  COMMAND ${TRELLON_GZIP} -9nf ${trellon_package_dir}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/packaging/debian/changelog.py
  COMMENT "Writing the Debian changelog from CHANGELOG.md" VERBATIM)
add_custom_target(trellon_changelog ALL DEPENDS ${trellon_package_dir}/changelog.gz)
install(FILES ${trellon_package_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
  DESTINATION ${trellon_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trellonhd)
set(CPACK_PACKAGE_VENDOR TrellonHD)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TRELLON_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recorder and player of the Warcraft II screen")
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "TrellonHD runs beside the game Warcraft II under Wine and records its
screen, palette, cursor and sound up to 100 times a second, only reading
the game's memory. It plays recordings back at 1/8 to 15 times their
speed, cuts fragments, draws a player statistics panel and unit markers,
exports MP4, WebM, MKV and GIF videos, and saves its own video files
(.dk2).
.
This package holds the application (trellonhd) and the command-line tool
(trellon).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # trellonhd_VERSION_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://trellonhd.org")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt opens its window through a platform plugin, which no binary links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The toolkit's own buttons and file dialogs in Russian; the game itself,
# which runs under Wine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
include(CPack)
