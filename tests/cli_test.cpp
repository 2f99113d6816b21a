// The executable's command-line modes and the request front end, seen from
// outside: exact bytes on standard output, nothing on standard error, exit
// status 0 on every path.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string META = "{\"name\":\"sqlite\",\"desc\":\"SQLite viewer\"}\n";
const std::string UNKNOWN = JSON_HEAD +
                            "{\"ok\":false,\"error\":\"unknown_action\",\"detail\":\"supported "
                            "actions: dbs, schema, query, info\"}\n";
const std::string REFUSAL =
    "Status: 401 Unauthorized\r\n"
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n"
    "{\"ok\":false,\"error\":\"invalid node password\"}\n";
const std::string HTML_HEAD =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

// Runs the plug-in and checks the discipline every run keeps.
std::string run_ok(const std::vector<std::string> &env, const std::vector<std::string> &args = {}) {
  const run_result r = run_plugin(env, args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

std::string usage_text() {
  return "usage: plugin_sqlite [--meta|--version|--help]\n"
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
         "every database is opened with SQLITE_OPEN_READONLY. Rows are capped at 500.\n";
}

TEST(Modes, SwitchesAndPrecedence) {
  const std::string version =
      std::string("plugin_sqlite 1.0.2 (sqlite ") + sqlite3_libversion() + ")\n";
  const std::string page = run_ok({});
  ASSERT_EQ(page.compare(0, HTML_HEAD.size(), HTML_HEAD), 0);
  const struct {
    std::vector<std::string> env;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, {"--meta"}, META},
      {{"QV_PLUGIN_META="}, {}, META},
      {{"QV_PLUGIN_META=0"}, {"--version"}, META},
      {{"QV_PLUGIN_META=1"}, {"--help"}, META},
      {{}, {"--version"}, version},
      {{}, {"--version", "--help"}, version},
      {{}, {"--help"}, usage_text()},
      {{}, {"-h"}, usage_text()},
      {{"ZINDO_PASSWORD=secret"}, {"--version"}, version},  // modes need no credentials
      {{"ZINDO_PASSWORD=secret"}, {"--meta"}, META},
      // Anything else serves a request.
      {{}, {"--meta=1"}, page},
      {{}, {"--META"}, page},
      {{}, {"-help"}, page},
      {{}, {"--HELP"}, page},
      {{}, {"help"}, page},
      {{"QUERY_STRING=action=nope"}, {"--unknown"}, UNKNOWN},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run_ok(c.env, c.args), c.out) << (c.args.empty() ? "(no args)" : c.args[0]);
  }
  EXPECT_EQ(usage_text().size(), 692u);
}

TEST(Dispatch, ExactCaseSensitiveNamesAfterDecoding) {
  for (const char *q : {"action=DBS", "action=dbs+", "action=dbs%20", "action=Info", "action=x"})
    EXPECT_EQ(run_ok({std::string("QUERY_STRING=") + q}), UNKNOWN) << q;
  // A decoded name runs the same action as the plain one.
  EXPECT_EQ(run_ok({"QUERY_STRING=action=%64bs"}), run_ok({"QUERY_STRING=action=dbs"}));
}

TEST(Dispatch, FormatJsonWithoutActionListsDatabases) {
  const std::string dbs = run_ok({"QUERY_STRING=action=dbs"});
  EXPECT_EQ(run_ok({"QUERY_STRING=format=json"}), dbs);
  EXPECT_EQ(run_ok({"QUERY_STRING=action=&format=JSONP"}), dbs);
  // An action of its own wins over the format.
  EXPECT_EQ(run_ok({"QUERY_STRING=format=json&action=zzz"}), UNKNOWN);
  // Without a JSON format an empty action is the page.
  for (const char *q : {"QUERY_STRING=", "QUERY_STRING=action=", "QUERY_STRING=format=xjson"})
    EXPECT_EQ(run_ok({q}).compare(0, HTML_HEAD.size(), HTML_HEAD), 0) << q;
}

