# Temporary: the Explorer page is not built yet.
target_sources(plugin_core PRIVATE ${CMAKE_SOURCE_DIR}/src/page/page_writer.cpp)
