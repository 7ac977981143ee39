# Includes name their subsystem: "video/Video.h", "capture/Capture.h", the
# header's path from the top of the repository.
#
# trellon_public_headers(TARGET FOLDER [HEADERS h...]) lays the headers at the
# top of FOLDER (or the HEADERS named), the target's public interface, into an
# include folder of the target's own in the build tree, as symbolic links
# under FOLDER's path, and gives that folder to whoever links the target. A
# dependent therefore reaches the headers of the libraries it links and
# nothing else: not a library it does not link, and not what a library keeps
# in FOLDER/private/, which only the library's own sources (and its tests)
# reach, as "private/X.h".
function(trellon_public_headers target folder)
  cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
  set(source ${PROJECT_SOURCE_DIR}/${folder})
  if(ARG_HEADERS)
    set(headers ${ARG_HEADERS})
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${source} ${source}/*.h)
  endif()
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header IN LISTS headers)
    file(CREATE_LINK ${source}/${header} ${root}/${folder}/${header} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root} PRIVATE ${source})
  endif()
endfunction()

# The include folder a test or a fuzz target adds to reach FOLDER's private
# headers as "private/X.h".
function(trellon_private_headers_for target folder)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/${folder})
endfunction()

# A backend implements the operations its library declares and calls; it
# takes the library's headers but not the library itself, so that the
# linker sees the library first and its backend after it, as
# trellon_*_platform list them.
function(trellon_backend_of backend library)
  target_include_directories(${backend} PRIVATE
    $<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>)
endfunction()
