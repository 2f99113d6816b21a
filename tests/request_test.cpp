// Request fields: query-string lookup and decoding, the body fallback, and
// the small string helpers they rest on.
#include "request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

struct lookup_case {
  const char *text;
  const char *key;
  std::size_t cap;
  int found;
  const char *value;
};

TEST(QueryLookup, SegmentsKeysCutsAndDecoding) {
  const lookup_case cases[] = {
      {"action=dbs&db=a%2Fb.db", "db", 512, 1, "a/b.db"},
      {"xaction=info&action=dbs", "action", 64, 1, "dbs"},  // key matches only at a segment start
      {"action=dbs&action=info", "action", 64, 1, "dbs"},   // first segment wins
      {"action", "action", 64, 0, ""},
      {"action=", "action", 64, 1, ""},
      {"a=1&", "b", 64, 0, ""},
      {"a=1&&b=2", "b", 64, 1, "2"},
      {"", "a", 64, 0, ""},
      {"%61ction=dbs", "action", 64, 0, ""},  // keys are compared raw
      {"sql=SELECT+1", "sql", 64, 1, "SELECT 1"},
      {"sql=100%25", "sql", 64, 1, "100%"},
      {"sql=50%", "sql", 64, 1, "50%"},
      {"sql=%zz", "sql", 64, 1, "%zz"},
      {"sql=%41%4", "sql", 64, 1, "A%4"},
      {"sql=%4a%4A", "sql", 64, 1, "JJ"},
      {"sql=a=b=c&x", "sql", 64, 1, "a=b=c"},
      {"sql=ab%00cd", "sql", 64, 1, "ab"},  // a decoded NUL ends the value
      {"v=abcd%41", "v", 7, 1, "abcd%4"},   // cut before decoding splits the escape
      {"v=abcdef", "v", 4, 1, "abc"},
      {"q=x&v=%FF%fe", "v", 8, 1, "\xff\xfe"},
  };
  for (const lookup_case &c : cases) {
    char buf[512];
    buf[0] = 'X';
    EXPECT_EQ(get_query_val(c.text, c.key, buf, c.cap), c.found) << c.text;
    EXPECT_STREQ(buf, c.value) << c.text;
  }
  char buf[8] = "junk";
  EXPECT_EQ(get_query_val(nullptr, "a", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST(QueryLookup, SeventyRawBytesKeepSixtyThreeThenDecode) {
  const std::string value = "%41" + std::string(67, 'b');
  char buf[ACTION_CAP];
  ASSERT_EQ(get_query_val(("action=" + value).c_str(), "action", buf, sizeof buf), 1);
  EXPECT_EQ(std::string(buf), "A" + std::string(60, 'b'));
}

TEST(QueryLookup, ValueOfSeveralMegabytesIsCutToCapacity) {
  const std::string text = "x=1&sql=" + std::string(4 << 20, 'a') + "&action=info";
  char buf[SQL_CAP];
  ASSERT_EQ(get_query_val(text.c_str(), "sql", buf, sizeof buf), 1);
  EXPECT_EQ(std::string(buf), std::string(SQL_CAP - 1, 'a'));
  char action[ACTION_CAP];
  EXPECT_EQ(get_query_val(text.c_str(), "action", action, sizeof action), 1);
  EXPECT_STREQ(action, "info");
}

TEST(StringHelpers, CaseInsensitivePrefixAndBoundedCopy) {
  EXPECT_EQ(ci_prefix("Bearer x", "bearer "), 1);
  EXPECT_EQ(ci_prefix("Bear", "bearer "), 0);
  EXPECT_EQ(ci_prefix("anything", ""), 1);
  EXPECT_EQ(ci_prefix("FILE:x", "file:"), 1);
  EXPECT_EQ(ci_prefix("\xc9t", "\xe9t"), 0);  // only ASCII letters fold

  char dst[64];
  copy_str(dst, sizeof dst, std::string(100, 'z').c_str());
  EXPECT_EQ(std::string(dst), std::string(63, 'z'));
  copy_str(dst, sizeof dst, nullptr);
  EXPECT_STREQ(dst, "");
  copy_str(nullptr, 8, "x");  // does nothing, must not crash
}

// Sets or clears one environment variable for the life of the object.
class scoped_env {
 public:
  scoped_env(const char *name, const char *value) : name_(name) {
    if (value) {
      set_env(name, value);
    } else {
      unset_env(name);
    }
  }
  ~scoped_env() { unset_env(name_); }

 private:
  const char *name_;
};

request_fields fields_for(const char *query, const char *body_file) {
  scoped_env q("QUERY_STRING", query);
  scoped_env b("HTTP_BODY_FILE", body_file);
  static request_fields fields;
  read_request_fields(&fields);
  return fields;
}

TEST(RequestFields, EmbedIsARawSubstringTest) {
  const struct {
    const char *query;
    bool embed;
  } cases[] = {
      {"embed=1", true},    {"embed=10", true},         {"noembed=1", true},
      {"embed=true", true}, {"a=1&embed=true&b", true}, {"embed=0", false},
      {"embed=yes", false}, {"embed=TRUE", false},      {"embed%3D1", false},
  };
  for (const auto &c : cases) EXPECT_EQ(fields_for(c.query, nullptr).embed, c.embed) << c.query;
  EXPECT_FALSE(fields_for(nullptr, nullptr).embed);
}

TEST(RequestFields, FormatJsonTest) {
  for (const char *yes : {"format=JSON", "format=Json", "format=jsonp"})
    EXPECT_TRUE(wants_json(fields_for(yes, nullptr))) << yes;
  for (const char *no : {"format=", "format=xjson", "action=dbs"})
    EXPECT_FALSE(wants_json(fields_for(no, nullptr))) << no;
}

TEST(RequestFields, StatementFromTheBodyOnlyWhenTheQueryGivesNone) {
  scratch_dir dir;
  const struct {
    const char *query;
    std::string body;
    std::string sql;
  } cases[] = {
      {"action=query", "sql=SELECT%201", "SELECT 1"},
      {"action=query", "SELECT 1", "SELECT 1"},
      {"action=query", "a=1&sql=x", "x"},
      {"action=query", "sql=", "sql="},          // empty field: the raw body is taken
      {"action=query", "SELECT+1", "SELECT+1"},  // the raw body is not decoded
      {"sql=", "sql=from+body", "from body"},
      {"sql=SELECT+1", "sql=from+body", "SELECT 1"},  // the query's statement wins
      {"action=query", "", ""},
      {"action=query", std::string("ab\0cd", 5), "ab"},
  };
  for (const auto &c : cases) {
    write_file(dir.at("body"), c.body);
    EXPECT_EQ(fields_for(c.query, dir.at("body").c_str()).sql, c.sql) << c.query << " / " << c.body;
  }
}

TEST(RequestFields, BodyIsReadUpToItsCapacity) {
  scratch_dir dir;
  write_file(dir.at("body"), "sql=" + std::string(20000, 'a'));
  EXPECT_EQ(std::string(fields_for("", dir.at("body").c_str()).sql), std::string(SQL_CAP - 1, 'a'));

  // Past 17407 bytes the body is not looked at: the field would start there.
  write_file(dir.at("body"), std::string(17402, 'x') + "&sql=late");
  EXPECT_EQ(std::string(fields_for("", dir.at("body").c_str()).sql), std::string(SQL_CAP - 1, 'x'));
  write_file(dir.at("body"), std::string(17390, 'x') + "&sql=early");
  EXPECT_STREQ(fields_for("", dir.at("body").c_str()).sql, "early");
}

TEST(RequestFields, StateTellsWhetherTheStatementIsWhole) {
  scratch_dir dir;
  const std::string at_cap(SQL_CAP - 1, 'a');
  const std::string over_cap(SQL_CAP, 'a');
  const struct {
    std::string query;
    const char *body;  // null: no body file
    statement_state state;
  } cases[] = {
      {"sql=" + at_cap, nullptr, STATEMENT_WHOLE},
      {"sql=" + over_cap, nullptr, STATEMENT_CUT},
      {"sql=" + over_cap + "&action=query", nullptr, STATEMENT_CUT},
      {"sql=" + at_cap + "&action=query", nullptr, STATEMENT_WHOLE},
      {"action=query", "sql=SELECT+1", STATEMENT_WHOLE},
      {"action=query", "", STATEMENT_WHOLE},
  };
  for (const auto &c : cases) {
    write_file(dir.at("body"), c.body ? c.body : "");
    const request_fields &f =
        fields_for(c.query.c_str(), c.body ? dir.at("body").c_str() : nullptr);
    EXPECT_EQ(f.sql_state, c.state) << c.query.substr(0, 30);
    EXPECT_NE(incomplete_statement_detail(f.sql_state) == nullptr, c.state != STATEMENT_WHOLE);
  }
  // From the body: the field, the raw text, the body itself.
  const struct {
    std::string body;
    statement_state state;
  } bodies[] = {
      {"sql=" + at_cap, STATEMENT_WHOLE},
      {"sql=" + over_cap, STATEMENT_CUT},
      {at_cap, STATEMENT_WHOLE},
      {over_cap, STATEMENT_CUT},
      {std::string(BODY_CAP - 1, 'b'), STATEMENT_CUT},
      {"sql=x&" + std::string(BODY_CAP - 7, 'b'), STATEMENT_WHOLE},
      {"sql=x&" + std::string(BODY_CAP - 6, 'b'), BODY_CUT},
  };
  for (const auto &c : bodies) {
    write_file(dir.at("body"), c.body);
    EXPECT_EQ(fields_for("", dir.at("body").c_str()).sql_state, c.state) << c.body.size();
  }
}

TEST(RequestFields, UnreadableBodiesLeaveTheStatementEmpty) {
  scratch_dir dir;
  make_dirs(dir.at("subdir"));
  for (const std::string &path : {std::string(""), dir.at("missing"), dir.at("subdir")})
    EXPECT_STREQ(fields_for("action=query", path.c_str()).sql, "") << path;
  EXPECT_STREQ(fields_for("action=query", nullptr).sql, "");
}

}  // namespace
