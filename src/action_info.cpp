// The info action: the program's build, the SQLite library's version, the
// time, whether the node password is in force, and the fixed limits.
#include <sqlite3.h>

#include <cstdio>

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
  std::printf(",\"pid\":%ld", plat_pid());
  out_lit(",\"utc\":");
  json_utc(now);
  out_lit(",\"node_auth\":");
  json_bool(node_password() != nullptr);
  // The linked library's own answer: 0, as it is built for one thread.
  std::printf(
      ",\"readonly\":true,\"zero_network\":true,\"threadsafe\":%d,\"load_extension\":false,"
      "\"max_rows\":%d,\"budget_ms\":%d",
      sqlite3_threadsafe(), MAX_ROWS, BUDGET_MS);
  out_lit(
      ",\"allowed_roots\":[\"allowed\",\"workspace\",\"codebases\",\"home\"],"
      "\"actions\":[\"dbs\",\"schema\",\"query\",\"info\"]}\n");
}
