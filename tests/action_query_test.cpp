// The query action seen from outside: exact documents on standard output
// for small fixture databases, the refusals in their order, the value
// encodings, the row cap and the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "db_action_fixture.h"

namespace {

const std::string OK_QUERY = JSON_HEAD + "{\"ok\":true,\"action\":\"query\"";

// "ok" for a success document, else the error code of the error document.
std::string outcome(const std::string &out) {
  if (out.compare(0, OK_QUERY.size(), OK_QUERY) == 0) return "ok";
  const std::string key = "\"error\":\"";
  const std::size_t at = out.find(key);
  if (at == std::string::npos) return "unreadable: " + out;
  const std::size_t start = at + key.size();
  return out.substr(start, out.find('"', start) - start);
}

// The begun success document up to and including the opening of `rows`.
std::string doc_head(const std::string &path, const std::string &columns) {
  return JSON_HEAD + "{\"ok\":true,\"action\":\"query\",\"readonly\":true,\"db\":\"" + path +
         "\",\"columns\":[" + columns + "],\"rows\":[";
}

std::string closing(int row_count, bool truncated, bool aborted, const std::string &types) {
  return "],\"row_count\":" + std::to_string(row_count) +
         ",\"truncated\":" + (truncated ? "true" : "false") + ",\"limit\":500,\"ms\":#" +
         ",\"aborted\":" + (aborted ? "true" : "false") + ",\"types\":[" + types + "]}\n";
}

// Rows [1] to [n] of a counting statement, as the document writes them.
std::string counted_rows(int n) {
  std::string rows;
  for (int i = 1; i <= n; ++i) rows += (i > 1 ? ",[" : "[") + std::to_string(i) + "]";
  return rows;
}

std::string counting(int n) {
  return "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT " + std::to_string(n) +
         ") SELECT x FROM c";
}

class QueryAction : public ::testing::Test {
 protected:
  db_root root;
  std::string db = root.make("t.db",
                             "CREATE TABLE t(x); INSERT INTO t VALUES(1);"
                             "CREATE TABLE plain_node(x); INSERT INTO plain_node VALUES(1);");
};

TEST_F(QueryAction, SmallResultIsByteExact) {
  const std::string shop = root.make("shop.db",
                                     "CREATE TABLE item(id INTEGER PRIMARY KEY, label TEXT, "
                                     "price REAL, photo BLOB, note);"
                                     "INSERT INTO item VALUES(1,'pen',1.5,x'CAFE',NULL),"
                                     "(2,'ink',100.0,NULL,'x');");
  const std::string out = root.query(
      shop, "SELECT id, label, price, photo, note, id * 2 AS twice FROM item ORDER BY id");
  EXPECT_EQ(mask_ms(out),
            JSON_HEAD + "{\"ok\":true,\"action\":\"query\",\"readonly\":true,\"db\":\"" +
                root.reported("shop.db") +
                "\",\"columns\":[{\"name\":\"id\",\"decl\":\"INTEGER\"},"
                "{\"name\":\"label\",\"decl\":\"TEXT\"},{\"name\":\"price\",\"decl\":\"REAL\"},"
                "{\"name\":\"photo\",\"decl\":\"BLOB\"},{\"name\":\"note\",\"decl\":\"\"},"
                "{\"name\":\"twice\",\"decl\":\"\"}],"
                "\"rows\":[[1,\"pen\",1.5,{\"blob_bytes\":2,\"hex\":\"cafe\"},null,2],"
                "[2,\"ink\",100,null,\"x\",4]],"
                "\"row_count\":2,\"truncated\":false,\"limit\":500,\"ms\":#,\"aborted\":false,"
                "\"types\":[\"int\",\"text\",\"float\",\"blob\",\"null\",\"int\"]}\n");
}

TEST_F(QueryAction, RefusalsComeInTheirOrder) {
  const std::string notes = root.at("notes.db");
  write_file(notes, std::string(2048, 'n'));
  const std::string missing = root.at("gone.db");
  const std::string outside = "/nowhere/x.db";
  const std::string missing_sql = error_doc("missing_sql", "pass ?sql=SELECT ... or POST sql=...");
  const std::string forbidden =
      error_doc("forbidden_path", "path outside the allowlisted roots or not a database file");
  const std::string not_found = error_doc("not_found", "database file does not exist");
  const std::string read_only =
      error_doc("read_only", "only SELECT / WITH / PRAGMA / EXPLAIN statements are accepted");
  const std::string not_db = error_doc("not_a_database", "file is not a SQLite database");
  const struct {
    std::string db, sql, expected;
  } cases[] = {
      {"", "", missing_sql},
      {outside, "", missing_sql},
      {outside, "DELETE FROM t", forbidden},
      {"notes.txt", "SELECT 1", forbidden},
      {missing, "DELETE FROM t", not_found},
      {db, "DELETE FROM t", read_only},
      {db, " \t\n", read_only},
      {notes, "DELETE FROM t", read_only},
      {notes, "SELECT 1", not_db},
      {db, "SELECT nope FROM t", error_doc("sql_error", "no such column: nope")},
      {db, "SELECT nope FROM t; SELECT 2", error_doc("sql_error", "no such column: nope")},
      {db, "WITH a AS (SELECT 1) DELETE FROM t", error_doc("sql_error", "not authorized")},
      // The authorizer lets a table named like an R-Tree's shadow table
      // through; the compiled statement is not read-only.
      {db, "WITH a AS (SELECT 1) DELETE FROM plain_node", read_only},
      {db, "PRAGMA journal_mode", error_doc("sql_error", "not authorized")},
      {db, "SELECT 1; SELECT 2",
       error_doc("multiple_statements", "submit one statement at a time")},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(root.query(c.db, c.sql), c.expected) << "db=" << c.db << " sql=" << c.sql;
  }
}

// The limits a schema is free of still hold for the request's statement.
TEST_F(QueryAction, RequestStatementIsHeldToTheLimits) {
  std::string deep = "SELECT x FROM t WHERE x <> 0";
  for (int i = 1; i < 120; ++i) deep += " AND x <> " + std::to_string(i);
  std::string compound = "SELECT 0";
  for (int i = 1; i <= 60; ++i) compound += " UNION ALL SELECT " + std::to_string(i);
  const struct {
    std::string sql, ending;
  } cases[] = {
      {deep, error_doc("sql_error", "Expression tree is too large (maximum depth 100)")},
      {compound, error_doc("sql_error", "too many terms in compound SELECT")},
      {"SELECT 1 FROM t WHERE x LIKE '" + std::string(1200, '%') + "'",
       "],\"error\":\"LIKE or GLOB pattern too complex\",\"aborted\":false}\n"},
  };
  for (const auto &c : cases) {
    const std::string out = root.query(db, c.sql);
    EXPECT_TRUE(out.size() >= c.ending.size() &&
                out.compare(out.size() - c.ending.size(), c.ending.size(), c.ending) == 0)
        << c.sql.substr(0, 60) << "\n"
        << out;
  }
}

TEST_F(QueryAction, OpenFailureCarriesTheLibrarysText) {
  SKIP_LONG_REAL_PATHS_UNDER_WINE();
  // A real location longer than SQLite's path limit passes every check of
  // ours and fails in the open.
  const std::string deep = root.deep_database(read_file(db));
  EXPECT_EQ(root.run("action=query&db=x.db&sql=SELECT%201", {"HOME=" + deep}),
            error_doc("open_failed", "cannot open database (unable to open database file)"));
}

TEST_F(QueryAction, LeadingKeywordTest) {
  const struct {
    std::string sql, expected;
  } cases[] = {
      {" \t\n\v\f\rSeLeCt 1", "ok"},
      {"select*from t", "ok"},
      {"VALUES (1)", "ok"},
      {"explain SELECT 1", "ok"},
      {"Pragma table_info(t)", "ok"},
      {"with a(x) AS (SELECT 1) SELECT x FROM a", "ok"},
      {"(SELECT 1)", "read_only"},
      // Comments before the keyword are skipped like white space.
      {"/* note */ SELECT 1", "ok"},
      {"-- note\nSELECT 1", "ok"},
      {"-- one\r\n  -- two\n/* three */\t/**/select 1", "ok"},
      {"/* a -- b */ with a(x) AS (SELECT 1) SELECT x FROM a", "ok"},
      {"/* note */ DELETE FROM t", "read_only"},
      {"-- SELECT\nDELETE FROM t", "read_only"},
      {"/* SELECT 1 */", "read_only"},
      {"-- SELECT 1", "read_only"},
      {"/* never closed SELECT 1", "read_only"},
      {"- - x\nSELECT 1", "read_only"},
      {"/ * x */ SELECT 1", "read_only"},
      {"selectx FROM t", "read_only"},
      {"select_1", "read_only"},
      {"update t SET x = 2", "read_only"},
      // Bytes from 0x80 end the keyword; SQLite then reads them as part of
      // an identifier and refuses the text.
      {"select\xc3\xa9", "sql_error"},
  };
  for (const auto &c : cases) EXPECT_EQ(outcome(root.query(db, c.sql)), c.expected) << c.sql;
}

TEST_F(QueryAction, OneStatementOnly) {
  const struct {
    std::string sql, expected;
  } cases[] = {
      {"SELECT 1;", "ok"},
      {"SELECT 1; \t\r\n\v\f", "ok"},
      {"SELECT 1 -- trailing note", "ok"},
      {"SELECT 1 /* trailing note */", "ok"},
      // After the statement: white space, comments and semicolons only.
      {"SELECT 1; -- note", "ok"},
      {"SELECT 1; /* note */", "ok"},
      {"SELECT 1;;", "ok"},
      {"SELECT 1 ; ; -- a\n /* b */ ;\n", "ok"},
      {"SELECT 1; /* never closed", "ok"},
      {"SELECT 1; SELECT 2", "multiple_statements"},
      {"SELECT 1; -- note\nSELECT 2", "multiple_statements"},
      {"SELECT 1; /* note */ SELECT 2", "multiple_statements"},
      {"SELECT 1;; DELETE FROM t", "multiple_statements"},
      {"SELECT 1; x", "multiple_statements"},
  };
  for (const auto &c : cases) EXPECT_EQ(outcome(root.query(db, c.sql)), c.expected) << c.sql;
}

std::string hex_blob(int length, int first_byte) {
  static const char HEX[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < length; ++i) {
    const int b = (first_byte + i) & 0xff;
    hex += HEX[b >> 4];
    hex += HEX[b & 0x0f];
  }
  return hex;
}

TEST_F(QueryAction, ValuesAreEncodedByStorageClass) {
  const std::string hex48 = hex_blob(48, 0xd0);
  const std::string hex49 = hex_blob(49, 0xcf);
  // The value as the plain form writes it and as exact=1 does.
  const struct {
    std::string expr, plain, exact, type;
  } cases[] = {
      {"9223372036854775807", "9223372036854775807", "9223372036854775807", "int"},
      {"-9223372036854775808", "-9223372036854775808", "-9223372036854775808", "int"},
      {"0", "0", "0", "int"},
      {"100.0", "100", "100.0", "float"},
      {"0.1", "0.1", "0.1", "float"},
      {"0.1 + 0.2", "0.3", "0.30000000000000004", "float"},
      {"0.00001", "1e-05", "1e-05", "float"},
      {"1e20", "1e+20", "1e+20", "float"},
      {"1.0/3", "0.333333333333333", "0.3333333333333333", "float"},
      {"-2.5e-300", "-2.5e-300", "-2.5e-300", "float"},
      {"4.9406564584124654e-324", "4.94065645841247e-324", "5e-324", "float"},
      {"1.7976931348623157e308", "1.79769313486232e+308", "1.7976931348623157e+308", "float"},
      {"-1.0 * 0.0", "-0", "-0.0", "float"},
      {"9007199254740993.0", "9.00719925474099e+15", "9007199254740992.0", "float"},
      {"9e999", "\"Infinity\"", "\"Infinity\"", "float"},
      {"-9e999", "\"-Infinity\"", "\"-Infinity\"", "float"},
      // SQLite turns a NaN result into NULL before it reaches the program.
      {"9e999 - 9e999", "null", "null", "null"},
      {"NULL", "null", "null", "null"},
      {"'a\"b\\c'", "\"a\\\"b\\\\c\"", "\"a\\\"b\\\\c\"", "text"},
      {"char(10, 13, 9)", "\"\\n\\r\\t\"", "\"\\n\\r\\t\"", "text"},
      {"'a' || char(1) || 'b' || char(31)", "\"ab\"", "\"a\\u0001b\\u001f\"", "text"},
      {"char(233) || char(127) || CAST(x'ff' AS TEXT)", "\"\xc3\xa9\x7f\xff\"",
       "\"\xc3\xa9\x7f\xff\"", "text"},
      // Text goes by its length: a NUL byte and what follows it stay.
      {"'a' || char(0) || 'b'", "\"a\\u0000b\"", "\"a\\u0000b\"", "text"},
      {"''", "\"\"", "\"\"", "text"},
      {"x''", "{\"blob_bytes\":0,\"hex\":\"\"}", "{\"blob_bytes\":0,\"hex\":\"\"}", "blob"},
      {"x'" + hex48 + "'", "{\"blob_bytes\":48,\"hex\":\"" + hex48 + "\"}",
       "{\"blob_bytes\":48,\"hex\":\"" + hex48 + "\"}", "blob"},
      {"x'" + hex49 + "'", "{\"blob_bytes\":49,\"hex\":\"" + hex49.substr(0, 96) + "...\"}",
       "{\"blob_bytes\":49,\"hex\":\"" + hex49 + "\"}", "blob"},
  };
  for (const auto &c : cases) {
    const std::string sql = "SELECT " + c.expr + " AS v";
    const std::string head = doc_head(root.reported("t.db"), "{\"name\":\"v\",\"decl\":\"\"}");
    const std::string tail = closing(1, false, false, "\"" + c.type + "\"");
    EXPECT_EQ(mask_ms(root.query(db, sql)), head + "[" + c.plain + "]" + tail) << c.expr;
    EXPECT_EQ(mask_ms(root.run("action=query&exact=1&db=" + uri_component(db) +
                               "&sql=" + uri_component(sql))),
              head + "[" + c.exact + "]" + tail)
        << c.expr;
  }
}

TEST_F(QueryAction, StoredValueOverAMillionBytesIsAnObjectAndItsRowStays) {
  // 'x' and then 1.5 MB of two-byte letters: a first part of 1,024 bytes
  // would end inside a letter, so it ends before it.
  const std::string big_text = "'x' || replace(hex(zeroblob(375000)), '00', char(233, 233))";
  const std::string files = root.make(
      "files.db", "CREATE TABLE f(name, data); INSERT INTO f VALUES('a', x'01'),"
                  "('blob', zeroblob(2000000)), ('text', " + big_text + "),"
                  "('huge', zeroblob(17 * 1024 * 1024)), ('z', 'tail');");
  std::string head_text = "x";
  for (int i = 0; i < 511; ++i) head_text += "\xc3\xa9";
  const std::string zeros48(96, '0');
  const std::string sql = "SELECT name, data FROM f";
  const std::string plain = mask_ms(root.query(files, sql));
  EXPECT_EQ(plain, doc_head(root.reported("files.db"),
                            "{\"name\":\"name\",\"decl\":\"\"},{\"name\":\"data\",\"decl\":\"\"}") +
                       "[\"a\",{\"blob_bytes\":1,\"hex\":\"01\"}],"
                       "[\"blob\",{\"blob_bytes\":2000000,\"hex\":\"" + zeros48 + "...\"}],"
                       "[\"text\",{\"text_bytes\":1500001,\"text\":\"" + head_text + "\"}],"
                       "[\"huge\",{\"blob_bytes\":17825792,\"hex\":\"" + zeros48 + "...\"}],"
                       "[\"z\",\"tail\"]" + closing(5, false, false, "\"text\",\"blob\""));
  // The exact form writes values up to 16 MiB whole; the 17 MiB one stays
  // an object.
  const std::string exact =
      root.run("action=query&exact=1&db=" + uri_component(files) + "&sql=" + uri_component(sql));
  EXPECT_NE(exact.find("[\"blob\",{\"blob_bytes\":2000000,\"hex\":\"" + std::string(4000000, '0') +
                       "\"}]"),
            std::string::npos);
  EXPECT_NE(exact.find(",{\"blob_bytes\":17825792,\"hex\":\"" + zeros48 + "...\"}],[\"z\",\"tail\"]]"),
            std::string::npos);
  std::string whole_text = "x";
  for (int i = 0; i < 750000; ++i) whole_text += "\xc3\xa9";
  EXPECT_NE(exact.find("[\"text\",\"" + whole_text + "\"]"), std::string::npos);
}

TEST_F(QueryAction, DownloadLinesHoldEveryValueExactly) {
  const std::string sql =
      "SELECT 1 AS a, 0.1 + 0.2 AS a, 'x,\"y' || char(10) || 'z' AS b, x'00ff' AS c, NULL AS d, "
      "100.0 AS e, 'n' || char(0) AS f UNION ALL SELECT -7, 9e999, 'plain', x'', 'q', 1e16, ''";
  const std::string columns =
      "{\"name\":\"a\",\"decl\":\"\"},{\"name\":\"a\",\"decl\":\"\"},{\"name\":\"b\",\"decl\":\"\"},"
      "{\"name\":\"c\",\"decl\":\"\"},{\"name\":\"d\",\"decl\":\"\"},{\"name\":\"e\",\"decl\":\"\"},"
      "{\"name\":\"f\",\"decl\":\"\"}";
  const std::string head = JSON_HEAD +
                           "{\"ok\":true,\"action\":\"query\",\"readonly\":true,\"db\":\"" +
                           root.reported("t.db") + "\",\"columns\":[" + columns + "],\"lines\":\"";
  const std::string tail =
      "\",\"row_count\":2,\"truncated\":false,\"limit\":100000,\"ms\":#,\"aborted\":false,"
      "\"types\":[\"int\",\"float\",\"text\",\"blob\",\"null\",\"float\",\"text\"]}\n";
  const struct {
    const char *format;
    std::string lines;  // as the JSON string holds them
  } cases[] = {
      {"csv",
       "1,0.30000000000000004,\\\"x,\\\"\\\"y\\nz\\\",00ff,,100.0,n\\u0000\\n"
       "-7,Infinity,plain,,q,1e+16,\\n"},
      // One object per row, keyed by column name ("a:2" for the second a).
      {"jsonl",
       "{\\\"a\\\":1,\\\"a:2\\\":0.30000000000000004,\\\"b\\\":\\\"x,\\\\\\\"y\\\\nz\\\","
       "\\\"c\\\":{\\\"blob_bytes\\\":2,\\\"hex\\\":\\\"00ff\\\"},\\\"d\\\":null,\\\"e\\\":100.0,"
       "\\\"f\\\":\\\"n\\\\u0000\\\"},\\n"
       "{\\\"a\\\":-7,\\\"a:2\\\":\\\"Infinity\\\",\\\"b\\\":\\\"plain\\\","
       "\\\"c\\\":{\\\"blob_bytes\\\":0,\\\"hex\\\":\\\"\\\"},\\\"d\\\":\\\"q\\\",\\\"e\\\":1e+16,"
       "\\\"f\\\":\\\"\\\"}"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(mask_ms(root.run(std::string("action=query&format=") + c.format +
                               "&db=" + uri_component(db) + "&sql=" + uri_component(sql))),
              head + c.lines + tail)
        << c.format;
  }
}

TEST_F(QueryAction, DownloadGoesOnFromWhereEachAnswerStopped) {
  // 150,000 rows take at least two answers (100,000 rows at most, or what
  // a second of writing gives); each says where it stopped by its count.
  constexpr int TOTAL = 150000;
  std::string expected;
  for (int i = 1; i <= TOTAL; ++i) expected += std::to_string(i) + "\\n";
  std::string lines;
  int answers = 0;
  for (bool more = true; more && answers < 20; ++answers) {
    // Each line is digits and an escaped line break: its "n" counts it.
    const std::string sql = "SELECT * FROM (" + counting(TOTAL) + ") LIMIT -1 OFFSET " +
                            std::to_string(std::count(lines.begin(), lines.end(), 'n'));
    const std::string out = root.run("action=query&format=csv&db=" + uri_component(db) +
                                     "&sql=" + uri_component(sql));
    const std::size_t start = out.find(",\"lines\":\"") + 10;
    const std::size_t stop = out.find("\",\"row_count\":", start);
    ASSERT_NE(stop, std::string::npos) << out.substr(0, 400);
    lines += out.substr(start, stop - start);
    more = out.find(",\"truncated\":true,\"limit\":100000,", stop) != std::string::npos;
    EXPECT_NE(out.find(",\"aborted\":false,", stop), std::string::npos);
  }
  EXPECT_GE(answers, 2);
  EXPECT_TRUE(lines == expected) << lines.size() << " bytes against " << expected.size();
}

TEST_F(QueryAction, RowCapDrawsTheLineAt500) {
  const std::string head = doc_head(root.reported("t.db"), "{\"name\":\"x\",\"decl\":\"\"}");
  EXPECT_EQ(mask_ms(root.query(db, "SELECT 1 AS x WHERE 0")), head + closing(0, false, false, ""));
  EXPECT_EQ(mask_ms(root.query(db, counting(500))),
            head + counted_rows(500) + closing(500, false, false, "\"int\""));
  EXPECT_EQ(mask_ms(root.query(db, counting(501))),
            head + counted_rows(500) + closing(500, true, false, "\"int\""));
}

// About 220 KB in fragments of every size: the document crosses the end of
// the standard output buffer many times, each time in the middle of a
// value or between two.
TEST_F(QueryAction, DocumentLargerThanTheOutputBufferArrivesWhole) {
  const std::string sql =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT 500) "
      "SELECT x, x * 0.5 AS half, hex(zeroblob(200)) || x AS padded FROM c";
  std::string rows;
  for (int x = 1; x <= 500; ++x) {
    char half[32];
    std::snprintf(half, sizeof half, "%.15g", x * 0.5);
    rows += (x > 1 ? ",[" : "[") + std::to_string(x) + "," + half + ",\"" + std::string(400, '0') +
            std::to_string(x) + "\"]";
  }
  const std::string head =
      doc_head(root.reported("t.db"),
               "{\"name\":\"x\",\"decl\":\"\"},{\"name\":\"half\",\"decl\":\"\"},"
               "{\"name\":\"padded\",\"decl\":\"\"}");
  const std::string expected =
      head + rows + closing(500, false, false, "\"int\",\"float\",\"text\"");
  ASSERT_GT(expected.size(), 3u * 65536u);
  EXPECT_EQ(mask_ms(root.query(db, sql)), expected);
}

TEST_F(QueryAction, WideResultReportsTypesOfTheFirst128Columns) {
  std::string sql = "SELECT ";
  std::string columns, row, types;
  for (int i = 0; i < 130; ++i) {
    const std::string name = "c" + std::to_string(i);
    sql += (i > 0 ? ", " : "") + std::to_string(i) + " AS " + name;
    columns += std::string(i > 0 ? "," : "") + "{\"name\":\"" + name + "\",\"decl\":\"\"}";
    row += (i > 0 ? "," : "") + std::to_string(i);
    if (i < 128) types += std::string(i > 0 ? "," : "") + "\"int\"";
  }
  EXPECT_EQ(mask_ms(root.query(db, sql)), doc_head(root.reported("t.db"), columns) + "[" + row +
                                              "]" + closing(1, false, false, types));
}

TEST_F(QueryAction, TypesComeFromTheFirstRowAlone) {
  EXPECT_EQ(mask_ms(root.query(db, "SELECT column1 AS v FROM (VALUES (NULL), (2), ('x'))")),
            doc_head(root.reported("t.db"), "{\"name\":\"v\",\"decl\":\"\"}") +
                "[null],[2],[\"x\"]" + closing(3, false, false, "\"null\""));
}

TEST_F(QueryAction, FailureWhileSteppingEndsWithTheErrorTail) {
  const std::string head = doc_head(root.reported("t.db"), "{\"name\":\"v\",\"decl\":\"\"}");
  // A value the statement makes over 1,000,000 bytes, after two good rows.
  EXPECT_EQ(root.query(db,
                       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT 3) "
                       "SELECT CASE WHEN x < 3 THEN x ELSE zeroblob(2000000) END AS v FROM c"),
            head + "[1],[2]],\"error\":\"string or blob too big\",\"aborted\":false}\n");
  // Sorting about 90 MB runs into the 64 MiB heap limit.
  EXPECT_EQ(root.query(db,
                       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT 100) "
                       "SELECT x AS v FROM c ORDER BY zeroblob(900000) || x"),
            head + "],\"error\":\"out of memory\",\"aborted\":false}\n");
}

