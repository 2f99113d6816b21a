# Fetches and verifies the SQLite amalgamation for cmake/sqlite.cmake, which
# sets the pins this file reads: SQLITE_NPM_PACKAGE, SQLITE_NPM_INTEGRITY,
# SQLITE_C_SHA256, SQLITE_H_SHA256 and SQLITE_SOURCE_DIR.

set(_BASE64_ALPHABET "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")

# Sets `out` to the standard base64 text (with "=" padding) of the bytes
# written as hex in `hex`: the form of an npm integrity value.
function(hex_to_base64 hex out)
  string(LENGTH "${hex}" hex_len)
  math(EXPR last "${hex_len} - 1")
  set(text "")
  # Each group of up to three bytes (six hex digits) gives four characters,
  # of which a short last group keeps one more than its bytes, then "=".
  foreach(pos RANGE 0 ${last} 6)
    string(SUBSTRING "${hex}" ${pos} 6 chunk)
    string(LENGTH "${chunk}" chunk_len)
    math(EXPR bytes "${chunk_len} / 2")
    string(SUBSTRING "${chunk}0000" 0 6 padded)
    math(EXPR group "0x${padded}")
    set(chars "")
    foreach(shift 18 12 6 0)
      math(EXPR index "(${group} >> ${shift}) & 63")
      string(SUBSTRING "${_BASE64_ALPHABET}" ${index} 1 c)
      string(APPEND chars "${c}")
    endforeach()
    math(EXPR keep "${bytes} + 1")
    math(EXPR missing "3 - ${bytes}")
    string(SUBSTRING "${chars}" 0 ${keep} chars)
    string(REPEAT "=" ${missing} padding)
    string(APPEND text "${chars}${padding}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# True in `out` when `file` exists and its sha256 is `expected`.
function(file_has_sha256 file expected out)
  set(${out} FALSE PARENT_SCOPE)
  if(EXISTS "${file}")
    file(SHA256 "${file}" actual)
    if(actual STREQUAL expected)
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Checks `tarball` against SQLITE_NPM_INTEGRITY, extracts it into `work`,
# checks sqlite3.c and sqlite3.h against SQLITE_C_SHA256 and
# SQLITE_H_SHA256, and copies them into SQLITE_SOURCE_DIR. Sets `error` to
# "" on success, else to the reason, with nothing copied.
function(take_sqlite_from_tarball tarball work error)
  file(SHA512 "${tarball}" tarball_hex)
  hex_to_base64("${tarball_hex}" tarball_base64)
  if(NOT "sha512-${tarball_base64}" STREQUAL SQLITE_NPM_INTEGRITY)
    set(${error} "the tarball's sha512-${tarball_base64} is not the pinned ${SQLITE_NPM_INTEGRITY}" PARENT_SCOPE)
    return()
  endif()

  # Whole: extracting by name would stop with the tar tool's own message
  # when a file is missing. Nothing but the two checked files is used.
  file(REMOVE_RECURSE "${work}")
  file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${work}")
  set(extracted "${work}/package/deps/sqlite3")
  foreach(name_and_pin "sqlite3.c;${SQLITE_C_SHA256}" "sqlite3.h;${SQLITE_H_SHA256}")
    list(GET name_and_pin 0 name)
    list(GET name_and_pin 1 pin)
    file_has_sha256("${extracted}/${name}" "${pin}" matches)
    if(NOT matches)
      set(${error} "${name} is missing or its sha256 is not the pinned ${pin}" PARENT_SCOPE)
      return()
    endif()
  endforeach()

  file(MAKE_DIRECTORY "${SQLITE_SOURCE_DIR}")
  file(COPY "${extracted}/sqlite3.c" "${extracted}/sqlite3.h" DESTINATION "${SQLITE_SOURCE_DIR}")
  # The tarball's file times are of 1985: a refetched source must still be
  # newer than the objects built from the one it replaces.
  file(TOUCH "${SQLITE_SOURCE_DIR}/sqlite3.c" "${SQLITE_SOURCE_DIR}/sqlite3.h")
  set(${error} "" PARENT_SCOPE)
endfunction()

# Makes sure SQLITE_SOURCE_DIR holds the verified sqlite3.c and sqlite3.h,
# fetching them when they are missing or do not match their pins. Any
# failed check stops the configure with the reason.
function(fetch_sqlite_amalgamation)
  file_has_sha256("${SQLITE_SOURCE_DIR}/sqlite3.c" "${SQLITE_C_SHA256}" c_ok)
  file_has_sha256("${SQLITE_SOURCE_DIR}/sqlite3.h" "${SQLITE_H_SHA256}" h_ok)
  if(c_ok AND h_ok)
    return()
  endif()

  find_program(NPM_EXECUTABLE npm)
  if(NOT NPM_EXECUTABLE)
    message(FATAL_ERROR "npm is needed once to fetch SQLite's source (scripts/install-deps.sh installs it)")
  endif()
  set(work "${CMAKE_BINARY_DIR}/sqlite-fetch")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  message(STATUS "Fetching SQLite's amalgamation from ${SQLITE_NPM_PACKAGE}")
  # npm pack downloads the tarball of a registry package and runs none of
  # its scripts; --ignore-scripts says so once more.
  execute_process(
    COMMAND "${NPM_EXECUTABLE}" pack "${SQLITE_NPM_PACKAGE}" --ignore-scripts --silent
            --pack-destination "${work}"
    WORKING_DIRECTORY "${work}"
    RESULT_VARIABLE npm_result
    OUTPUT_QUIET)
  file(GLOB tarballs "${work}/*.tgz")
  list(LENGTH tarballs tarball_count)
  if(NOT npm_result EQUAL 0 OR NOT tarball_count EQUAL 1)
    message(FATAL_ERROR "npm pack ${SQLITE_NPM_PACKAGE} failed (${npm_result})")
  endif()

  take_sqlite_from_tarball("${tarballs}" "${work}/x" error)
  if(error)
    message(FATAL_ERROR "${SQLITE_NPM_PACKAGE}: ${error}")
  endif()
  file(REMOVE_RECURSE "${work}")
endfunction()
