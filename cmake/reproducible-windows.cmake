# The same bytes from two builds of one commit. Included first of the
# install rules, so that the steps below come before the rest.
#
# SOURCE_DATE_EPOCH (the last commit's time unless the environment gives
# one) for the install: strip writes it into each PE file it rewrites
# instead of the time of day. The ZIP takes it as every file's time. (The
# linker writes no time at all: CMakeLists.txt.)
if(NOT CMAKE_HOST_UNIX)
  return()
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KRONEX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE KRONEX_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT KRONEX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(KRONEX_SOURCE_DATE_EPOCH 1767225600) # not a git checkout: 1 January 2026
  endif()
endif()
install(CODE "
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} ${KRONEX_SOURCE_DATE_EPOCH})
  endif()")
# cpack gets the date too, for the ZIP it makes again (sorted-zip.cmake).
set(CPACK_KRONEX_SOURCE_DATE_EPOCH ${KRONEX_SOURCE_DATE_EPOCH})
list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/sorted-zip.cmake)
