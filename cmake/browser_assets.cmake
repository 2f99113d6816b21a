# The Explorer's browser libraries: npm packages pinned by exact version in
# package.json and by registry integrity in package-lock.json, installed by
# `npm ci`, bundled at build time by esbuild (cmake/bundle_assets.js, which
# first checks the installed packages against the pins) and compiled into
# the program, which serves each as `action=asset`. Nothing is fetched at
# run time.

find_program(NODE_EXECUTABLE node REQUIRED)

# Bundles every entry point ENTRY_DIR/<name>.js (the modules it imports may
# live in folders below ENTRY_DIR, or come from node_modules) into one ES
# module OUTPUT_DIR/<name>-<content hash>.js, and adds to `target` the
# generated OUTPUT_DIR/asset_bytes.cpp that holds them. OUTPUT_DIR also gets
# asset_manifest.js, `var ASSETS = {<name>: "<name>-<hash>.js", ...};`, for
# the page to include.
function(bundle_browser_assets target ENTRY_DIR OUTPUT_DIR)
  set(installed ${CMAKE_SOURCE_DIR}/node_modules/.package-lock.json)
  if(NOT EXISTS ${installed})
    message(FATAL_ERROR "the page's npm packages are not installed: run `npm ci --no-audit --no-fund` in ${CMAKE_SOURCE_DIR}")
  endif()
  file(GLOB entries CONFIGURE_DEPENDS ${ENTRY_DIR}/*.js)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${ENTRY_DIR}/*)
  add_custom_command(
    OUTPUT ${OUTPUT_DIR}/asset_bytes.cpp ${OUTPUT_DIR}/asset_manifest.js
    COMMAND ${NODE_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/bundle_assets.js ${CMAKE_SOURCE_DIR} ${OUTPUT_DIR} ${entries}
    DEPENDS ${sources} ${CMAKE_SOURCE_DIR}/cmake/bundle_assets.js ${CMAKE_SOURCE_DIR}/package.json
            ${CMAKE_SOURCE_DIR}/package-lock.json ${installed}
    COMMENT "Checking the pinned npm packages and bundling the page's libraries"
    VERBATIM)
  target_sources(${target} PRIVATE ${OUTPUT_DIR}/asset_bytes.cpp)
endfunction()
