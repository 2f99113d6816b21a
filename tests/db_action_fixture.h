// Black-box runs of the two database actions: a scratch directory that is
// the allowlisted root, fixture databases inside it, and the checks every
// run must pass (nothing on standard error, exit status 0).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

/// Replaces the digits of the `"ms":` member with "#", so that a document
/// can be compared byte for byte.
inline std::string mask_ms(std::string out) {
  const std::size_t at = out.find("\"ms\":");
  if (at == std::string::npos) return out;
  const std::size_t digits = at + 5;
  std::size_t end = digits;
  while (end < out.size() && out[end] >= '0' && out[end] <= '9') ++end;
  return out.replace(digits, end - digits, "#");
}

/// A scratch directory configured as the "allowed" root.
class db_root {
 public:
  db_root() {
    char real[4096];
    real_ = plat_realpath(real, dir_.path().c_str(), sizeof real) ? real : dir_.path();
  }

  /// Creates the database `name` in the root from `sql`; returns its path.
  std::string make(const std::string &name, const std::string &sql) const {
    make_db(dir_.at(name), sql);
    return dir_.at(name);
  }

  /// The path of `name` inside the root, whether it exists or not.
  std::string at(const std::string &name) const { return dir_.at(name); }

  /// The path the program reports for `name`, its real location, as the
  /// document writes it.
  std::string reported(const std::string &name) const {
    return json_text(real_ + path_separator() + native_path(name));
  }

  /// Runs the plug-in with `query` as its query string, the root allowed,
  /// and `extra_env` added; checks the run's discipline and returns stdout.
  std::string run(const std::string &query, const std::vector<std::string> &extra_env = {}) const {
    std::vector<std::string> env = {"SQLITE_ALLOWED_ROOT=" + dir_.path(), "QUERY_STRING=" + query};
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    const run_result r = run_plugin(env);
    EXPECT_EQ(r.err, "") << query;
    EXPECT_EQ(r.status, 0) << query;
    return r.out;
  }

  /// Writes `bytes` as "x.db" six folders of 100 letters deep inside the
  /// root, where its real location is longer than SQLite takes for a
  /// path; returns the folder that holds it.
  std::string deep_database(const std::string &bytes) const {
    std::string deep = at("d");
    for (int i = 0; i < 6; ++i) deep += path_separator() + std::string(100, 'd');
    make_dirs(deep);
    write_file(deep + path_separator() + "x.db", bytes);
    return deep;
  }

  std::string query(const std::string &db, const std::string &sql) const {
    return run("action=query&db=" + uri_component(db) + "&sql=" + uri_component(sql));
  }

  std::string schema(const std::string &db) const {
    return run("action=schema&db=" + uri_component(db));
  }

 private:
  scratch_dir dir_;
  std::string real_;
};

/// The complete error response for `code` and `detail`.
inline std::string error_doc(const std::string &code, const std::string &detail) {
  return JSON_HEAD + "{\"ok\":false,\"error\":\"" + code + "\",\"detail\":\"" + detail + "\"}\n";
}
