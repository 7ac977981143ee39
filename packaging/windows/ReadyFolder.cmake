# Lays out the folder for a user (cmake -P), anew each time so that nothing
# of an earlier layout stays in it:
#   READY   the folder
#   FILES   the programs and the sheets, separated by |
#   README  the README, given Windows line ends and the version for @VERSION@
#   VERSION the project's version
#   STRIP   MinGW-w64's strip: the build keeps debug information, most of
#           each program's size
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${READY})
file(MAKE_DIRECTORY ${READY})
string(REPLACE "|" ";" files "${FILES}")
foreach(file ${files})
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${READY}/${name})
  if(name MATCHES "\\.exe$")
    execute_process(COMMAND ${STRIP} ${READY}/${name} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
file(READ ${README} text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${READY}/README.txt "${text}")