TEST(Gate, CredentialRoutes) {
  const std::string pw = "ZINDO_PASSWORD=s3 cr&t";
  const struct {
    std::vector<std::string> env;
    bool admitted;
  } cases[] = {
      {{"ZINDO_PASSWORD="}, true},
      {{}, true},
      {{pw}, false},
      {{pw, "HTTP_X_ZINDO_PASSWORD=s3 cr&t", "HTTP_AUTHORIZATION=Bearer wrong"}, true},
      {{pw, "HTTP_X_ZINDO_PASSWORD=S3 CR&T"}, false},  // case matters
      {{pw, "HTTP_X_ZINDO_PASSWORD=s3 cr&t "}, false},
      {{pw, "HTTP_X_ZINDO_PASSWORD=wrong", "QUERY_STRING=action=x&pwd=s3+cr%26t"}, true},
      {{pw, "QUERY_STRING=action=x&pwd=s3%20cr%26t"}, true},
      {{pw, "QUERY_STRING=action=x&pwd=s3 cr&t"}, false},  // the raw "&" ends the field
      {{pw, "QUERY_STRING=action=x&pwd="}, false},
      {{pw, "HTTP_AUTHORIZATION=bearer  s3 cr&t"}, true},
      {{pw, "HTTP_AUTHORIZATION=   Bearer s3 cr&t"}, true},
      {{pw, "HTTP_AUTHORIZATION=Bearer s3 cr&t "}, false},  // a trailing blank counts
      {{pw, "HTTP_AUTHORIZATION=Bearer\ts3 cr&t"}, false},  // a tab is not skipped
      {{pw, "HTTP_AUTHORIZATION=Bearer"}, false},
      {{pw, "HTTP_AUTHORIZATION=Basic s3 cr&t", "QUERY_STRING=action=x&pwd=s3+cr%26t"}, true},
      {{pw, "HTTP_AUTHORIZATION=Basic s3 cr&t"}, false},
  };
  for (const auto &c : cases) {
    std::vector<std::string> env = c.env;
    bool has_query = false;
    for (const auto &e : env) has_query |= e.rfind("QUERY_STRING=", 0) == 0;
    if (!has_query) env.push_back("QUERY_STRING=action=x");
    EXPECT_EQ(run_ok(env), c.admitted ? UNKNOWN : REFUSAL) << testing::PrintToString(c.env);
  }
  EXPECT_EQ(REFUSAL.size(), 178u);
}

TEST(Gate, RefusalComesBeforeThePage) {
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=p"}), REFUSAL);
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=p", "QUERY_STRING=embed=1"}), REFUSAL);
}

// A browser that opens the page without the password gets a page that asks
// for it; everything else keeps the JSON refusal byte for byte. The choice
// reads only the client's own words, so it never admits anything, and the
// page is the same fixed text whatever the request holds.
TEST(Gate, BrowserOpeningThePageGetsThePasswordPage) {
  const std::string pw = "ZINDO_PASSWORD=s3cret";
  const std::string html = "HTTP_ACCEPT=text/html,application/xhtml+xml,*/*;q=0.8";
  const std::string hostile = "<script>alert(1)</script>";
  const struct {
    std::vector<std::string> env;
    bool page;
  } cases[] = {
      {{pw, html, "QUERY_STRING="}, true},
      {{pw, html}, true},
      {{pw, "HTTP_ACCEPT=TEXT/HTML", "QUERY_STRING=embed=1&theme=dark"}, true},
      {{pw, html, "QUERY_STRING=pwd=wrong&node=" + hostile}, true},
      {{pw, html + hostile, "HTTP_X_ZINDO_PASSWORD=" + hostile, "HTTP_AUTHORIZATION=Bearer x"},
       true},
      {{pw, "QUERY_STRING="}, false},  // no Accept: a host that does not pass it on
      {{pw, "HTTP_ACCEPT=*/*"}, false},
      {{pw, "HTTP_ACCEPT=application/json"}, false},
      {{pw, "HTTP_ACCEPT=text/htm"}, false},
      {{pw, html, "QUERY_STRING=action=dbs"}, false},
      {{pw, html, "QUERY_STRING=action="}, false},
      {{pw, html, "QUERY_STRING=x=1&action=query&db=a.db"}, false},
      {{pw, html, "QUERY_STRING=format=JSON"}, false},
  };
  std::string first_page;
  for (const auto &c : cases) {
    const std::string out = run_ok(c.env);
    const std::string label = testing::PrintToString(c.env);
    if (!c.page) {
      EXPECT_EQ(out, REFUSAL) << label;
      continue;
    }
    const std::string head = "Status: 401 Unauthorized\r\n" + HTML_HEAD;
    ASSERT_EQ(out.compare(0, head.size(), head), 0) << label;
    EXPECT_NE(out.find("<label for='pwfield'>Node password</label>"), std::string::npos);
    EXPECT_NE(out.find("id='pwfield' type='password'"), std::string::npos);
    EXPECT_EQ(out.find("alert(1)"), std::string::npos) << label;
    EXPECT_EQ(out.find("s3cret"), std::string::npos) << label;
    if (first_page.empty()) first_page = out;
    EXPECT_EQ(out, first_page) << label;  // fixed text: nothing of the request in it
  }
}

