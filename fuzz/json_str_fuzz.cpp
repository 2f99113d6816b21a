// The one JSON escaping point under arbitrary bytes. json_str must write a
// JSON string literal that reads back as the input up to its first NUL,
// with the control bytes other than LF, CR and TAB dropped; json_error must
// write one complete response whatever its code and detail.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "json_out.h"

namespace {

// The bytes json_str keeps of `text`, in order.
std::string kept_bytes(const std::string &text) {
  std::string kept;
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 || c == '\n' || c == '\r' || c == '\t') kept.push_back(c);
  }
  return kept;
}

// Reads the JSON string literal `literal` back into its bytes. Returns
// false when it is not one literal in the forms json_str writes.
bool read_literal(const std::string &literal, std::string *bytes) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return false;
  bytes->clear();
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    const char c = literal[i];
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) return false;
    if (c != '\\') {
      bytes->push_back(c);
      continue;
    }
    if (++i + 1 >= literal.size()) return false;
    switch (literal[i]) {
      case '"': bytes->push_back('"'); break;
      case '\\': bytes->push_back('\\'); break;
      case 'n': bytes->push_back('\n'); break;
      case 'r': bytes->push_back('\r'); break;
      case 't': bytes->push_back('\t'); break;
      default: return false;
    }
  }
  return true;
}

// Writes `text` through json_str and returns what was written.
std::string literal_of(const std::string &text) {
  json_str(text.c_str());
  return take_stdout();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  capture_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::string text = input.c_str();  // up to the first NUL, as json_str reads it
  const std::string literal = literal_of(text);
  std::string read_back;
  if (!read_literal(literal, &read_back)) fail("json_str wrote no literal", literal);
  if (read_back != kept_bytes(text)) fail("json_str changed the text", literal);
  if (!is_one_json_value(literal)) fail("json_str literal is not JSON", literal);

  // What follows the first NUL, if anything, is the detail of an error.
  const std::size_t split = text.size() < size ? text.size() + 1 : size;
  const std::string detail = input.substr(split).c_str();
  const std::string detail_literal = literal_of(detail);
  json_error(text.c_str(), detail.c_str());
  const std::string response = take_stdout();
  if (!is_one_response(response)) fail("json_error wrote no complete response", response);
  const std::string body = "{\"ok\":false,\"error\":" + literal +
                           (detail.empty() ? "" : ",\"detail\":" + detail_literal) + "}\n";
  if (response.size() < body.size() ||
      response.compare(response.size() - body.size(), body.size(), body) != 0)
    fail("json_error members", response);
  return 0;
}
