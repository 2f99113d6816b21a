// plugin_sqlite: a read-only SQLite viewer that a host runs once per HTTP
// request. The command line answers the host's discovery, version and usage
// questions; otherwise the request is gated, its fields are read, and
// exactly one action or the Explorer page writes the whole response.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions.h"
#include "json_out.h"
#include "page/page.h"
#include "platform/platform.h"
#include "request.h"
#include "version.h"

static void print_meta() { out_lit("{\"name\":\"sqlite\",\"desc\":\"SQLite viewer\"}\n"); }

static void print_version() {
  out_lit(PROGRAM_NAME);
  out_byte(' ');
  out_lit(PLUGIN_VERSION);
  out_lit(" (sqlite ");
  out_text(sqlite3_libversion());
  out_lit(")\n");
}

static void print_usage() {
  out_lit(
      "usage: plugin_sqlite [--meta|--version|--help]\n"
      "\n"
      "Run as a CGI-style executable. Modes:\n"
      "  --meta / QV_PLUGIN_META=1                discovery JSON\n"
      "  ?action=dbs                              list databases under the allowed roots\n"
      "  ?action=schema&db=<path>                 tables, columns, indexes, row counts\n"
      "  ?action=query&db=<path>&sql=<SELECT>     bounded read-only query (GET or POST sql=)\n"
      "  ?action=info                             plugin build and limits\n"
      "  GET (default)                            HTML explorer (honours ?embed=1)\n"
      "\n"
      "Read-only: the authorizer allows SELECT/READ/FUNCTION/read-only PRAGMA only and\n"
      "every database is opened with SQLITE_OPEN_READONLY. Rows are capped at 500.\n");
}

// Answers a command-line mode. Returns false when the process should serve
// a request instead: no argument, or one that names no mode.
static bool answer_mode(int argc, char **argv) {
  const char *arg = argc > 1 ? argv[1] : "";
  if (std::strcmp(arg, "--meta") == 0 || std::getenv("QV_PLUGIN_META") != nullptr) {
    print_meta();
  } else if (std::strcmp(arg, "--version") == 0) {
    print_version();
  } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
    print_usage();
  } else {
    return false;
  }
  return true;
}

static void run_page(const request_fields &fields) { write_page(fields.embed); }
static void run_dbs(const request_fields &) { action_dbs(); }
static void run_schema(const request_fields &fields) { action_schema(fields.db); }
static void run_query(const request_fields &fields) { action_query(fields.db, fields.sql); }
static void run_info(const request_fields &) { action_info(); }

struct action_row {
  const char *name;
  void (*run)(const request_fields &);
};

// The one dispatch point: an empty action is the Explorer page.
static const action_row ACTIONS[] = {
    {"", run_page},       {"dbs", run_dbs},   {"schema", run_schema},
    {"query", run_query}, {"info", run_info},
};

static void dispatch(const request_fields &fields) {
  for (const action_row &row : ACTIONS) {
    if (std::strcmp(fields.action, row.name) == 0) {
      row.run(fields);
      return;
    }
  }
  json_error("unknown_action", "supported actions: dbs, schema, query, info");
}

static void serve_request() {
  check_node_password();
  static request_fields fields;  // 17 KB: kept off the stack of main
  read_request_fields(&fields);
  if (fields.action[0] == '\0' && wants_json(fields)) copy_str(fields.action, ACTION_CAP, "dbs");
  dispatch(fields);
}

int main(int argc, char **argv) {
  plat_start();
  // Responses leave in large writes; the buffer lives until exit flushes it.
  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  if (!answer_mode(argc, argv)) serve_request();
  return 0;
}
