// The dbs action: finds database files by the extension of their names
// under the allowlisted roots, bounded in depth, in entries examined per
// root and in files reported, and lists them with per-root statistics.
// Nothing is opened; a file is judged by its name and its status alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions.h"
#include "budget.h"
#include "db_guard.h"
#include "json_out.h"
#include "platform/platform.h"
#include "request.h"

constexpr int MAX_DBS = 200;                // databases reported over all roots
constexpr int MAX_DEPTH = 4;                // deepest level listed; the root is level 0
constexpr int SCAN_BUDGET_DEFAULT = 60000;  // default and ceiling of entries per root

struct db_entry {
  char path[PATH_CAP];   // as the walk built it: the root's path, then separator and name per level
  char root[LABEL_CAP];  // label of the root it was found under
  long long bytes;
  long long mtime;  // seconds since 1970-01-01 00:00:00 UTC
};

struct root_stats {
  int dbs;
  int scanned;
  bool truncated;
};

// One root's walk. The list and its count are shared by the walks of all
// roots; the rest belongs to this root.
struct root_walk {
  const char *label;
  db_entry *list;
  int *count;
  int scanned;  // entries counted so far, passed-over names excluded
  int budget;
  bool cut;  // the walk stopped at an entry it had counted but not examined
  // Set when every path below the root that crosses no link is one the
  // path guard accepts as it stands (see root_lists_as_walked).
  bool plain;
  std::size_t real_root_len;  // length of the root's real location
  const char *real_root;      // the root's real location; null when it has none
  const budget_state *time;   // the request's budget: the walk stops when it is spent
  // The directories being listed, level by level: a link back to one of
  // them would walk it again.
  const char *open_dirs[MAX_DEPTH + 1];
};

/// The entries examined per root: SQLITE_SCAN_BUDGET when it parses to 1 to
/// 60000, else 60000. Read once per process.
static int scan_budget() {
  static int cached = -1;
  if (cached >= 0) return cached;
  cached = SCAN_BUDGET_DEFAULT;
  const char *text = plat_getenv("SQLITE_SCAN_BUDGET");
  if (text != nullptr && text[0] != '\0') {
    const long value = std::strtol(text, nullptr, 10);
    if (value >= 1 && value <= SCAN_BUDGET_DEFAULT) cached = static_cast<int>(value);
  }
  return cached;
}

/// True for the names that are neither entered nor counted: the listing's
/// own "." and "..", and the directories of tools and builds.
static bool passed_over(const char *name) {
  static const char *const SKIPPED[] = {".",    "..",    ".git", "node_modules", "__pycache__",
                                        "venv", ".venv", "bin",  "obj",          "target"};
  // Every skipped name starts with one of these bytes; most names are out
  // after a single test.
  switch (name[0]) {
    case '\0': return true;
    case '.':
    case 'n':
    case '_':
    case 'v':
    case 'b':
    case 'o':
    case 't': break;
    default: return false;
  }
  for (const char *skipped : SKIPPED) {
    if (std::strcmp(name, skipped) == 0) return true;
  }
  return false;
}

/// Length of `path` once the page has put it into a URL with
/// encodeURIComponent: unreserved bytes stay, every other byte is "%hh".
static std::size_t uri_component_length(const char *path) {
  std::size_t length = 0;
  for (const char *p = path; *p != '\0'; ++p) {
    const char c = *p;
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || std::strchr("-_.!~*'()", c) != nullptr;
    length += unreserved ? 1 : 3;
  }
  return length;
}

