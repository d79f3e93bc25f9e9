# Run by cpack after each package (CPACK_POST_BUILD_SCRIPTS): the ZIP made
# again with info-zip from the same staged folder, its entries sorted by
# name, every file's time the source date (in UTC) and no Unix extra fields,
# so that two builds of one commit give the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "ZIP")
  return()
endif()
find_program(_zip zip REQUIRED)
file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE ${CPACK_TOPLEVEL_DIRECTORY}
     ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT _files)
string(REPLACE ";" "\n" _entries "${_files}")
file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/zip-entries.txt "${_entries}\n")
execute_process(COMMAND touch -h -d @${CPACK_KRONEX_SOURCE_DATE_EPOCH} ${_files}
                WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
foreach(_package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE ${_package})
  execute_process(COMMAND env TZ=UTC ${_zip} -X -D -q ${_package} -@
                  INPUT_FILE ${CPACK_TOPLEVEL_DIRECTORY}/zip-entries.txt
                  WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
