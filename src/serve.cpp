#include "serve.h"

#include <cstring>

#include "actions.h"
#include "budget.h"
#include "json_out.h"
#include "page/page.h"
#include "request.h"

static void run_page(const request_fields &fields) { write_page(fields.embed); }
static void run_dbs(const request_fields &) { action_dbs(); }
static void run_schema(const request_fields &fields) { action_schema(fields.db); }
static void run_info(const request_fields &) { action_info(); }
static void run_asset(const request_fields &fields) { action_asset(fields.name); }

// format=csv and format=jsonl ask for the lines of a downloaded file.
static row_shape rows_asked(const request_fields &fields) {
  if (std::strcmp(fields.format, "csv") == 0) return row_shape::csv_lines;
  if (std::strcmp(fields.format, "jsonl") == 0) return row_shape::json_lines;
  return row_shape::arrays;
}

// A statement that lost its end could still parse and then run as another
// statement, so it is refused before any database is opened.
static void run_query(const request_fields &fields) {
  if (const char *detail = incomplete_statement_detail(fields.sql_state)) {
    json_error("sql_error", detail);
    return;
  }
  action_query(fields.db, fields.sql, fields.exact ? value_form::exact : value_form::plain,
               rows_asked(fields));
}

struct action_row {
  const char *name;
  void (*run)(const request_fields &);
};

// The one dispatch point: an empty action is the Explorer page.
static const action_row ACTIONS[] = {
    {"", run_page},       {"dbs", run_dbs},   {"schema", run_schema},
    {"query", run_query}, {"info", run_info},   {"asset", run_asset},
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

void serve_request(long long start_ms) {
  budget_begin(start_ms);
  check_node_password();
  static request_fields fields;  // 17 KB: kept off the stack
  read_request_fields(&fields);
  if (fields.action[0] == '\0' && wants_json(fields)) copy_str(fields.action, ACTION_CAP, "dbs");
  dispatch(fields);
}
