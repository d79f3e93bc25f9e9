# Installation on Linux and the Debian package (cpack -G DEB in a Release
# build): kronex-atu, kronex-update (its rule is in cli/) and kronex-devsim,
# the desktop entry with its icon, their manual pages, the user documents
# (the README and the CLI reference; the developer ones do not ship), the
# copyright file and the changelog. The firmware release built in is part
# of the package's version. Windows has its own (packaging-windows.cmake).
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
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/kronex-atu)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/CLI.md
              ${PROJECT_SOURCE_DIR}/packaging/linux/copyright
        DESTINATION ${_doc})

# Debian policy: the changelog and the manual pages compressed as dpkg does
# (gzip -9n: no file name or time inside, so the same bytes every build).
# kronex-atu's page is written by hand (the window has no --help).
set(_linux ${PROJECT_SOURCE_DIR}/packaging/linux)
set(_out ${CMAKE_CURRENT_BINARY_DIR}/debian-docs)
set(_gzipped)
function(_kronex_gzip source output)
  add_custom_command(OUTPUT ${_out}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}
    COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${source} ${_out}/${output}
    DEPENDS ${source} VERBATIM)
  set(_gzipped ${_gzipped} ${_out}/${output} PARENT_SCOPE)
endfunction()
# The changelog opens with an entry for the release built in, so that its
# first entry is the package's version (below). Its date is
# SOURCE_DATE_EPOCH or else the last commit's, as the Windows build takes
# it, so two builds give the same bytes; never older than the written
# entries it comes before.
set(KRONEX_DEBIAN_VERSION ${PROJECT_VERSION}+r${KRONEX_RELEASE_NUMBER})
set(KRONEX_PACKAGE_MAINTAINER "KRONEX updater maintainers <kronex-atu@kronex.com.br>"
    CACHE STRING "Maintainer field of the Debian package")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
file(STRINGS ${_linux}/changelog _last_date REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- .*>  " "" _last_date "${_last_date}")
execute_process(COMMAND date -d "${_last_date}" +%s OUTPUT_VARIABLE _written
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT _epoch MATCHES "^[0-9]+$" OR (_written MATCHES "^[0-9]+$" AND _epoch LESS_EQUAL _written))
  math(EXPR _epoch "${_written} + 1")
endif()
set(_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
string(TIMESTAMP _entry_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_saved_epoch}")
file(READ ${_linux}/changelog _written_entries)
file(WRITE ${_out}/changelog.new
     "kronex-atu (${KRONEX_DEBIAN_VERSION}) stable; urgency=medium\n\n"
     "  * Firmware release ${KRONEX_RELEASE_NUMBER} built in: ${KRONEX_RELEASE_CAPTION},\n"
     "    of ${KRONEX_RELEASE_DATE}.\n\n"
     " -- ${KRONEX_PACKAGE_MAINTAINER}  ${_entry_date}\n\n${_written_entries}")
# Rewritten only when it changes, so that the package is not made again.
file(COPY_FILE ${_out}/changelog.new ${_out}/changelog ONLY_IF_DIFFERENT)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${_linux}/changelog)
_kronex_gzip(${_out}/changelog changelog.gz)
install(FILES ${_out}/changelog.gz DESTINATION ${_doc})
if(TARGET kronex-atu)
  _kronex_gzip(${_linux}/kronex-atu.1 kronex-atu.1.gz)
  install(FILES ${_out}/kronex-atu.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# The command-line programs' pages come from their --help.
find_program(KRONEX_HELP2MAN help2man)
foreach(pair "kronex-devsim:simulated KRONEX unit in update mode"
             "kronex-update:install the firmware release into KRONEX units from the command line")
  string(FIND "${pair}" ":" _colon)
  string(SUBSTRING "${pair}" 0 ${_colon} _program)
  math(EXPR _colon "${_colon} + 1")
  string(SUBSTRING "${pair}" ${_colon} -1 _what)
  if(NOT TARGET ${_program})
    continue()
  elseif(NOT KRONEX_HELP2MAN)
    message(STATUS "help2man not found: no manual page for ${_program} (scripts/package.sh installs it)")
    continue()
  endif()
  add_custom_command(OUTPUT ${_out}/${_program}.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}
    COMMAND ${KRONEX_HELP2MAN} --no-info --version-string=${PROJECT_VERSION} --name ${_what}
            --section 1 --output ${_out}/${_program}.1 $<TARGET_FILE:${_program}>
    DEPENDS ${_program} VERBATIM)
  _kronex_gzip(${_out}/${_program}.1 ${_program}.1.gz)
  install(FILES ${_out}/${_program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(kronex-debian-docs ALL DEPENDS ${_gzipped})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kronex-atu)
# The firmware release is part of the version, so that apt upgrades from one
# release's package to the next: 1.0.0+r25, then 1.0.0+r26.
set(CPACK_PACKAGE_VERSION ${KRONEX_DEBIAN_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${KRONEX_DEBIAN_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for KRONEX automotive service units")
set(CPACK_PACKAGE_DESCRIPTION
    "Installs the firmware release compiled into the program into a KRONEX unit\n\
in update mode over a serial port (COM1 to COM16, mapped to Linux devices\n\
through a per-user device namespace). The interface is in Portuguese. Also\n\
contains kronex-update, the same update from the command line, and\n\
kronex-devsim, a simulated unit on a pseudo-terminal for trying an update\n\
without hardware.")
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
