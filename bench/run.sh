#!/usr/bin/env bash
# Whole-process benchmarks of the Release binary against named peers, both
# measured in the same run by hyperfine: a 500-row query against the sqlite3
# shell's -readonly -json output, and a discovery walk of 60,000 entries
# against find with the same depth, pruning and names. Prints each pair's
# mean times and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v hyperfine >/dev/null || { [ "$(id -u)" -eq 0 ] && apt-get install -y -q hyperfine; }
bin="$PWD/build/plugin_sqlite"
[ -x "$bin" ] || { echo "build first: make build" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# --- query: 500 rows of six columns of mixed types
db="$work/q/bench.db"
mkdir -p "$work/q"
sqlite3 "$db" <<'SQL'
CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, note TEXT, code BLOB);
WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 10000)
INSERT INTO t SELECT x, 'item "' || x || '"', x * 1.25, x % 97, CASE WHEN x % 5 = 0 THEN NULL ELSE 'line' || char(10) || x END, randomblob(16) FROM c;
SQL
sql='SELECT * FROM t LIMIT 500'
query_string="action=query&db=$db&sql=$(python3 -c 'import sys,urllib.parse;print(urllib.parse.quote(sys.argv[1]))' "$sql")"

# --- discovery: 298 directories of 200 entries, fewer than 60,000 in all
# and one database in every other directory, so that neither the scan
# budget nor the cap of 200 databases stops the walk early
tree="$work/tree"
python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(298):
    path = os.path.join(root, f"a{d % 10}", f"b{d}")
    os.makedirs(path, exist_ok=True)
    for f in range(200):
        name = f"f{f}.db" if f == 0 and d % 2 == 0 else f"f{f}.txt"
        open(os.path.join(path, name), "w").close()
PY
find_cmd="find $tree -mindepth 1 -maxdepth 5 \\( -name .git -o -name node_modules -o -name __pycache__ -o -name venv -o -name .venv -o -name bin -o -name obj -o -name target \\) -prune -o -type f \\( -iname '*.db' -o -iname '*.db3' -o -iname '*.sqlite' -o -iname '*.sqlite3' \\) -printf '%p %s %T@\\n'"

report() {  # name peer json
  python3 - "$@" <<'PY'
import json, sys
name, peer, path = sys.argv[1:4]
r = json.load(open(path))["results"]
ours, theirs = r[0]["mean"] * 1000, r[1]["mean"] * 1000
print(f"{name}: plugin_sqlite {ours:.2f} ms, {peer} {theirs:.2f} ms, ratio plugin/peer {ours / theirs:.2f}")
PY
}

hyperfine -N -w 5 -r 100 --export-json "$work/query.json" \
  "env -i SQLITE_ALLOWED_ROOT=$work/q QUERY_STRING=$query_string $bin" \
  "env -i /usr/bin/sqlite3 -readonly -json $db '$sql'" >/dev/null
hyperfine -N -w 3 -r 30 --export-json "$work/dbs.json" \
  "env -i SQLITE_ALLOWED_ROOT=$tree QUERY_STRING=action=dbs $bin" \
  "env -i sh -c \"$find_cmd\"" >/dev/null

echo "500-row query, whole processes (100 runs each):"
report "query" "sqlite3 -readonly -json" "$work/query.json"
echo "discovery walk of $(find "$tree" -mindepth 1 | wc -l) entries, whole processes (30 runs each):"
report "dbs" "find (same depth and pruning)" "$work/dbs.json"
