# GoogleTest: Debian's installed build on Linux; for Windows, built here from
# the sources Debian's googletest package puts in /usr/src/googletest (there
# is no MinGW build of it to find).
if(WIN32)
  set(TRELLON_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS ${TRELLON_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${TRELLON_GTEST_SOURCE_DIR}: install googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TRELLON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# trellon_add_test(NAME SOURCES... LIBS...) builds one GoogleTest executable per
# subsystem and registers its cases with CTest.
#
# A cross build runs its tests under the emulator (Wine) and registers each
# executable as one CTest test (GoogleTest names the failing cases in its
# output): the build then never runs a test program to list its cases, and
# each program starts once instead of once per case.
#
# A case that GoogleTest skips (GTEST_SKIP: a tool or package missing)
# exits with 0 as a pass does. gtest_discover_tests marks each discovered
# case with SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" itself (CMake 3.25's
# GoogleTestAddTests.cmake), so CTest lists it as skipped, not passed, and
# says so in its summary. One test per program can't be marked so: a skip
# would hide its other cases' failures; GoogleTest's own summary lists the
# skipped cases there.
function(trellon_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} trellon_test_support GTest::gtest_main GTest::gmock
    trellon_warnings)
  trellon_utf8_manifest(${name})
  target_compile_definitions(${name} PRIVATE
    TRELLON_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1
      WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endif()
endfunction()
