# The checks that stand between the npm registry and the SQLite source the
# program is compiled from, run on small tarballs made here: the integrity
# value is computed as npm writes it, a tarball or a file that differs from
# its pin is refused with the reason, and only a tarball that passes every
# check lands in the source folder.
# Run: cmake -DWORK=<scratch folder> -P tests/sqlite_source_test.cmake
cmake_minimum_required(VERSION 3.18)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/fetch_sqlite.cmake)

set(failures "")

# Base64 as npm's integrity values write it (the RFC 4648 test vectors and
# both characters beyond letters and digits).
foreach(pair "66=Zg==" "666f=Zm8=" "666f6f=Zm9v" "666f6f62=Zm9vYg==" "666f6f6261=Zm9vYmE="
             "666f6f626172=Zm9vYmFy" "fbff00=+/8A")
  string(FIND "${pair}" "=" at)
  string(SUBSTRING "${pair}" 0 ${at} hex)
  math(EXPR at "${at} + 1")
  string(SUBSTRING "${pair}" ${at} -1 expected)
  hex_to_base64("${hex}" actual)
  if(NOT actual STREQUAL expected)
    list(APPEND failures "base64 of ${hex}: ${actual}, not ${expected}")
  endif()
endforeach()

# A package folder with the two files, packed as `name`.tgz.
function(make_tarball name with_header)
  set(dir "${WORK}/${name}")
  file(REMOVE_RECURSE "${dir}")
  file(WRITE "${dir}/package/deps/sqlite3/sqlite3.c" "int sqlite3_stand_in;\n")
  if(with_header)
    file(WRITE "${dir}/package/deps/sqlite3/sqlite3.h" "extern int sqlite3_stand_in;\n")
  endif()
  file(WRITE "${dir}/package/package.json" "{}\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar czf "${WORK}/${name}.tgz" package
                  WORKING_DIRECTORY "${dir}")
endfunction()

file(REMOVE_RECURSE "${WORK}")
make_tarball(good TRUE)
make_tarball(headless FALSE)
file(SHA512 "${WORK}/good.tgz" good_hex)
hex_to_base64("${good_hex}" good_base64)
file(SHA256 "${WORK}/good/package/deps/sqlite3/sqlite3.c" c_pin)
file(SHA256 "${WORK}/good/package/deps/sqlite3/sqlite3.h" h_pin)
file(SHA512 "${WORK}/headless.tgz" headless_hex)
hex_to_base64("${headless_hex}" headless_base64)
string(REPLACE "a" "b" other_pin "${c_pin}")

# tarball, integrity pin, sqlite3.c pin, text the refusal names ("" = taken)
set(cases
    "good|sha512-${good_base64}|${c_pin}|"
    "good|sha512-${headless_base64}|${c_pin}|the tarball's sha512-"
    "good|sha512-${good_base64}|${other_pin}|sqlite3.c is missing or its sha256"
    "headless|sha512-${headless_base64}|${c_pin}|sqlite3.h is missing or its sha256")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 tarball)
  list(GET fields 1 SQLITE_NPM_INTEGRITY)
  list(GET fields 2 SQLITE_C_SHA256)
  list(LENGTH fields n)
  set(refusal "")
  if(n GREATER 3)
    list(GET fields 3 refusal)
  endif()
  set(SQLITE_H_SHA256 "${h_pin}")
  set(SQLITE_SOURCE_DIR "${WORK}/source")
  file(REMOVE_RECURSE "${SQLITE_SOURCE_DIR}")
  take_sqlite_from_tarball("${WORK}/${tarball}.tgz" "${WORK}/x" error)
  file_has_sha256("${SQLITE_SOURCE_DIR}/sqlite3.c" "${c_pin}" c_taken)
  file_has_sha256("${SQLITE_SOURCE_DIR}/sqlite3.h" "${h_pin}" h_taken)
  if(refusal STREQUAL "")
    if(NOT error STREQUAL "" OR NOT c_taken OR NOT h_taken)
      list(APPEND failures "${tarball}: not taken (${error})")
    endif()
  else()
    string(FIND "${error}" "${refusal}" found)
    if(found EQUAL -1 OR EXISTS "${SQLITE_SOURCE_DIR}/sqlite3.c")
      list(APPEND failures "${tarball}: '${error}' instead of a refusal naming '${refusal}'")
    endif()
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
