# Windows: the install folder a PC needs (cmake --install), the ZIP of it and
# the NSIS installer (cpack -G ZIP / -G NSIS in the cross build). Flat, as
# windeployqt lays it out: the programs, the Qt DLLs they use, Qt's platform
# and style plugins, qt.conf, the MinGW run-time DLLs that Qt's DLLs and the
# window take, the user documents as text (the README and the CLI
# reference; the developer ones do not ship) and the licence notices.

include(${CMAKE_CURRENT_LIST_DIR}/reproducible-windows.cmake)

# The programs that ship, side by side; a console program is one more name.
set(KRONEX_SHIPPED_PROGRAMS kronex-atu kronex-update)

foreach(program IN LISTS KRONEX_SHIPPED_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/CLI.md DESTINATION . RENAME CLI.txt)

if(TARGET kronex-atu)
  # kronex-update links the run-time statically; Qt's DLLs and the window
  # take it as DLLs.
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/qt.conf DESTINATION .)
  set(_copied)
  foreach(lib Core Gui Widgets)
    install(FILES $<TARGET_FILE:Qt6::${lib}> DESTINATION .)
    list(APPEND _copied Qt6${lib}.dll)
  endforeach()
  install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
  install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
  list(APPEND _copied platforms/qwindows.dll styles/qwindowsvistastyle.dll)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    install(FILES ${_path} DESTINATION .)
    list(APPEND _copied ${dll})
  endforeach()
  # Copied files are not stripped with the programs; their symbols and the
  # run-time's debug sections are more than half of the folder.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(_dll ${_copied})
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${_dll}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")

  # The notices: Qt (LGPLv3, with the third-party code inside its DLLs), the
  # MinGW run-time and the libraries inside kronex-update, from the Debian
  # packages they were built from.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/NOTICES.txt DESTINATION licences)
  foreach(pair "/usr/share/common-licenses/LGPL-3:LGPL-3.txt"
               "/usr/share/common-licenses/GPL-3:GPL-3.txt"
               "/usr/share/doc/qt6-base-dev/copyright:qt6-base-copyright.txt"
               "/usr/share/doc/gcc-mingw-w64-base/copyright:gcc-runtime-copyright.txt"
               "/usr/share/doc/mingw-w64-common/copyright:mingw-w64-copyright.txt"
               "/usr/share/doc/libcli11-dev/copyright:cli11-copyright.txt"
               "/usr/share/doc/nlohmann-json3-dev/copyright:nlohmann-json-copyright.txt")
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(NOT EXISTS ${from})
      message(FATAL_ERROR "licence text ${from} is missing (its Debian package is not installed)")
    endif()
    install(FILES ${from} DESTINATION licences RENAME ${to})
  endforeach()
endif()

set(CPACK_GENERATOR ZIP NSIS)
# The NSIS code below holds quotes, backslashes and ${...}: passed on as written.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME kronex-atu)
set(CPACK_PACKAGE_VENDOR KRONEX)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Both downloads are named after the program and the firmware release inside,
# e.g. kronex-atu-1.0.0-firmware-versao-1.25-win64.exe (release-info.cmake).
set(CPACK_PACKAGE_FILE_NAME kronex-atu-${PROJECT_VERSION}-${KRONEX_RELEASE_SLUG}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for KRONEX automotive service units")
set(CPACK_PACKAGE_INSTALL_DIRECTORY KRONEX)
# The uninstall entry's key, HKLM\...\Uninstall\KRONEX: every installer
# so far used it, so the next one finds what it replaces there.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY KRONEX)
set(CPACK_STRIP_FILES ON)

# The installer is our own NSIS script (packaging/windows/NSIS.template.in):
# Portuguese (Brazil) only, the Start-menu entries, the uninstall entry and
# the upgrade in place. It reads the release built in from these.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows ${CMAKE_MODULE_PATH})
set(CPACK_KRONEX_NSIS_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_KRONEX_RELEASE_CAPTION "${KRONEX_RELEASE_CAPTION}")
set(CPACK_KRONEX_RELEASE_NUMBER ${KRONEX_RELEASE_NUMBER})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(_ico ${PROJECT_SOURCE_DIR}/app/icons/kronex-atu.ico)
set(CPACK_NSIS_MUI_ICON ${_ico})
set(CPACK_NSIS_MUI_UNIICON ${_ico})
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer (Unicode, so the UTF-8 script keeps its accents) that
# writes the uninstall entry to the registry's 64-bit view.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")

# Qt 6.4 needs Windows 10 1809 or later: the installer says so in Portuguese
# on older Windows and installs nothing (packaging/windows/require-windows.nsh).
string(APPEND CPACK_NSIS_DEFINES "\n!include \"${PROJECT_SOURCE_DIR}/packaging/windows/require-windows.nsh\"")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "Call kronexRequireWindows")

# %ProgramData%\KRONEX: one folder for every user of the PC (the records of
# units being updated), with the rights Windows gives shared data: anyone may
# add a file, each file is its maker's (CREATOR OWNER: full control), others
# may only read it. It keeps what it inherits from ProgramData; the rights are
# also set on it, for a ProgramData whose rights were changed. Earlier
# installers gave Users modify rights on everything in it: that grant goes,
# and with it, by inheritance, the same grant on the files already there,
# which keep their owners. No recursive reset: in a folder every user could
# write, an elevated pass over its contents would follow a link a user left
# there. The SIDs work in every language of Windows. It stays on uninstall:
# it may hold a record a unit still needs.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
  SetShellVarContext all
  CreateDirectory "$APPDATA\KRONEX"
  nsExec::Exec '"$SYSDIR\icacls.exe" "$APPDATA\KRONEX" /remove:g *S-1-5-32-545'
  Pop $0
  nsExec::Exec '"$SYSDIR\icacls.exe" "$APPDATA\KRONEX" /grant *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-3-0:(OI)(CI)(IO)F *S-1-5-32-545:(OI)(CI)RX'
  Pop $0
  nsExec::Exec '"$SYSDIR\icacls.exe" "$APPDATA\KRONEX" /grant *S-1-5-32-545:(CI)(WD,AD,WEA,WA)'
  Pop $0]])
include(${CMAKE_CURRENT_LIST_DIR}/signing-windows.cmake)
include(CPack)
