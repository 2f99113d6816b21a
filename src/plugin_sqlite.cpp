// plugin_sqlite: a read-only SQLite viewer that a host runs once per HTTP
// request. The command line answers the host's discovery, version and usage
// questions; otherwise the request is gated, its fields are read, and
// exactly one action or the Explorer page writes the whole response.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json_out.h"
#include "platform/platform.h"
#include "serve.h"
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
  if (std::strcmp(arg, "--meta") == 0 || plat_getenv("QV_PLUGIN_META") != nullptr) {
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

int main(int argc, char **argv) {
  // The request's budget counts from here.
  const long long start_ms = plat_ticks_ms();
  plat_start();
  // Responses leave in large writes; the buffer lives until the end.
  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  if (!answer_mode(argc, argv)) serve_request(start_ms);
  plat_out_flush();
  return 0;
}
