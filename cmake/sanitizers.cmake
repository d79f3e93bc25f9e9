# Instrumented builds for the reliability checks.
#   KRONEX_SANITIZE: AddressSanitizer and UndefinedBehaviorSanitizer on every
#                    target; any report ends the run.
#   KRONEX_FUZZ:     the same, plus libFuzzer coverage (clang only); builds
#                    the fuzz targets in tests/fuzz instead of the test suite.
option(KRONEX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KRONEX_FUZZ "Build the libFuzzer targets (clang)" OFF)

if(KRONEX_SANITIZE OR KRONEX_FUZZ)
  set(_kronex_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
  add_compile_options(${_kronex_sanitizers})
  add_link_options(${_kronex_sanitizers})
endif()
if(KRONEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KRONEX_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
