// The browser libraries the page loads when first needed, bundled at build
// time (cmake/browser_assets.cmake) and kept in the binary as fixed bytes.
#pragma once

#include <cstddef>

struct asset_file {
  const char *name;  // as served: "<name>-<content hash>.js"
  const unsigned char *bytes;
  std::size_t size;
};

/// Every bundled library, in name order.
extern const asset_file ASSET_FILES[];
extern const std::size_t ASSET_FILE_COUNT;
