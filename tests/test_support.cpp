#include "test_support.h"

#include <sqlite3.h>

#include <stdexcept>

std::string uri_component(const std::string &text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string("-_.!~*'()").find(static_cast<char>(c)) != std::string::npos;
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += HEX[c >> 4];
      out += HEX[c & 0x0f];
    }
  }
  return out;
}

std::string json_text(const std::string &text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

sqlite3 *open_writer(const std::string &path) {
  // open_ro puts the guarded open, which refuses every write, under the
  // library's files for the whole process: the fixtures go back to the
  // library's own system calls.
  sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
  if (vfs->xSetSystemCall != nullptr) vfs->xSetSystemCall(vfs, nullptr, nullptr);
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);  // a failed open still hands back a handle to release
    throw std::runtime_error("open " + path);
  }
  return db;
}

void make_db(const std::string &path, const std::string &sql) {
  sqlite3 *db = open_writer(path);
  char *msg = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  const std::string text = msg ? msg : "";
  sqlite3_free(msg);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("fixture sql: " + text);
}
