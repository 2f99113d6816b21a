// The request body as standard CGI servers hand it over (standard input
// with CONTENT_LENGTH), and the refusal of any statement that lost its end
// on the way in: a cut statement may still parse and would then answer for
// a statement nobody sent.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include "db_action_fixture.h"
#include "db_guard.h"
#include "platform/platform.h"
#include "request.h"

namespace {

const std::string MISSING_SQL = error_doc("missing_sql", "pass ?sql=SELECT ... or POST sql=...");
const std::string STATEMENT_CUT = error_doc("sql_error", "statement longer than 16383 bytes");
const std::string BODY_CUT = error_doc("sql_error", "request body longer than 17407 bytes");
const std::string BODY_SHORT =
    error_doc("sql_error", "request body shorter than its announced length");

class RequestBody : public ::testing::Test {
 protected:
  db_root root;
  std::string db = root.make("t.db", "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  std::string query_url = "action=query&db=" + uri_component(db);

  /// The answer to `sql` sent in the query string, time masked.
  std::string answer_to(const std::string &sql) const { return mask_ms(root.query(db, sql)); }

  /// Runs a query request whose URL has no statement, with `env` added and
  /// `input` on standard input; returns stdout with the time masked.
  std::string post(const std::vector<std::string> &env, const stdin_feed &input,
                   const std::string &url = "") const {
    std::vector<std::string> all = {"SQLITE_ALLOWED_ROOT=" + root.at(""),
                                    "QUERY_STRING=" + (url.empty() ? query_url : url)};
    all.insert(all.end(), env.begin(), env.end());
    // A body that could hang the program must not hang the test.
    const run_result r = run_plugin(all, {}, run_limits{15000, 0}, input);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    return mask_ms(r.out);
  }
};

stdin_feed bytes(const std::string &text) { return {stdin_feed::BYTES, text}; }

TEST_F(RequestBody, StandardInputCarriesTheBodyOnlyWithAPositiveDecimalLength) {
  const std::string form = "sql=SELECT+42+AS+answer";
  const std::string len = std::to_string(form.size());
  const std::string answer = answer_to("SELECT 42 AS answer");
  const struct {
    std::vector<std::string> env;
    stdin_feed input;
    std::string expected;
  } cases[] = {
      {{"CONTENT_LENGTH=" + len}, bytes(form), answer},
      {{"CONTENT_LENGTH=" + len},
       bytes(form + "&more=ignored"),
       answer},                                                       // only the announced bytes
      {{"CONTENT_LENGTH=0" + len}, bytes(form), answer},              // still decimal
      {{"CONTENT_LENGTH=19"}, bytes("SELECT 42 AS answer"), answer},  // raw body, no field
      {{}, bytes(form), MISSING_SQL},                                 // no length: stdin unread
      {{"CONTENT_LENGTH="}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=0"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=-23"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=+23"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH= 23"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=23 "}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=0x17"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=twenty"}, bytes(form), MISSING_SQL},
      {{"CONTENT_LENGTH=99999999999999999999999999"}, bytes(form), BODY_CUT},
      {{"CONTENT_LENGTH=17408"}, bytes(form), BODY_CUT},
      {{"CONTENT_LENGTH=" + std::to_string(form.size() + 1)}, bytes(form), BODY_SHORT},
      {{"CONTENT_LENGTH=" + len}, {stdin_feed::CLOSED, ""}, BODY_SHORT},
      {{"CONTENT_LENGTH=" + len}, {stdin_feed::DEV_NULL, ""}, BODY_SHORT},
      {{"CONTENT_LENGTH=" + len}, {stdin_feed::TERMINAL, ""}, BODY_SHORT},
  };
  for (const auto &c : cases)
    EXPECT_EQ(post(c.env, c.input), c.expected) << testing::PrintToString(c.env);
}

TEST_F(RequestBody, TheBodyFileKeepsPriorityAndAStatementInTheUrlWins) {
  const std::string file = root.at("body.txt");
  write_file(file, "sql=SELECT+7");
  const std::string from_stdin = "sql=SELECT+42";
  const std::vector<std::string> announced = {"CONTENT_LENGTH=" +
                                              std::to_string(from_stdin.size())};
  std::vector<std::string> with_file = announced;
  with_file.push_back("HTTP_BODY_FILE=" + file);
  EXPECT_EQ(post(with_file, bytes(from_stdin)), answer_to("SELECT 7"));
  // A host that names no file has no body; standard input is not its body.
  std::vector<std::string> empty_file = announced;
  empty_file.push_back("HTTP_BODY_FILE=");
  EXPECT_EQ(post(empty_file, bytes(from_stdin)), MISSING_SQL);
  EXPECT_EQ(post(announced, bytes(from_stdin), query_url + "&sql=SELECT+1"), answer_to("SELECT 1"));
}

TEST_F(RequestBody, ABodyThatStopsComingIsRefusedWithinTheWait) {
  const long long start = plat_ticks_ms();
  EXPECT_EQ(post({"CONTENT_LENGTH=100"}, {stdin_feed::BYTES_HELD_OPEN, "sql=SELECT+1"}),
            BODY_SHORT);
  const long long waited = plat_ticks_ms() - start;
  EXPECT_GE(waited, BUDGET_MS - 100);
  EXPECT_LE(waited, BUDGET_MS + 5000);  // the machine is shared and slow
}

// Behind a CGI server every request header becomes a variable: a client's
// "Body-File" header arrives as HTTP_BODY_FILE. Such a server sets
// GATEWAY_INTERFACE, and then only standard input is the body. Whoever
// names a body file, anything but a regular file reached without a link is
// no body, and says nothing about what lies at that name.
TEST_F(RequestBody, TheBodyFileIsTheHostsAndOnlyARegularFile) {
  const std::string file = root.at("body.txt");
  write_file(file, "sql=SELECT+7");
  make_dirs(root.at("folder"));
  const std::string from_stdin = "sql=SELECT+42";
  const std::string cgi = "GATEWAY_INTERFACE=CGI/1.1";
  const std::string announced = "CONTENT_LENGTH=" + std::to_string(from_stdin.size());
  const std::string seven = answer_to("SELECT 7");
  struct body_case {
    std::string name;
    std::vector<std::string> env;
    stdin_feed input;
    std::string expected;
  };
  std::vector<body_case> cases = {
      {"the host's file", {"HTTP_BODY_FILE=" + file}, {}, seven},
      {"CGI: standard input, not the file",
       {cgi, "HTTP_BODY_FILE=" + file, announced},
       bytes(from_stdin),
       answer_to("SELECT 42")},
      {"CGI: no body on standard input", {cgi, "HTTP_BODY_FILE=" + file}, {}, MISSING_SQL},
      {"a missing file", {"HTTP_BODY_FILE=" + root.at("missing.txt")}, {}, MISSING_SQL},
      {"a folder", {"HTTP_BODY_FILE=" + root.at("folder")}, {}, MISSING_SQL},
  };
#ifndef _WIN32
  ASSERT_EQ(mkfifo(root.at("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(make_symlink(file, root.at("link.txt")));
  ASSERT_TRUE(make_symlink(root.at(""), root.at("via")));
  const std::vector<body_case> posix_cases = {
      // Its own standard output: reading it waited for ever.
      {"/proc/self/fd/1", {"HTTP_BODY_FILE=/proc/self/fd/1"}, {}, MISSING_SQL},
      {"a FIFO nobody writes", {"HTTP_BODY_FILE=" + root.at("fifo")}, {}, MISSING_SQL},
      {"/dev/stdin", {"HTTP_BODY_FILE=/dev/stdin"}, bytes(from_stdin), MISSING_SQL},
      {"a link to the file", {"HTTP_BODY_FILE=" + root.at("link.txt")}, {}, MISSING_SQL},
      {"a link on the way", {"HTTP_BODY_FILE=" + root.at("via/body.txt")}, {}, MISSING_SQL},
      {"a device", {"HTTP_BODY_FILE=/dev/zero"}, {}, MISSING_SQL},
  };
  cases.insert(cases.end(), posix_cases.begin(), posix_cases.end());
#endif
  for (const body_case &c : cases) EXPECT_EQ(post(c.env, c.input), c.expected) << c.name;
}

// A NUL byte ends the statement's text early: what would run is not what
// was sent. Refused before the path is looked at, so nothing is opened.
TEST_F(RequestBody, AStatementWithANulByteIsNeverRun) {
  const std::string NUL_REFUSED = error_doc("sql_error", "statement contains a NUL byte");
  const std::string file = root.at("body.txt");
  const std::string url_sql = "sql=SELECT%2044%00%20UNION%20ALL%20SELECT%2045";
  EXPECT_EQ(root.run(query_url + "&" + url_sql), NUL_REFUSED);
  EXPECT_EQ(root.run("action=query&db=missing.db&" + url_sql), NUL_REFUSED);
  EXPECT_EQ(root.run(query_url + "&sql=%00SELECT+1"), NUL_REFUSED);
  const std::string raw = std::string("SELECT 44") + '\0' + " UNION ALL SELECT 45";
  for (const std::string &body : {url_sql, raw, "sql=SELECT+1&x=" + raw}) {
    write_file(file, body);
    EXPECT_EQ(post({"HTTP_BODY_FILE=" + file}, {}), NUL_REFUSED) << body;
    EXPECT_EQ(post({"CONTENT_LENGTH=" + std::to_string(body.size())}, bytes(body)), NUL_REFUSED)
        << body;
  }
  // Elsewhere in a form body a "%00" is no part of the statement.
  write_file(file, "sql=SELECT+1&x=%00");
  EXPECT_EQ(post({"HTTP_BODY_FILE=" + file}, {}), answer_to("SELECT 1"));
}

// "SELECT 1" padded with blanks up to `width` bytes, then "+1": 2 when
// whole, 1 when cut anywhere in the padding.
std::string padded_sum(std::size_t width) {
  std::string sql = "SELECT 1";
  sql.resize(width, ' ');
  return sql + "+1";
}

// The same sum as it stands in a URL: blanks as "+", the plus sign as
// "%2B"; `raw_bytes` long in all.
std::string url_padded_sum(std::size_t raw_bytes) {
  std::string value = "SELECT+1";
  value.resize(raw_bytes - 4, '+');
  return value + "%2B1";
}

TEST_F(RequestBody, AStatementThatDidNotFitIsNeverRun) {
  const std::string too_long = padded_sum(16382);  // 16384 bytes: one too many
  const std::string two = answer_to("SELECT 2");
  const std::string rows_of_two = two.substr(two.find("\"rows\""));
  const std::string sum_fits = mask_ms(root.run(query_url + "&sql=" + url_padded_sum(16383)));
  ASSERT_NE(sum_fits.find("\"rows\""), std::string::npos) << sum_fits;
  EXPECT_EQ(sum_fits.substr(sum_fits.find("\"rows\"")), rows_of_two);
  // Cut inside the padding, the text would still answer 1.
  EXPECT_EQ(root.run(query_url + "&sql=" + url_padded_sum(16386)), STATEMENT_CUT);
  EXPECT_EQ(root.run(query_url + "&sql=" + url_padded_sum(16384)), STATEMENT_CUT);
  // Refused before the path is looked at: nothing is opened.
  EXPECT_EQ(root.run("action=query&db=missing.db&sql=" + url_padded_sum(16386)), STATEMENT_CUT);

  const std::string file = root.at("body.txt");
  const struct {
    std::string body;
    std::string expected;
  } cases[] = {
      {"sql=" + too_long, STATEMENT_CUT},  // the field does not fit
      {too_long, STATEMENT_CUT},           // nor does the raw body
      {"sql=SELECT+1&pad=" + std::string(17400, 'x'), BODY_CUT},
      {"sql=SELECT+1&pad=" + std::string(17407 - 17, 'x'), answer_to("SELECT 1")},
  };
  for (const auto &c : cases) {
    write_file(file, c.body);
    EXPECT_EQ(post({"HTTP_BODY_FILE=" + file}, {}), c.expected) << c.body.substr(0, 20);
    EXPECT_EQ(post({"CONTENT_LENGTH=" + std::to_string(c.body.size())}, bytes(c.body)), c.expected)
        << c.body.substr(0, 20);
  }
}

}  // namespace
