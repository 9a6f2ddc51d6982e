# Puts the HLS player library into the web root: the TV page plays its HLS
# channel through hls.js, since the browser engine has no HLS player of its
# own but does have Media Source Extensions.
#
#   cmake -DVERSION=1.6.19 -DINTEGRITY=sha512-... -DNPM=/usr/bin/npm
#         -DDOWNLOADS=<folder for the package file> -DDEST=<web root>/tv/lib
#         -P fetch_hls_js.cmake
#
# The package file is kept in DOWNLOADS, so that a rebuild, or a build after
# the web root was wiped, needs no network. Whether it was just downloaded or
# kept from before, it is checked against the pinned integrity string (the
# registry's "dist.integrity") before anything is taken out of it.

foreach(var VERSION INTEGRITY DOWNLOADS DEST)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "fetch_hls_js.cmake: ${var} is not set")
  endif()
endforeach()

# npm writes integrity strings as "sha512-" and the base64 of the digest;
# CMake gives the digest in hex. Three bytes of hex make four base64 digits.
function(hex_to_base64 hex out)
  set(digits "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" hex_length)
  math(EXPR byte_count "${hex_length} / 2")
  math(EXPR leftover "${byte_count} % 3")
  set(padding "")
  if(leftover EQUAL 1)
    string(APPEND hex "0000")
    set(padding "==")
  elseif(leftover EQUAL 2)
    string(APPEND hex "00")
    set(padding "=")
  endif()
  string(LENGTH "${hex}" hex_length)
  set(text "")
  set(offset 0)
  while(offset LESS hex_length)
    string(SUBSTRING "${hex}" ${offset} 6 group)
    math(EXPR value "0x${group}")
    foreach(shift 18 12 6 0)
      math(EXPR index "(${value} >> ${shift}) & 63")
      string(SUBSTRING "${digits}" ${index} 1 digit)
      string(APPEND text "${digit}")
    endforeach()
    math(EXPR offset "${offset} + 6")
  endwhile()
  # The zero bytes added above only ever make whole zero digits at the end,
  # and those are what the padding stands for.
  string(LENGTH "${padding}" padding_length)
  string(LENGTH "${text}" text_length)
  math(EXPR keep "${text_length} - ${padding_length}")
  string(SUBSTRING "${text}" 0 ${keep} text)
  set(${out} "${text}${padding}" PARENT_SCOPE)
endfunction()

function(integrity_of file out)
  file(SHA512 "${file}" hex)
  hex_to_base64("${hex}" base64)
  set(${out} "sha512-${base64}" PARENT_SCOPE)
endfunction()

if(NOT INTEGRITY MATCHES "^sha512-")
  message(FATAL_ERROR "hls.js: the pinned integrity string must be a sha512 one, not ${INTEGRITY}")
endif()

set(tarball "${DOWNLOADS}/hls.js-${VERSION}.tgz")
if(NOT EXISTS "${tarball}")
  if(NOT NPM)
    message(FATAL_ERROR "hls.js ${VERSION} is not in ${DOWNLOADS} and npm is missing: "
                        "install it with scripts/deps.sh")
  endif()
  # Packed into a folder of its own first, so that an interrupted download
  # never leaves a file under the name that a rebuild would reuse.
  set(incoming "${DOWNLOADS}/incoming")
  file(REMOVE_RECURSE "${incoming}")
  file(MAKE_DIRECTORY "${incoming}")
  message(STATUS "Downloading hls.js ${VERSION} with npm")
  execute_process(
    COMMAND "${NPM}" pack "hls.js@${VERSION}" --pack-destination "${incoming}"
            --ignore-scripts --silent
    WORKING_DIRECTORY "${incoming}"
    RESULT_VARIABLE npm_result
    OUTPUT_QUIET)
  if(NOT npm_result EQUAL 0 OR NOT EXISTS "${incoming}/hls.js-${VERSION}.tgz")
    file(REMOVE_RECURSE "${incoming}")
    message(FATAL_ERROR "npm could not download hls.js ${VERSION} (${npm_result}); "
                        "the registry must be reachable for the first build")
  endif()
  file(RENAME "${incoming}/hls.js-${VERSION}.tgz" "${tarball}")
  file(REMOVE_RECURSE "${incoming}")
endif()

integrity_of("${tarball}" actual)
if(NOT actual STREQUAL INTEGRITY)
  # Removed, so that the next build downloads it again rather than failing
  # on the same bad copy for ever; a registry that keeps sending other bytes
  # keeps failing here.
  file(REMOVE "${tarball}")
  message(FATAL_ERROR "hls.js ${VERSION}: the package does not match its pinned integrity\n"
                      "  expected ${INTEGRITY}\n"
                      "  got      ${actual}\n"
                      "It has been removed. If a new version was pinned, pin its integrity "
                      "string from the registry as well.")
endif()

set(unpacked "${DOWNLOADS}/hls.js-${VERSION}")
file(REMOVE_RECURSE "${unpacked}")
file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${unpacked}"
     PATTERNS package/dist/hls.min.js package/LICENSE)
foreach(member package/dist/hls.min.js package/LICENSE)
  if(NOT EXISTS "${unpacked}/${member}")
    message(FATAL_ERROR "hls.js ${VERSION}: ${member} is not in the package")
  endif()
endforeach()

# Copied under a temporary name and renamed, so that the page never loads
# half a library. The package's files carry the registry's fixed date from
# 1985; touching them keeps the build from thinking they are always stale.
file(MAKE_DIRECTORY "${DEST}")
foreach(pair "dist/hls.min.js|hls.min.js" "LICENSE|hls.js-LICENSE.txt")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  file(COPY_FILE "${unpacked}/package/${from}" "${DEST}/${to}.part")
  file(TOUCH "${DEST}/${to}.part")
  file(RENAME "${DEST}/${to}.part" "${DEST}/${to}")
endforeach()
file(REMOVE_RECURSE "${unpacked}")
