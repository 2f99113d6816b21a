// The JSON writers: the one escaping table and the error envelope.
#include "json_out.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "test_support.h"

namespace {

std::string captured(void (*write)(const char *), const char *arg) {
  testing::internal::CaptureStdout();
  write(arg);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(JsonStr, EscapeTable) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"l\nc\rt\t", "\"l\\nc\\rt\\t\""},
      {"a\x01"
       "b",
       "\"ab\""},
      {"\x08\x0b\x0c\x1f|\x7f", "\"|\x7f\""},          // control bytes dropped, DEL kept
      {"caf\xc3\xa9 \xff/", "\"caf\xc3\xa9 \xff/\""},  // no UTF-8 check, "/" not escaped
  };
  for (const auto &c : cases) EXPECT_EQ(captured(json_str, c.in.c_str()), c.out) << c.in;
  EXPECT_EQ(captured(json_str, nullptr), "\"\"");
}

TEST(JsonText, NulAlwaysEscapedOtherControlBytesOnlyInTheExactForm) {
  const std::string in("a\0b\x01\x1f\n\"\x7f", 8);
  for (const auto &[form, out] : {std::pair{value_form::plain, "\"a\\u0000b\\n\\\"\x7f\""},
                                  std::pair{value_form::exact,
                                            "\"a\\u0000b\\u0001\\u001f\\n\\\"\x7f\""}}) {
    testing::internal::CaptureStdout();
    json_text(in.data(), in.size(), form);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
  }
}

TEST(JsonError, DetailMemberOnlyWhenNotEmpty) {
  testing::internal::CaptureStdout();
  json_error("x", "");
  json_error("unknown_action", "supported actions: dbs, schema, query, info");
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            JSON_HEAD + "{\"ok\":false,\"error\":\"x\"}\n" + JSON_HEAD +
                "{\"ok\":false,\"error\":\"unknown_action\",\"detail\":\"supported actions: dbs, "
                "schema, query, info\"}\n");
  EXPECT_EQ(JSON_HEAD.size(), 107u);
}

TEST(JsonUtc, FormatsUtcSeconds) {
  testing::internal::CaptureStdout();
  json_utc(1714555800);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\"2024-05-01T09:30:00Z\"");
}

TEST(JsonNumbers, WritersPutTheFormsOnStandardOutput) {
  testing::internal::CaptureStdout();
  json_int(LLONG_MIN);
  out_byte(',');
  json_double(0.1);
  out_byte(',');
  json_double(1e20);
  out_byte(',');
  json_double(-0.00001);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-9223372036854775808,0.1,1e+20,-1e-05");
}

}  // namespace
