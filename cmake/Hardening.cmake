# Builds that look for faults rather than ship: sanitizers for the whole
# build, and libFuzzer targets for the parsers that read outside bytes.

# A list for -fsanitize=, such as "address,undefined". Every finding ends
# the program, so that a test that runs into one fails instead of logging
# and going on.
set(PELKO_SANITIZE "" CACHE STRING
    "Sanitizers to build everything with (for -fsanitize=, e.g. address,undefined)")
if(PELKO_SANITIZE)
  set(_pelko_sanitize_flags
      -fsanitize=${PELKO_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_pelko_sanitize_flags})
  add_link_options(${_pelko_sanitize_flags})
  message(STATUS "Sanitizers: ${PELKO_SANITIZE}")
endif()

# libFuzzer targets in fuzz/. They need clang, and the libraries they link
# carry the fuzzer's coverage instrumentation and the sanitizers that check
# the properties the targets assert.
option(PELKO_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
if(PELKO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PELKO_FUZZ needs clang: configure a fresh folder with "
                        "-DCMAKE_CXX_COMPILER=clang++ (scripts/fuzz.sh does)")
  endif()
  if(PELKO_SANITIZE)
    message(FATAL_ERROR "PELKO_FUZZ brings its own sanitizers; leave PELKO_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
