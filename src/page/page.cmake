# The Explorer page: its markup fragments, style sheets and scripts are real
# files here; at build time embed.cmake turns them into one generated C++
# source of byte arrays, rebuilt whenever any of them changes.
set(PAGE_DIR ${CMAKE_SOURCE_DIR}/src/page)
set(GENERATED_PAGE_DIR ${CMAKE_BINARY_DIR}/generated/page)
# Each fragment becomes one piece of fixed bytes; {{name}} markers in it are
# replaced by the named style sheet or script. The explorer script is one
# file per concern, listed in script.html in the order they are joined: a new
# file is one more marker line there. That fragment is joined and minified by
# esbuild first (script.min.html in the generated folder).
# password.html is the node password page, a document of its own.
set(PAGE_FRAGMENTS head.html back_link.html body.html password.html)
set(PAGE_GENERATED ${CMAKE_BINARY_DIR}/generated/page_bytes.cpp)

# The browser libraries, loaded by the page when first needed: each
# src/page/assets/<name>.js is bundled into the binary, and the page learns
# their served names from asset_manifest.js (a marker like any other).
include(${CMAKE_SOURCE_DIR}/cmake/browser_assets.cmake)
bundle_browser_assets(plugin_core ${PAGE_DIR}/assets ${GENERATED_PAGE_DIR})

# The files a fragment's markers name, in `out`. The fragments are read
# here, so they are inputs of the configure step too. A name that is not in
# src/page/ is a generated file.
function(fragment_inputs fragment out)
  set(inputs ${PAGE_DIR}/${fragment})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PAGE_DIR}/${fragment})
  file(READ ${PAGE_DIR}/${fragment} fragment_text)
  string(REGEX MATCHALL "{{[^}]+}}" markers "${fragment_text}")
  foreach(marker IN LISTS markers)
    string(REGEX REPLACE "^{{(.+)}}$" "\\1" included "${marker}")
    if(EXISTS ${PAGE_DIR}/${included})
      list(APPEND inputs ${PAGE_DIR}/${included})
    else()
      list(APPEND inputs ${GENERATED_PAGE_DIR}/${included})
    endif()
  endforeach()
  set(${out} ${inputs} PARENT_SCOPE)
endfunction()

set(PAGE_INPUTS)
foreach(fragment IN LISTS PAGE_FRAGMENTS)
  fragment_inputs(${fragment} inputs)
  list(APPEND PAGE_INPUTS ${inputs})
endforeach()

fragment_inputs(script.html SCRIPT_INPUTS)
add_custom_command(
  OUTPUT ${GENERATED_PAGE_DIR}/script.min.html
  COMMAND ${NODE_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/minify_page_script.js ${CMAKE_SOURCE_DIR} ${PAGE_DIR}
          ${GENERATED_PAGE_DIR} script.html ${GENERATED_PAGE_DIR}/script.min.html
  DEPENDS ${SCRIPT_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/minify_page_script.js
  COMMENT "Joining and minifying the explorer script"
  VERBATIM)
list(APPEND PAGE_FRAGMENTS script.min.html)
list(APPEND PAGE_INPUTS ${GENERATED_PAGE_DIR}/script.min.html)

add_custom_command(
  OUTPUT ${PAGE_GENERATED}
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${PAGE_DIR} -DGENERATED_DIR=${GENERATED_PAGE_DIR} "-DPAGE_FRAGMENTS=${PAGE_FRAGMENTS}"
          -DOUTPUT=${PAGE_GENERATED} -P ${PAGE_DIR}/embed.cmake
  DEPENDS ${PAGE_INPUTS} ${PAGE_DIR}/embed.cmake
  COMMENT "Embedding the Explorer page"
  VERBATIM)

target_sources(plugin_core PRIVATE ${PAGE_GENERATED} ${PAGE_DIR}/page_writer.cpp)
