# Installation on Linux and the Debian package (cpack -G DEB in a Release
# build): kronex-atu and kronex-devsim, the desktop entry with its icon, and
# the README. Windows has its own (packaging-windows.cmake).
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/packaging-windows.cmake)
  return()
endif()
if(NOT UNIX OR APPLE)
  return()
endif()

include(GNUInstallDirs)
set(_icons ${PROJECT_SOURCE_DIR}/app/icons)

if(TARGET kronex-atu)
  install(TARGETS kronex-atu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kronex-atu.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 48 128 256)
    install(FILES ${_icons}/kronex-atu-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kronex-atu.png)
  endforeach()
  install(FILES ${_icons}/kronex-atu.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
if(TARGET kronex-devsim)
  install(TARGETS kronex-devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kronex-atu)

set(KRONEX_PACKAGE_MAINTAINER "KRONEX updater maintainers <kronex-atu@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kronex-atu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for KRONEX automotive service units")
set(CPACK_PACKAGE_DESCRIPTION
    "Installs the firmware release compiled into the program into a KRONEX unit\n\
in update mode over a serial port (COM1 to COM16, mapped to Linux devices\n\
through a per-user device namespace). The interface is in Portuguese. Also\n\
contains kronex-devsim, a simulated unit on a pseudo-terminal for trying an\n\
update without hardware.")
set(CPACK_PACKAGE_CONTACT ${KRONEX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KRONEX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Libraries from dpkg-shlibdeps; the font the windows ask for by name
# ("Arial") comes from Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
