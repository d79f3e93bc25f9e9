# What the packages say of the release built in: its date (entry 1), caption
# (entry 2) and number (entry 3), read from KRONEX_RELEASE_FILE when the
# build is configured. The build step checks the whole file; this only reads
# the three texts, as the program does (blank lines skipped, a carriage
# return at a line's end dropped). Sets:
#   KRONEX_RELEASE_DATE     "10/10/2012"
#   KRONEX_RELEASE_CAPTION  "Firmware versão 1.25"
#   KRONEX_RELEASE_NUMBER   25 (decimal, modulo 256, as the unit keeps it)
#   KRONEX_RELEASE_SLUG     "firmware-versao-1.25": the caption for file names
#                           (ASCII lower case, letters, digits, "." and "-")
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${KRONEX_RELEASE_FILE})
endif()
file(STRINGS ${KRONEX_RELEASE_FILE} _lines ENCODING UTF-8 REGEX "^0*[123]\t")
set(KRONEX_RELEASE_DATE "")
set(KRONEX_RELEASE_CAPTION "")
set(_number "")
foreach(_line IN LISTS _lines)
  string(REGEX REPLACE "\r$" "" _line "${_line}")
  string(REGEX MATCH "^0*([123])\t(.*)$" _ "${_line}")
  if(CMAKE_MATCH_1 STREQUAL "1")
    set(KRONEX_RELEASE_DATE "${CMAKE_MATCH_2}")
  elseif(CMAKE_MATCH_1 STREQUAL "2")
    set(KRONEX_RELEASE_CAPTION "${CMAKE_MATCH_2}")
  else()
    set(_number "${CMAKE_MATCH_2}")
  endif()
endforeach()
string(STRIP "${_number}" _number)
if(_number MATCHES "^[0-9]+$")
  math(EXPR KRONEX_RELEASE_NUMBER "${_number} % 256")
else()
  set(KRONEX_RELEASE_NUMBER 0) # the build step reports the entry
endif()

# The caption as a file name: Portuguese accents to their plain letters,
# anything else that is not a letter, a digit or "." to "-".
string(TOLOWER "${KRONEX_RELEASE_CAPTION}" _slug)
foreach(_pair "á:a" "à:a" "â:a" "ã:a" "ä:a" "é:e" "è:e" "ê:e" "ë:e" "í:i" "ì:i" "î:i" "ï:i"
              "ó:o" "ò:o" "ô:o" "õ:o" "ö:o" "ú:u" "ù:u" "û:u" "ü:u" "ç:c" "ñ:n"
              "Á:a" "À:a" "Â:a" "Ã:a" "É:e" "Ê:e" "Í:i" "Ó:o" "Ô:o" "Õ:o" "Ú:u" "Ç:c")
  string(REPLACE ":" ";" _pair "${_pair}")
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  string(REPLACE "${_from}" "${_to}" _slug "${_slug}")
endforeach()
string(REGEX REPLACE "[^a-z0-9.]+" "-" _slug "${_slug}")
string(REGEX REPLACE "^[-.]+|[-.]+$" "" _slug "${_slug}")
if(_slug STREQUAL "")
  set(_slug "release-${KRONEX_RELEASE_NUMBER}")
endif()
set(KRONEX_RELEASE_SLUG "${_slug}")
message(STATUS "Release built in: ${KRONEX_RELEASE_CAPTION} (number ${KRONEX_RELEASE_NUMBER}, "
               "${KRONEX_RELEASE_DATE}); in file names: ${KRONEX_RELEASE_SLUG}")