// With the password, or without a gate, the Accept header changes nothing.
TEST(Gate, AdmittedRequestsIgnoreAccept) {
  const std::string html = "HTTP_ACCEPT=text/html";
  const std::string page = run_ok({"QUERY_STRING=embed=1"});
  ASSERT_EQ(page.compare(0, HTML_HEAD.size(), HTML_HEAD), 0);
  EXPECT_EQ(run_ok({html, "QUERY_STRING=embed=1"}), page);
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=p", "HTTP_X_ZINDO_PASSWORD=p", html, "QUERY_STRING=embed=1"}),
            page);
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=p", html, "QUERY_STRING=embed=1&pwd=p"}), page);
  EXPECT_EQ(
      run_ok({"ZINDO_PASSWORD=p", "HTTP_AUTHORIZATION=Bearer p", html, "QUERY_STRING=action=x"}),
      UNKNOWN);
}

TEST(Gate, PwdFieldIsCutAt255RawBytes) {
  const std::string password(255, 'k');
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=" + password, "QUERY_STRING=action=x&pwd=" + password}),
            UNKNOWN);
  // Encoded, the same password needs more than 255 raw bytes: refused there,
  // admitted through the header.
  std::string encoded;
  for (int i = 0; i < 100; ++i) encoded += "%6b";
  const std::string pw100(100, 'k');
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=" + pw100, "QUERY_STRING=action=x&pwd=" + encoded}), REFUSAL);
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=" + pw100, "QUERY_STRING=action=x",
                    "HTTP_X_ZINDO_PASSWORD=" + pw100}),
            UNKNOWN);
}

TEST(BadInput, AlwaysOneCompleteResponse) {
  scratch_dir dir;
  make_dirs(dir.at("adir"));
  write_file(dir.at("empty"), "");
  // A 100 MB body file that takes no disk: only its first bytes are read.
  write_file(dir.at("huge"), "");
  set_size(dir.at("huge"), 100 << 20);
  const std::string big_query = "action=x&junk=" + std::string(120000, '%') + "&sql=%zz%0";
  const std::vector<std::vector<std::string>> cases = {
      {"QUERY_STRING=" + big_query},
      {"QUERY_STRING=action=x&db=\xff\xfe%C3%28&sql=%00%", "HTTP_BODY_FILE=" + dir.at("missing")},
      {"QUERY_STRING=action=x", "HTTP_BODY_FILE=" + dir.at("adir")},
      {"QUERY_STRING=action=x", "HTTP_BODY_FILE=" + dir.at("empty")},
      {"QUERY_STRING=action=x", "HTTP_BODY_FILE=" + dir.at("huge")},
      {"QUERY_STRING=action=x", "HTTP_BODY_FILE="},
      {"ZINDO_PASSWORD=p", "QUERY_STRING=action=x&pwd=p",
       "HTTP_AUTHORIZATION=Bearer " + std::string(65536, 'a')},
  };
  for (const auto &env : cases) EXPECT_EQ(run_ok(env), UNKNOWN) << env[0].substr(0, 40);
  EXPECT_EQ(run_ok({"ZINDO_PASSWORD=p", "HTTP_AUTHORIZATION=Bearer " + std::string(65536, 'p')}),
            REFUSAL);
}

}  // namespace
