# Runs the sheet generator (under EMULATOR when set) into OUT and compares
# what it drew with the committed sheets in ASSETS; the preview, a PNG, only
# has to be written.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${EMULATOR} ${GENERATOR} --out ${OUT} --preview ${OUT}/preview.png
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "trellon-sheets failed: ${result}")
endif()
foreach(sheet font1.bmp font2.bmp units.bmp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${sheet} ${ASSETS}/${sheet}
    RESULT_VARIABLE different)
  if(NOT different EQUAL 0)
    message(FATAL_ERROR "${sheet} drawn by trellon-sheets differs from the committed copy")
  endif()
endforeach()
