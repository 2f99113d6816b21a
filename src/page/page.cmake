# The Explorer page: its markup fragments, style sheets and scripts are real
# files here; at build time embed.cmake turns them into one generated C++
# source of byte arrays, rebuilt whenever any of them changes.
set(PAGE_DIR ${CMAKE_SOURCE_DIR}/src/page)
# Each fragment becomes one piece of fixed bytes; {{name}} markers in it are
# replaced by the named style sheet or script.
set(PAGE_FRAGMENTS head.html back_link.html body.html script.html)
set(PAGE_INCLUDES theme_boot.js theme.css page.css theme_bridge.js explorer.js)
set(PAGE_GENERATED ${CMAKE_BINARY_DIR}/generated/page_bytes.cpp)

set(PAGE_INPUTS)
foreach(name IN LISTS PAGE_FRAGMENTS PAGE_INCLUDES)
  list(APPEND PAGE_INPUTS ${PAGE_DIR}/${name})
endforeach()

add_custom_command(
  OUTPUT ${PAGE_GENERATED}
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${PAGE_DIR} "-DPAGE_FRAGMENTS=${PAGE_FRAGMENTS}"
          -DOUTPUT=${PAGE_GENERATED} -P ${PAGE_DIR}/embed.cmake
  DEPENDS ${PAGE_INPUTS} ${PAGE_DIR}/embed.cmake
  COMMENT "Embedding the Explorer page"
  VERBATIM)

target_sources(plugin_core PRIVATE ${PAGE_GENERATED} ${PAGE_DIR}/page_writer.cpp)
