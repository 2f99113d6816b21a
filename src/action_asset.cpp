// The asset action: one of the browser libraries bundled into the program,
// found by its exact served name. The name carries the content's hash, so
// the answer never changes and may be cached for good.
#include <cstring>

#include "actions.h"
#include "json_out.h"
#include "page/asset_bytes.h"

void action_asset(const char *name) {
  for (std::size_t i = 0; i < ASSET_FILE_COUNT; ++i) {
    const asset_file &file = ASSET_FILES[i];
    if (std::strcmp(name, file.name) == 0) {
      script_header();
      out_bytes(reinterpret_cast<const char *>(file.bytes), file.size);
      return;
    }
  }
  json_error("unknown_asset", "no browser library has this name");
}
