# The static libraries for Windows that scripts/windows-libraries
# cross-builds from Debian's sources (FFmpeg and its encoders, libFLAC),
# found through their own .pc files.
#
# trellon_windows_library(TARGET PREFIX MODULE...) makes the INTERFACE
# library TARGET from the pkg-config MODULEs, read with their static
# dependencies.
set(TRELLON_WINDOWS_LIBRARIES "${PROJECT_SOURCE_DIR}/build/windows/libraries/current" CACHE PATH
  "FFmpeg, the encoders and libFLAC for Windows, made by scripts/windows-libraries")
if(NOT EXISTS "${TRELLON_WINDOWS_LIBRARIES}/.complete")
  message(FATAL_ERROR "No libraries for Windows in ${TRELLON_WINDOWS_LIBRARIES}: "
    "scripts/windows-libraries builds them (scripts/windows runs it)")
endif()
find_package(PkgConfig REQUIRED)

function(trellon_windows_library target prefix)
  # Only this folder's .pc files, read again at every configure: they name
  # the versioned folder behind "current", which a new source version
  # replaces.
  set(ENV{PKG_CONFIG_LIBDIR} "${TRELLON_WINDOWS_LIBRARIES}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  unset(__pkg_config_checked_${prefix} CACHE)
  pkg_check_modules(${prefix} REQUIRED ${ARGN})
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${${prefix}_STATIC_INCLUDE_DIRS})
  target_link_directories(${target} INTERFACE ${${prefix}_STATIC_LIBRARY_DIRS})
  target_link_libraries(${target} INTERFACE ${${prefix}_STATIC_LIBRARIES})
  target_compile_options(${target} INTERFACE ${${prefix}_STATIC_CFLAGS_OTHER})
endfunction()
