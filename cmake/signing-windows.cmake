# Authenticode signatures on what ships for Windows, when a certificate and
# key are given while packaging (scripts/sign-windows.sh names the variables;
# without them nothing is signed): the programs as they are installed, so
# that the ZIP and the installer carry signed copies, then the uninstaller
# and the installer as NSIS writes them.
if(NOT CMAKE_HOST_UNIX)
  return()
endif()
set(_sign ${PROJECT_SOURCE_DIR}/scripts/sign-windows.sh)
set(_programs)
foreach(program IN LISTS KRONEX_SHIPPED_PROGRAMS)
  if(TARGET ${program})
    string(APPEND _programs
           " \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}${CMAKE_EXECUTABLE_SUFFIX}\"")
  endif()
endforeach()
# After the programs' own install rules, so it signs the stripped files.
install(CODE "execute_process(COMMAND \"${_sign}\"${_programs} COMMAND_ERROR_IS_FATAL ANY)")
# makensis runs these on the uninstaller it is about to embed and on the
# finished installer; a failed signature stops the build. Back-quoted, with
# single quotes for the shell: no double quote to escape on the way through
# CPack's configuration file.
string(APPEND CPACK_NSIS_DEFINES "\n!uninstfinalize `'${_sign}' '%1'` = 0"
       "\n!finalize `'${_sign}' '%1'` = 0")
