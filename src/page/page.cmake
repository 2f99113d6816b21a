# The Explorer page: its markup fragments, style sheets and scripts are real
# files here; at build time embed.cmake turns them into one generated C++
# source of byte arrays, rebuilt whenever any of them changes.
set(PAGE_DIR ${CMAKE_SOURCE_DIR}/src/page)
# Each fragment becomes one piece of fixed bytes; {{name}} markers in it are
# replaced by the named style sheet or script. The explorer script is one
# file per concern, listed in script.html in the order they are joined: a new
# file is one more marker line there.
set(PAGE_FRAGMENTS head.html back_link.html body.html script.html)
set(PAGE_GENERATED ${CMAKE_BINARY_DIR}/generated/page_bytes.cpp)

# The browser libraries, loaded by the page when first needed: each
# src/page/assets/<name>.js is bundled into the binary, and the page learns
# their served names from asset_manifest.js (a marker like any other).
include(${CMAKE_SOURCE_DIR}/cmake/browser_assets.cmake)
set(ASSET_OUTPUT_DIR ${CMAKE_BINARY_DIR}/generated/assets)
bundle_browser_assets(plugin_core ${PAGE_DIR}/assets ${ASSET_OUTPUT_DIR})

# The files the markers name are found by reading the fragments, so the
# fragments are inputs of the configure step too. A name that is not in
# src/page/ is a generated file.
set(PAGE_INPUTS)
foreach(fragment IN LISTS PAGE_FRAGMENTS)
  list(APPEND PAGE_INPUTS ${PAGE_DIR}/${fragment})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PAGE_DIR}/${fragment})
  file(READ ${PAGE_DIR}/${fragment} fragment_text)
  string(REGEX MATCHALL "{{[^}]+}}" markers "${fragment_text}")
  foreach(marker IN LISTS markers)
    string(REGEX REPLACE "^{{(.+)}}$" "\\1" included "${marker}")
    if(EXISTS ${PAGE_DIR}/${included})
      list(APPEND PAGE_INPUTS ${PAGE_DIR}/${included})
    else()
      list(APPEND PAGE_INPUTS ${ASSET_OUTPUT_DIR}/${included})
    endif()
  endforeach()
endforeach()

add_custom_command(
  OUTPUT ${PAGE_GENERATED}
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${PAGE_DIR} -DGENERATED_DIR=${ASSET_OUTPUT_DIR} "-DPAGE_FRAGMENTS=${PAGE_FRAGMENTS}"
          -DOUTPUT=${PAGE_GENERATED} -P ${PAGE_DIR}/embed.cmake
  DEPENDS ${PAGE_INPUTS} ${PAGE_DIR}/embed.cmake
  COMMENT "Embedding the Explorer page"
  VERBATIM)

target_sources(plugin_core PRIVATE ${PAGE_GENERATED} ${PAGE_DIR}/page_writer.cpp)