/// Length of the well-formed UTF-8 sequence at `p`, or 0 when it is not one
/// (a decoder would put a replacement character there).
static int utf8_sequence_length(const unsigned char *p) {
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80;  // range of the second byte, narrowed for some leads
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (int i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

/// True when the path comes back unchanged from a client that reads the
/// document: json_str drops control bytes other than TAB, LF and CR, and a
/// JSON reader replaces bytes that are not UTF-8.
static bool survives_round_trip(const char *path) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(path);
  while (*p != '\0') {
    if (*p < 0x20 && *p != '\t' && *p != '\n' && *p != '\r') return false;
    const int length = utf8_sequence_length(p);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

/// The configured root with its trailing separators left out, as the path guard
/// compares it: a root of one byte keeps it.
static std::size_t trimmed_length(const char *root) {
  std::size_t n = std::strlen(root);
  while (n > 1 && plat_is_separator(root[n - 1])) --n;
  return n;
}

/// True when every path that the walk builds below `roots[index]` without
/// crossing a link is accepted by the path guard as it stands, so that such
/// paths need no further test. That holds when the root is written in the
/// canonical form the guard compares against, its real location can be
/// had, and any earlier root that contains it (and so decides for the paths
/// below it) also holds its real location. Writes that real location's
/// length to `real_len`.
static bool root_lists_as_walked(const root_entry *roots, int index, std::size_t *real_len) {
  const char *root = roots[index].path;
  char canonical[PATH_CAP];
  if (plat_fullpath(canonical, root, PATH_CAP) == nullptr) return false;
  const std::size_t n = trimmed_length(root);
  if (std::strlen(canonical) != n || std::strncmp(canonical, root, n) != 0) return false;
  char real_root[PATH_CAP];
  if (plat_realpath(real_root, root, PATH_CAP) == nullptr) return false;
  *real_len = std::strlen(real_root);
  for (int j = 0; j < index; ++j) {
    if (roots[j].exists && root_contains(roots[j].path, canonical) &&
        !real_location_inside(roots[j].path, root))
      return false;
  }
  return true;
}

/// True when the guard would take `path` for `name` on sight, given a plain
/// root and no link on the way: nothing in the text that its checks refuse
/// ("?", "#", "://", and a "\" that the guard reads as a separator where
/// the file system takes it as part of a name), an extension that is not
/// the whole name, and a real location that fits.
static bool accepted_on_sight(const char *path, const char *name, const root_walk &walk) {
  const bool backslash_in_name = !plat_is_separator('\\') && std::strchr(path, '\\') != nullptr;
  return !backslash_in_name && std::strpbrk(path, "?#") == nullptr &&
         std::strstr(path, "://") == nullptr && std::strrchr(name, '.') != name &&
         walk.real_root_len + std::strlen(path) < PATH_CAP;
}

/// True when the path guard accepts `path` and would open the very file the
/// walk found there. The two can differ under a relative root: the walk
/// starts from the working directory, the guard from the home directory.
static bool guard_opens_same_file(const char *path) {
  char resolved[PATH_CAP];
  char real_path[PATH_CAP];
  return resolve_db_path(path, resolved) == 1 &&
         plat_realpath(real_path, path, PATH_CAP) != nullptr &&
         std::strcmp(real_path, resolved) == 0;
}

/// True when `path` may be listed: a client can send it back as the `db`
/// field intact (it survives the document and fits the field once
/// URL-encoded), and the path guard accepts it for this same file. The
/// guard is asked only when the path crossed a link or the root is not
/// plain.
static bool listable(const char *path, const char *name, bool via_link, const root_walk &walk) {
  if (!survives_round_trip(path) || uri_component_length(path) > DB_CAP - 1) return false;
  if (walk.plain && !via_link && accepted_on_sight(path, name, walk)) return true;
  return guard_opens_same_file(path);
}

/// Writes `dir`, the platform's separator and `name` into `out` (PATH_CAP
/// bytes). False when
/// the result does not fit: such an entry is passed over, since a cut path
/// would name some other object.
static bool join_path(const char *dir, std::size_t dir_len, const char *name, char *out) {
  const std::size_t name_len = std::strlen(name);
  if (dir_len + 1 + name_len >= PATH_CAP) return false;
  std::memcpy(out, dir, dir_len);
  out[dir_len] = plat_separator();
  std::memcpy(out + dir_len + 1, name, name_len + 1);
  return true;
}

static void add_db(const char *path, const plat_status &st, root_walk *walk) {
  db_entry *entry = &walk->list[*walk->count];
  copy_str(entry->path, PATH_CAP, path);
  copy_str(entry->root, LABEL_CAP, walk->label);
  entry->bytes = st.size;
  entry->mtime = st.mtime;
  ++*walk->count;
}

static void walk_dbs(const char *dir, int depth, bool via_link, root_walk *walk);

/// True when the link (or untyped entry) `path` leads to a place inside the
/// root's real location. Nothing else is followed: not a link to a folder
/// outside, nor one to "/".
static bool leads_inside(const char *path, const root_walk &walk) {
  char real_path[PATH_CAP];
  return walk.real_root != nullptr && plat_realpath(real_path, path, PATH_CAP) != nullptr &&
         root_contains(walk.real_root, real_path);
}

/// True when `id` is one of the directories being listed at levels 0 to
/// `depth`: entering it would walk a loop.
static bool is_open_dir(const plat_file_id &id, int depth, const root_walk &walk) {
  for (int level = 0; level <= depth; ++level) {
    plat_status st{};
    if (plat_stat(walk.open_dirs[level], &st) && st.id.volume == id.volume &&
        st.id.index == id.index)
      return true;
  }
  return false;
}

/// Examines one counted entry of `dir`: enters a directory, lists a
/// database file. The listing's own entry type decides; a status call is
/// made only for a candidate file and for an entry the listing could not
/// type or that is a link, which is judged by what it points to.
static void examine_entry(const char *dir, std::size_t dir_len, const plat_dir_entry &entry,
                          int depth, bool via_link, root_walk *walk) {
  const bool candidate = has_db_extension(entry.name);
  plat_kind kind = entry.kind;
  if (kind == PLAT_OTHER || (kind == PLAT_FILE && !candidate)) return;
  char child[PATH_CAP];
  if (!join_path(dir, dir_len, entry.name, child)) return;
  plat_status st{};
  bool have_status = false;
  if (kind == PLAT_LINK || kind == PLAT_UNKNOWN) {
    // An untyped entry may be a link too, and is judged as one: counted as
    // its own entry, but neither opened nor followed unless it leads inside
    // the root.
    if (!leads_inside(child, *walk) || !plat_stat(child, &st)) return;
    if (st.kind == PLAT_DIR && is_open_dir(st.id, depth, *walk)) return;
    have_status = true;
    kind = st.kind;
    via_link = true;
  }
  if (kind == PLAT_DIR) {
    walk_dbs(child, depth + 1, via_link, walk);
    return;
  }
  if (kind != PLAT_FILE || !candidate) return;
  if (!have_status && (!plat_stat(child, &st) || st.kind != PLAT_FILE)) return;
  // The path guard refuses a file with a second hard link: it may be the
  // name of a file outside the roots.
  if (st.links != 1) return;
  if (listable(child, entry.name, via_link, *walk)) add_db(child, st, walk);
}

/// Walks `dir` at level `depth` and, through recursion, the directories
/// below it, adding the databases found to the walk's list. `via_link` is
/// set when the path to `dir` crossed a link. Stops at MAX_DBS databases,
/// when the root's count of entries passes its budget and when the
/// request's time is spent; the entry at which a listing stops is counted,
/// not examined.
static void walk_dbs(const char *dir, int depth, bool via_link, root_walk *walk) {
  if (depth > MAX_DEPTH || *walk->count >= MAX_DBS || walk->scanned > walk->budget) return;
  plat_dir *listing = plat_dir_open(dir);
  if (listing == nullptr) return;  // an unreadable directory is passed over
  walk->open_dirs[depth] = dir;
  const std::size_t dir_len = std::strlen(dir);
  plat_dir_entry entry{};
  while (plat_dir_next(listing, &entry)) {
    if (passed_over(entry.name)) continue;
    ++walk->scanned;
    if (walk->scanned > walk->budget || *walk->count >= MAX_DBS || budget_expired(*walk->time)) {
      walk->cut = true;
      break;
    }
    examine_entry(dir, dir_len, entry, depth, via_link, walk);
  }
  plat_dir_close(listing);
}

static void write_roots(const root_entry *roots, const root_stats *stats, int root_count) {
  out_lit(",\"roots\":[");
  for (int i = 0; i < root_count; ++i) {
    if (i > 0) out_byte(',');
    out_lit("{\"label\":");
    json_str(roots[i].label);
    out_lit(",\"path\":");
    json_str(roots[i].path);
    out_lit(",\"exists\":");
    json_bool(roots[i].exists != 0);
    out_lit(",\"dbs\":");
    json_int(stats[i].dbs);
    out_lit(",\"scanned_entries\":");
    json_int(stats[i].scanned);
    out_lit(",\"truncated\":");
    json_bool(stats[i].truncated);
    out_byte('}');
  }
  out_byte(']');
}

static void write_dbs(const db_entry *list, int count) {
  out_lit(",\"dbs\":[");
  for (int i = 0; i < count; ++i) {
    if (i > 0) out_byte(',');
    out_lit("{\"path\":");
    json_str(list[i].path);
    out_lit(",\"root\":");
    json_str(list[i].root);
    out_lit(",\"bytes\":");
    json_int(list[i].bytes);
    out_lit(",\"mtime\":");
    json_utc(list[i].mtime);
    out_byte('}');
  }
  out_byte(']');
}

// One discovery. It lives in action_dbs's frame, so that the document can
// still be written when the watchdog abandons the walk.
struct discovery {
  root_entry roots[MAX_ROOTS];
  int root_count;
  db_entry list[MAX_DBS];
  int count;
  root_stats stats[MAX_ROOTS];
  int total_scanned;
  budget_state budget;
  int current;       // the root being walked
  int count_before;  // `count` when its walk began
  root_walk walk;    // its walk
  char real_root[PATH_CAP];
};

static void record_walk(discovery *d) {
  d->stats[d->current] = root_stats{d->count - d->count_before, d->walk.scanned, d->walk.cut};
  d->total_scanned += d->walk.scanned;
}

// The part of discovery that the watchdog may abandon: the walks, which
// only read the file system.
static void walk_roots(void *arg) {
  discovery *d = static_cast<discovery *>(arg);
  const int budget = scan_budget();
  for (int i = 0; i < d->root_count; ++i) {
    if (!d->roots[i].exists) continue;
    if (d->count >= MAX_DBS || budget_expired(d->budget)) {
      // A root that was never looked at may hold more: say so.
      d->stats[i].truncated = true;
      continue;
    }
    d->walk = root_walk{d->roots[i].label, d->list, &d->count, 0, budget, false, false, 0,
                        nullptr, &d->budget, {}};
    d->walk.plain = root_lists_as_walked(d->roots, i, &d->walk.real_root_len);
    if (plat_realpath(d->real_root, d->roots[i].path, PATH_CAP) != nullptr) {
      d->walk.real_root = d->real_root;
    }
    d->current = i;
    d->count_before = d->count;
    // A listing or a link that the file system is slow to answer is cut
    // like a call into SQLite.
    plat_cut_begin();
    walk_dbs(d->roots[i].path, 0, false, &d->walk);
    plat_cut_end();
    record_walk(d);
  }
}

static void write_document(const discovery &d) {
  json_header();
  out_lit("{\"ok\":true,\"action\":\"dbs\",\"plugin\":\"plugin_sqlite\"");
  write_roots(d.roots, d.stats, d.root_count);
  out_lit(",\"count\":");
  json_int(d.count);
  out_lit(",\"scanned_entries\":");
  json_int(d.total_scanned);
  out_lit(",\"max_depth\":");
  json_int(MAX_DEPTH);
  out_lit(",\"max_scan_entries\":");
  json_int(scan_budget());
  write_dbs(d.list, d.count);
  out_lit(",\"readonly\":true}\n");
}

void action_dbs() {
  static discovery d;  // 800 KB: kept off the stack
  d.root_count = collect_roots(d.roots);
  d.count = 0;
  std::memset(d.stats, 0, sizeof d.stats);
  d.total_scanned = 0;
  budget_start(&d.budget);
  if (plat_run_cuttable(walk_roots, &d)) {
    write_document(d);
    return;
  }
  // Abandoned inside a walk: what it found stands, and it and the roots
  // after it are cut.
  d.walk.cut = true;
  record_walk(&d);
  for (int i = d.current + 1; i < d.root_count; ++i) d.stats[i].truncated = d.roots[i].exists != 0;
  write_document(d);
  plat_exit_now(0);
}