TEST_F(QueryAction, BudgetStopsARunawayStatement) {
  // Two rows come at once; then the recursion runs on, finding nothing more.
  const std::string out =
      root.query(db,
                 "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) "
                 "SELECT x AS v FROM c WHERE x <= 2 OR x < 0");
  EXPECT_EQ(mask_ms(out), doc_head(root.reported("t.db"), "{\"name\":\"v\",\"decl\":\"\"}") +
                              "[1],[2]" + closing(2, true, true, "\"int\""));
  const std::size_t at = out.find("\"ms\":");
  ASSERT_NE(at, std::string::npos);
  const long long ms = std::atoll(out.c_str() + at + 5);
  EXPECT_GE(ms, 1900);
  EXPECT_LE(ms, 10000);
}

TEST_F(QueryAction, StatementFromThePostBody) {
  const std::string body = root.at("body.txt");
  write_file(body, "sql=SELECT%2042%20AS%20answer");
  const std::string out =
      root.run("action=query&db=" + uri_component(db), {"HTTP_BODY_FILE=" + body});
  EXPECT_EQ(mask_ms(out), doc_head(root.reported("t.db"), "{\"name\":\"answer\",\"decl\":\"\"}") +
                              "[42]" + closing(1, false, false, "\"int\""));
}

}  // namespace
