# SQLite, compiled into the program from its amalgamation (sqlite3.c and
# sqlite3.h), with the options this viewer needs. Include this file from a
# native or a cross build; it defines the static library target `sqlite3`.
#
# The amalgamation reaches us inside the npm package better-sqlite3, which
# ships SQLite's own two files (with one patch that only replaces two
# constant expressions by their values). At configure time the package is
# fetched with `npm pack`, which downloads the tarball and runs none of the
# package's scripts; the tarball is checked against the registry's sha512
# integrity value pinned here, the two files are taken out of it and checked
# against the sha256 values pinned here, and they are kept in the build
# tree, so a later configure that finds them intact fetches nothing.
# SQLite's source is never part of this repository.

set(SQLITE_VERSION_EXPECTED "3.53.2")
set(SQLITE_NPM_PACKAGE "better-sqlite3@12.11.1")
set(SQLITE_NPM_INTEGRITY
    "sha512-dq9AtApgg5PGFtBzPFSBl3HZQjHok5gaQCM6zh2Yk0aSmDCs1CbnVI8/HgASQkNKsWFpseIO9beg5xxpYhbIfA==")
set(SQLITE_C_SHA256 "60d2f39a3726cd6b9021da6f4e868608d66fbb6528a9f513dc8ffcc640493422")
set(SQLITE_H_SHA256 "9e69a1353a4288450b0d5239ede11fc7f1f4c8e5eb07491fc8317eacb5b7de7e")
set(SQLITE_SOURCE_DIR "${CMAKE_BINARY_DIR}/sqlite-${SQLITE_VERSION_EXPECTED}")

include(${CMAKE_CURRENT_LIST_DIR}/fetch_sqlite.cmake)
fetch_sqlite_amalgamation()

add_library(sqlite3 STATIC ${SQLITE_SOURCE_DIR}/sqlite3.c)
# The headers are SQLite's, not ours: no warnings of ours apply to them.
target_include_directories(sqlite3 SYSTEM PUBLIC ${SQLITE_SOURCE_DIR})
# Public, so that the code including sqlite3.h sees the same options the
# library was built with (a deprecated interface, for one, is not declared).
target_compile_definitions(
  sqlite3
  PUBLIC # One thread per process: no mutexes at all.
         SQLITE_THREADSAFE=0
         # Nothing is ever loaded at run time.
         SQLITE_OMIT_LOAD_EXTENSION
         # Temporary tables and sort spills stay in memory: the program
         # writes no file.
         SQLITE_TEMP_STORE=3
         SQLITE_OMIT_DEPRECATED
         SQLITE_OMIT_SHARED_CACHE
         # What users' databases are made with.
         SQLITE_ENABLE_FTS3
         SQLITE_ENABLE_FTS3_PARENTHESIS
         SQLITE_ENABLE_FTS4
         SQLITE_ENABLE_FTS5
         SQLITE_ENABLE_RTREE
         SQLITE_ENABLE_MATH_FUNCTIONS
         SQLITE_ENABLE_DBSTAT_VTAB
         # Which result columns come straight from a table: a long value
         # read from one is written, a long one computed is refused.
         SQLITE_ENABLE_COLUMN_METADATA)
# Not SQLITE_DEFAULT_MEMSTATUS=0: it turns the hard heap limit off. Not
# SQLITE_DQS=0: legacy views with double-quoted strings would stop
# reading. Nor any option that changes what a statement returns.
# One optimisation level in every build type; the sanitizers of the test
# build are for this project's code. -O3 made the library 17% larger and
# nothing faster. Each function and datum in its own section, so that the
# static link (--gc-sections) drops what the program never calls.
target_compile_options(sqlite3 PRIVATE -O2 -ffunction-sections -fdata-sections)
if(NOT WIN32)
  target_link_libraries(sqlite3 PUBLIC m)
endif()
