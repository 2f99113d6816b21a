// The info action: the program's build, the SQLite library's version, the
// time, whether the node password is in force, and the fixed limits.
#include <sqlite3.h>

#include "actions.h"
#include "db_guard.h"
#include "json_out.h"
#include "platform/platform.h"
#include "request.h"
#include "version.h"

void action_info() {
  const long long now = plat_time_now();
  json_header();
  out_lit("{\"ok\":true,\"action\":\"info\",\"plugin\":\"plugin_sqlite\",\"version\":");
  json_str(PLUGIN_VERSION);
  out_lit(",\"platform\":");
  json_str(plat_name());
  out_lit(",\"sqlite\":");
  json_str(sqlite3_libversion());
  out_lit(",\"pid\":");
  json_int(plat_pid());
  out_lit(",\"utc\":");
  json_utc(now);
  out_lit(",\"node_auth\":");
  json_bool(node_password() != nullptr);
  out_lit(",\"readonly\":true,\"zero_network\":true,\"threadsafe\":");
  // The linked library's own answer: 0, as it is built for one thread.
  json_int(sqlite3_threadsafe());
  out_lit(",\"load_extension\":false,\"max_rows\":");
  json_int(MAX_ROWS);
  out_lit(",\"budget_ms\":");
  json_int(BUDGET_MS);
  out_lit(
      ",\"allowed_roots\":[\"allowed\",\"workspace\",\"codebases\",\"home\"],"
      "\"actions\":[\"dbs\",\"schema\",\"query\",\"info\"]}\n");
}
