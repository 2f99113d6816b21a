// The info action, black-box: its members in order and the three values
// that vary (the process id, the time and the gate's state).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string run_info(std::vector<std::string> env) {
  const run_result r = run_plugin(env);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.compare(0, JSON_HEAD.size(), JSON_HEAD), 0);
  return r.out.substr(std::min(r.out.size(), JSON_HEAD.size()));
}

std::string regex_quoted(const std::string &s) {
  return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// The whole document with the three varying values left open.
std::regex info_document(const char *node_auth) {
  return std::regex(
      "\\{\"ok\":true,\"action\":\"info\",\"plugin\":\"plugin_sqlite\",\"version\":\"1\\.0\\.2\","
      "\"platform\":\"" +
      std::string(EXPECTED_PLATFORM) + "\",\"sqlite\":\"" + regex_quoted(sqlite3_libversion()) +
      "\",\"pid\":[1-9][0-9]*,\"utc\":\"([^\"]*)\",\"node_auth\":" + node_auth +
      ",\"readonly\":true,\"zero_network\":true,\"threadsafe\":0,\"load_extension\":false,"
      "\"max_rows\":500,\"budget_ms\":2000,"
      "\"allowed_roots\":\\[\"allowed\",\"workspace\",\"codebases\",\"home\"\\],"
      "\"actions\":\\[\"dbs\",\"schema\",\"query\",\"info\"\\]\\}\n");
}

TEST(InfoDocument, MembersInOrderAndUntouchedByOtherFields) {
  for (const char *query :
       {"action=info", "action=info&db=x.db&sql=SELECT+1&format=json&embed=1"}) {
    const std::string body = run_info({std::string("QUERY_STRING=") + query});
    EXPECT_TRUE(std::regex_match(body, info_document("false"))) << query << "\n" << body;
  }
}

TEST(InfoDocument, NodeAuthTellsWhetherThePasswordIsInForce) {
  const struct {
    std::vector<std::string> env;
    const char *node_auth;
  } cases[] = {
      {{"QUERY_STRING=action=info"}, "false"},
      {{"QUERY_STRING=action=info", "ZINDO_PASSWORD="}, "false"},
      {{"QUERY_STRING=action=info", "ZINDO_PASSWORD=s3cret", "HTTP_X_ZINDO_PASSWORD=s3cret"},
       "true"},
  };
  for (const auto &c : cases) {
    const std::string body = run_info(c.env);
    EXPECT_TRUE(std::regex_match(body, info_document(c.node_auth))) << c.env.back() << "\n" << body;
  }
}

std::string utc_text(std::time_t secs) {
  char text[32] = "";
  if (const std::tm *fields = std::gmtime(&secs)) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", fields);
  }
  return text;
}

TEST(InfoDocument, UtcIsTheCurrentTimeInUtc) {
  const std::time_t before = std::time(nullptr);
  // A zone nine hours east: local time would show in the hour.
  const std::string body = run_info({"QUERY_STRING=action=info", "TZ=XST-9"});
  const std::time_t after = std::time(nullptr);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(body, m, info_document("false"))) << body;
  const std::string utc = m[1];
  ASSERT_TRUE(
      std::regex_match(utc, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")))
      << utc;
  // The ISO form sorts as the times do.
  EXPECT_GE(utc, utc_text(before));
  EXPECT_LE(utc, utc_text(after));
}

}  // namespace
