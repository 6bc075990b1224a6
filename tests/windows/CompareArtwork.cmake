# Runs the artwork generator into OUTPUT and compares its pictures with the
# committed ones in COMMITTED.
file(MAKE_DIRECTORY ${OUTPUT})
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "artwork generator failed: ${result}")
endif()
foreach(picture Splash.bmp APP_BITMAP.bmp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${picture}
                          ${COMMITTED}/${picture} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${picture} differs from what the generator draws; rerun sigilon-artwork")
  endif()
endforeach()
