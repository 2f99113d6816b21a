// Database files under mutation: a mutated image of a small database (and,
// when given, of its write-ahead log) is opened and read by the schema
// action and a fixed set of queries. Every answer must be one complete
// response, and neither file may change. The mutator works on pages as
// well as on bytes, so that mutations reach the b-tree cells behind an
// intact header.
// Input: the main file's length as 4 little-endian bytes, the main file,
// then the write-ahead log (empty: no log).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "actions.h"
#include "budget.h"
#include "fuzz_support.h"

extern "C" std::size_t LLVMFuzzerMutate(uint8_t *data, std::size_t size, std::size_t max_size);

namespace {

// The statements run against every image; the seeds use these names.
const char *const QUERIES[] = {
    "SELECT * FROM sqlite_schema",
    "PRAGMA quick_check",
    "SELECT * FROM t ORDER BY 1 DESC LIMIT 20",
    "SELECT count(*), sum(length(b)) FROM t",
    "SELECT * FROM kv WHERE k > 'b'",
    "SELECT rowid, * FROM docs WHERE docs MATCH 'alpha OR gamma'",
    "SELECT * FROM boxes WHERE minx > 1 AND maxy < 50",
};

struct image {
  std::string main;
  std::string wal;
};

image split(const uint8_t *data, std::size_t size) {
  image img;
  if (size < 4) {
    img.main.assign(reinterpret_cast<const char *>(data), size);
    return img;
  }
  const std::size_t main_len = data[0] | data[1] << 8 | data[2] << 16 | std::size_t{data[3]} << 24;
  const char *rest = reinterpret_cast<const char *>(data + 4);
  const std::size_t rest_len = size - 4;
  const std::size_t n = main_len < rest_len ? main_len : rest_len;
  img.main.assign(rest, n);
  img.wal.assign(rest + n, rest_len - n);
  return img;
}

std::string join(const image &img) {
  const std::size_t n = img.main.size();
  std::string out = {static_cast<char>(n & 0xff), static_cast<char>(n >> 8 & 0xff),
                     static_cast<char>(n >> 16 & 0xff), static_cast<char>(n >> 24 & 0xff)};
  return out + img.main + img.wal;
}

struct paths {
  std::string db;
  std::string wal;
  std::string shm;
};

const paths &files() {
  static const paths p = [] {
    const std::string root = scratch_folder("database");
    setenv("SQLITE_ALLOWED_ROOT", root.c_str(), 1);
    unsetenv("HOME");
    unsetenv("USERPROFILE");
    return paths{root + "/fuzz.db", root + "/fuzz.db-wal", root + "/fuzz.db-shm"};
  }();
  return p;
}

std::string read_back(const std::string &path) {
  std::string bytes;
  if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) bytes.append(buf, n);
    std::fclose(file);
  }
  return bytes;
}

void check_response(const char *what) {
  const std::string out = take_stdout();
  if (!is_one_response(out)) fail(what, out);
}

// The page size the header claims, or 512 when it claims none that is
// valid; used only to cut the image into pages.
std::size_t page_size_of(const std::string &main) {
  if (main.size() < 100) return 512;
  const std::size_t v =
      static_cast<unsigned char>(main[16]) << 8 | static_cast<unsigned char>(main[17]);
  const std::size_t size = v == 1 ? 65536 : v;
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0 ? size : 512;
}

// Lets libFuzzer's byte mutations loose on bytes [at, at + len) of `s`,
// keeping their number.
void mutate_region(std::string *s, std::size_t at, std::size_t len) {
  if (at >= s->size()) return;
  if (len > s->size() - at) len = s->size() - at;
  std::vector<uint8_t> region(s->begin() + static_cast<long>(at),
                              s->begin() + static_cast<long>(at + len));
  region.resize(LLVMFuzzerMutate(region.data(), region.size(), region.size()));
  region.resize(len, 0);
  std::memcpy(&(*s)[at], region.data(), len);
}

void mutate_pages(image *img, std::minstd_rand &rng) {
  const std::size_t page = page_size_of(img->main);
  const std::size_t pages = img->main.size() / page;
  if (pages == 0) return;
  const std::size_t pick = rng() % pages;
  switch (rng() % 5) {
    case 0: mutate_region(&img->main, pick * page, page); break;
    case 1: mutate_region(&img->main, 0, 100); break;  // the database header
    case 2: {  // one page over another: cycles and shared children
      const std::size_t from = rng() % pages;
      img->main.replace(pick * page, page, img->main.substr(from * page, page));
      break;
    }
    case 3: img->main.resize((pick + 1) * page); break;  // the file ends early
    default: {  // the log: its header, or one frame's header and page
      if (img->wal.empty()) return mutate_region(&img->main, pick * page, page);
      const std::size_t frames = img->wal.size() > 32 ? (img->wal.size() - 32) / (24 + page) : 0;
      if (frames == 0) return mutate_region(&img->wal, 0, 32);
      mutate_region(&img->wal, 32 + (rng() % frames) * (24 + page), 24 + page);
    }
  }
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(uint8_t *data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  std::minstd_rand rng(seed);
  if (rng() % 4 == 0) return LLVMFuzzerMutate(data, size, max_size);
  image img = split(data, size);
  mutate_pages(&img, rng);
  const std::string out = join(img);
  if (out.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
  std::memcpy(data, out.data(), out.size());
  return out.size();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  files();
  capture_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const image img = split(data, size);
  const paths &p = files();
  unlink(p.wal.c_str());
  unlink(p.shm.c_str());
  write_bytes(p.db, reinterpret_cast<const uint8_t *>(img.main.data()), img.main.size());
  if (!img.wal.empty())
    write_bytes(p.wal, reinterpret_cast<const uint8_t *>(img.wal.data()), img.wal.size());

  budget_begin(plat_ticks_ms());
  action_schema(p.db.c_str());
  check_response("schema");
  // Both forms of the values (the exact one writes blobs whole and every
  // control byte escaped) and the lines of both downloads.
  for (const char *sql : QUERIES) {
    for (const value_form form : {value_form::plain, value_form::exact}) {
      budget_begin(plat_ticks_ms());
      action_query(p.db.c_str(), sql, form, row_shape::arrays);
      check_response(sql);
    }
    for (const row_shape shape : {row_shape::csv_lines, row_shape::json_lines}) {
      budget_begin(plat_ticks_ms());
      action_query(p.db.c_str(), sql, value_form::exact, shape);
      check_response(sql);
    }
  }
  if (read_back(p.db) != img.main) fail("the database file changed", "");
  if (!img.wal.empty() && read_back(p.wal) != img.wal) fail("the log changed", "");
  return 0;
}
