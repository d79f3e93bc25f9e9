execute_process(COMMAND ${GENERATOR} ${WORK}/generated-release.txt RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the release generator failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/generated-release.txt ${EXPECTED}
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "catalog/data/release.txt is not what the generator writes; regenerate it")
endif()
