# Cross-compiles TrellonHD for 64-bit Windows with Debian's MinGW-w64 (the
# posix thread model compilers, which give std::thread and std::mutex) and
# runs the built programs under Wine, so that CTest and GoogleTest's test
# discovery work from Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRELLON_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRELLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRELLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRELLON_MINGW_TRIPLET}-windres)

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TRELLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs no wine64 launcher on PATH; the loader itself is here.
find_program(TRELLON_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TRELLON_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRELLON_WINE64})
endif()

# Every program carries its C and C++ runtimes (and winpthread), so a .exe
# runs on a bare Windows or Wine without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
