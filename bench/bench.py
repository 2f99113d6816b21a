#!/usr/bin/env python3
"""Whole-process benchmarks of the Release binary against named peers.

Every row runs the program and its peer as whole processes, both started
through `env -i` with the same environment, in the same run:
  - wall time: hyperfine, the ratio of the two medians;
  - instructions: valgrind's callgrind, the ratio of the two totals, which
    machine load does not move;
then the peak resident set of each action, and of a sort that runs into the
heap limit, from /usr/bin/time -v.

The fixtures are made here, in a scratch directory that is removed after.
Usage: bench/bench.py [path of the plugin_sqlite binary]
"""
import json
import os
import re
import shlex
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build", "plugin_sqlite"))
SQLITE3 = "/usr/bin/sqlite3"
TIME = "/usr/bin/time"

QUERY_ROWS = 100_000
SCHEMA_TABLES = 200
QUERY_SQL = "SELECT * FROM t LIMIT 500"
COUNT_SQL = "SELECT count(*) FROM t"
# The table list the schema action steps, so that the shell runs the same.
TABLE_LIST_SQL = ("SELECT name, type FROM sqlite_master WHERE type IN ('table','view') "
                  "AND name NOT LIKE 'sqlite_%' ORDER BY name")
# About 100 MB of sort records: more than the 64 MiB heap limit.
HEAP_SORT_SQL = ("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 300000) "
                 "SELECT x, randomblob(300) AS b FROM c ORDER BY b")
# Millions of small sort records without end, alone and through a chain of
# 30 views: SQLite's own count of them is half what they cost the process.
SMALL_SORT_SQL = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c ORDER BY x DESC"
VIEW_CHAIN_SQL = ("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)"
                  + "".join(f", d{i} AS (SELECT x FROM {'c' if i == 1 else f'd{i - 1}'})" for i in range(1, 31))
                  + " SELECT x FROM d30 ORDER BY x DESC")
# The promised peak resident memory of any request.
PEAK_BOUND_MIB = 80
PRUNED = [".git", "node_modules", "__pycache__", "venv", ".venv", "bin", "obj", "target"]
DB_EXTENSIONS = ["*.db", "*.db3", "*.sqlite", "*.sqlite3"]


def make_query_db(path):
    """100,000 rows of ten columns of every storage class: integers small
    and 64-bit, floats that print short and long, text with characters to
    escape, NULLs and blobs."""
    db = sqlite3.connect(path)
    db.executescript(f"""
        CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, ratio REAL,
                       big INTEGER, note TEXT, score REAL, created TEXT, code BLOB);
        WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT {QUERY_ROWS})
        INSERT INTO t SELECT x, 'item "' || x || '"', x * 1.25, x % 97, x / 7.0,
                             x * 9007199254740993,
                             CASE WHEN x % 5 = 0 THEN NULL ELSE 'line' || char(10) || x END,
                             (x % 1000) * 0.001 - 0.5, '2024-05-' || printf('%02d', x % 28 + 1),
                             randomblob(16)
                      FROM c;
    """)
    db.commit()
    db.close()


def make_schema_db(path):
    """200 tables of four columns, each with an index and ten rows."""
    db = sqlite3.connect(path)
    for i in range(SCHEMA_TABLES):
        db.execute(f"CREATE TABLE t{i:03d}(id INTEGER PRIMARY KEY, name TEXT, qty INTEGER, price REAL)")
        db.execute(f"CREATE INDEX t{i:03d}_name ON t{i:03d}(name)")
        db.executemany(f"INSERT INTO t{i:03d}(name, qty, price) VALUES(?, ?, ?)",
                       [(f"n{j}", j, j * 0.5) for j in range(10)])
    db.commit()
    db.close()


def schema_script(db_path, script_path):
    """The statements the schema action runs, for the sqlite3 shell."""
    db = sqlite3.connect(db_path)
    names = [row[0] for row in db.execute(TABLE_LIST_SQL)]
    db.close()
    with open(script_path, "w") as out:
        out.write(TABLE_LIST_SQL + ";\n")
        for name in names:
            quoted = '"' + name.replace('"', '""') + '"'
            out.write(f"SELECT count(*) FROM {quoted};\nPRAGMA table_info({quoted});\n"
                      f"PRAGMA index_list({quoted});\n")


def make_tree(root):
    """A tree five levels deep: 4 x 5 x 5 x 5 directories, 116 files in each
    of the 500 deepest, one database in every fourth of them, and one pruned
    directory with files under each top directory. 58,624 entries are
    examined, under the scan budget of 60,000; 125 databases, under the cap
    of 200."""
    entries = 0
    for a in range(4):
        top = os.path.join(root, f"a{a}")
        os.makedirs(os.path.join(top, PRUNED[a]))
        for f in range(50):
            open(os.path.join(top, PRUNED[a], f"p{f}.db"), "w").close()
        for b in range(5):
            for c in range(5):
                for d in range(5):
                    leaf = os.path.join(top, f"b{b}", f"c{c}", f"d{d}")
                    os.makedirs(leaf)
                    with_db = (b * 25 + c * 5 + d) % 4 == 0
                    for f in range(116):
                        name = f"f{f}.db" if f == 0 and with_db else f"f{f}.txt"
                        with open(os.path.join(leaf, name), "w") as out:
                            out.write("x" * (f % 7))
    # What both walks examine: everything but the pruned directories.
    for _, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in PRUNED]
        entries += len(dirs) + len(files)
    return entries


def query_env(root, action, db="", sql=""):
    fields = {"action": action}
    if db:
        fields["db"] = db
    if sql:
        fields["sql"] = sql
    return [f"SQLITE_ALLOWED_ROOT={root}", "QUERY_STRING=" + urllib.parse.urlencode(fields, quote_via=urllib.parse.quote)]


def command_line(env, argv):
    return " ".join(shlex.quote(part) for part in ["env", "-i", *env, *argv])


def timings(ours, peer, runs, rounds=5):
    """Median wall seconds of the two command lines, and their mean CPU
    seconds (user and system), timed by hyperfine. The runs are split into
    rounds whose order alternates, so that a change of load on the machine
    falls on both sides alike."""
    wall = {ours: [], peer: []}
    cpu = {ours: [], peer: []}
    per_round = max(1, runs // rounds)
    for r in range(rounds):
        order = [ours, peer] if r % 2 == 0 else [peer, ours]
        with tempfile.NamedTemporaryFile(suffix=".json") as export:
            subprocess.run(["hyperfine", "-N", "--style", "none", "-w", str(max(2, per_round // 5)),
                            "-r", str(per_round), "--export-json", export.name, *order],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            results = json.load(open(export.name))["results"]
        for command, result in zip(order, results):
            wall[command] += result["times"]
            cpu[command].append(result["user"] + result["system"])
    return (statistics.median(wall[ours]), statistics.median(wall[peer]),
            statistics.mean(cpu[ours]), statistics.mean(cpu[peer]))


def instructions(env, argv):
    """Instructions the whole process executes, as callgrind counts them."""
    run = subprocess.run(["env", "-i", *env, "/usr/bin/valgrind", "--tool=callgrind",
                          "--callgrind-out-file=/dev/null", *argv],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    return int(re.search(r"I\s+refs:\s+([\d,]+)", run.stderr).group(1).replace(",", ""))


def peak_rss_kb(env, argv):
    """Peak resident set in KiB, and the tail of what the process wrote."""
    run = subprocess.run(["env", "-i", *env, TIME, "-v", *argv], capture_output=True, check=True)
    rss = int(re.search(rb"Maximum resident set size \(kbytes\): (\d+)", run.stderr).group(1))
    return rss, run.stdout[-160:].decode("utf-8", "replace").strip()


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


DOWNLOAD_ROWS = 1_000_000
BIG_TABLES = 20
BIG_ROWS_PER_TABLE = 135_000  # rows of about 1,000 bytes: some 2.7 GB in all


def make_download_db(path):
    """1,000,000 rows of 5 columns: an integer key, a real, two texts and an integer."""
    subprocess.run([SQLITE3, path], check=True, input=(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE t(id INTEGER PRIMARY KEY, r REAL, name TEXT, note TEXT, n INTEGER);"
        f"WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < {DOWNLOAD_ROWS}) "
        "INSERT INTO t SELECT i, i / 7.0, 'name ' || i, CASE WHEN i % 10 = 0 THEN 'a, \"quoted\" note' "
        "ELSE 'note' END, i * 31 % 1000 FROM c;"), text=True)


def make_big_db(path):
    """BIG_TABLES tables of BIG_ROWS_PER_TABLE rows of about 1,000 bytes, a view over each."""
    sql = "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
    for i in range(BIG_TABLES):
        sql += (f"CREATE TABLE big{i:02}(id INTEGER PRIMARY KEY, a INTEGER, b TEXT, c BLOB);"
                f"WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < {BIG_ROWS_PER_TABLE}) "
                f"INSERT INTO big{i:02} SELECT x, x * 7, 'row ' || x, zeroblob(960) FROM n;")
    subprocess.run([SQLITE3, path], check=True, input=sql, text=True)


def download_with_plugin(root, db):
    """Every row of t as CSV, request after request, each going on from the
    row where the last stopped, as the Explorer's Download CSV does. Returns
    the rows received and the requests made."""
    rows = 0
    requests = 0
    while True:
        sql = f"SELECT * FROM (SELECT * FROM t) LIMIT -1 OFFSET {rows}"
        env = query_env(root, "query", db, sql)
        env[-1] += "&format=csv"
        out = subprocess.run(["env", "-i", *env, BIN], capture_output=True).stdout
        answer = json.loads(out[out.index(b"\r\n\r\n") + 4:])
        requests += 1
        rows += answer["row_count"]
        if not answer["truncated"] or answer["aborted"] or answer["row_count"] == 0:
            return rows, requests


def download_ratio(root, db, runs=3):
    """Median wall time of the whole download and of `sqlite3 -csv` writing the
    same rows, in alternating order."""
    ours, peer = [], []
    received = requests = 0
    for _ in range(runs):
        start = time.perf_counter()
        received, requests = download_with_plugin(root, db)
        ours.append(time.perf_counter() - start)
        start = time.perf_counter()
        subprocess.run([SQLITE3, "-readonly", "-csv", db, "SELECT * FROM t"], check=True,
                       stdout=subprocess.DEVNULL)
        peer.append(time.perf_counter() - start)
    return statistics.median(ours), statistics.median(peer), received, requests


def browser_download(db):
    """The lines bench/download.js prints: Download CSV and Download JSON of
    the same table clicked in the Explorer in chromium, against `sqlite3 -csv`
    in the same run, and the check of both files; or why it failed."""
    run = subprocess.run(["node", os.path.join(REPO, "bench", "download.js"), BIN, db, "3"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return ["Download through the Explorer FAILED: " + run.stderr.strip()[-2000:]]
    return [line for line in run.stdout.splitlines() if not line.startswith("{")]


def big_schema(root, db):
    """The schema answer of the big file: wall time, tables listed, counts given."""
    start = time.perf_counter()
    out = subprocess.run(["env", "-i", *query_env(root, "schema", db), BIN], capture_output=True).stdout
    elapsed = time.perf_counter() - start
    answer = json.loads(out[out.index(b"\r\n\r\n") + 4:])
    tables = answer["tables"]
    counted = sum(1 for t in tables if t["rows"] is not None)
    whole = all(len(t["columns"]) == 4 for t in tables)
    return elapsed, len(tables), counted, whole, answer["truncated"]


def main():
    if not os.access(BIN, os.X_OK):
        sys.exit(f"no executable at {BIN}: run `make build` first")
    with tempfile.TemporaryDirectory(prefix="plugin_sqlite_bench.") as work:
        print("Making the fixtures...", file=sys.stderr)
        empty_c = os.path.join(work, "empty.c")
        empty = os.path.join(work, "empty")
        with open(empty_c, "w") as out:
            out.write("int main(void) { return 0; }\n")
        subprocess.run(["cc", "-O2", "-static", "-o", empty, empty_c], check=True)

        qdir = os.path.join(work, "q")
        os.makedirs(qdir)
        qdb = os.path.join(qdir, "bench.db")
        make_query_db(qdb)
        sdir = os.path.join(work, "s")
        os.makedirs(sdir)
        sdb = os.path.join(sdir, "schema.db")
        make_schema_db(sdb)
        script = os.path.join(work, "schema.sql")
        schema_script(sdb, script)
        tree = os.path.join(work, "tree")
        entries = make_tree(tree)

        find_argv = ["/usr/bin/find", tree, "-mindepth", "1", "-maxdepth", "5", "("]
        for i, name in enumerate(PRUNED):
            find_argv += (["-o"] if i else []) + ["-name", name]
        find_argv += [")", "-prune", "-o", "-type", "f", "("]
        for i, pattern in enumerate(DB_EXTENSIONS):
            find_argv += (["-o"] if i else []) + ["-iname", pattern]
        find_argv += [")", "-printf", "%p %s %T@\\n"]

        shell = [SQLITE3, "-readonly", "-json"]
        # (work, peer, our environment, peer environment, peer argv, runs, goal, goal applies to)
        info_env = query_env(qdir, "info")
        page_env = query_env(qdir, "")
        rows = [
            ("`info`", "an empty static C program", info_env, info_env, [empty], 300, 1.10, "wall"),
            ("the page", "an empty static C program", page_env, page_env, [empty], 300, 1.10, "wall"),
            (f"500 rows x 10 mixed columns of {QUERY_ROWS // 1000}k", "`sqlite3 -readonly -json`",
             query_env(qdir, "query", qdb, QUERY_SQL), [], shell + [qdb, QUERY_SQL], 100, 0.40, "both"),
            (f"`count(*)` over {QUERY_ROWS // 1000}k rows", "`sqlite3 -readonly -json`",
             query_env(qdir, "query", qdb, COUNT_SQL), [], shell + [qdb, COUNT_SQL], 100, 0.90, "wall"),
            (f"schema of {SCHEMA_TABLES} tables with an index each", "the sqlite3 shell, same statements",
             query_env(sdir, "schema", sdb), [], shell + [sdb, f".read {script}"], 50, 0.40, "wall"),
            (f"discovery of {entries // 1000}k entries, depth 5", "GNU find, same pruning, -printf size and mtime",
             query_env(tree, "dbs"), [], find_argv, 30, 0.15, "wall"),
        ]

        version = subprocess.run([BIN, "--version"], capture_output=True, text=True).stdout.strip()
        commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True).stdout.strip()
        load_before = load_average()
        print("Measuring...", file=sys.stderr)
        table = []
        for work_name, peer_name, env, peer_env, peer_argv, runs, goal, applies in rows:
            ours_wall, peer_wall, ours_cpu, peer_cpu = timings(command_line(env, [BIN]),
                                                               command_line(peer_env, peer_argv), runs)
            ours_ins = instructions(env, [BIN])
            peer_ins = instructions(peer_env, peer_argv)
            wall_ratio = ours_wall / peer_wall
            ins_ratio = ours_ins / peer_ins
            judged = [wall_ratio] if applies == "wall" else [wall_ratio, ins_ratio]
            met = "yes" if all(r <= goal for r in judged) else "no"
            table.append((work_name, peer_name, ours_wall * 1000, peer_wall * 1000, wall_ratio,
                          ours_cpu / peer_cpu, ours_ins, peer_ins, ins_ratio, f"<= {goal:.2f}x {applies}", met))
        load_after = load_average()

        rss = []
        for name, env in [("info", info_env), ("the page", page_env),
                          ("query, 500 rows", query_env(qdir, "query", qdb, QUERY_SQL)),
                          ("query, count(*)", query_env(qdir, "query", qdb, COUNT_SQL)),
                          ("schema", query_env(sdir, "schema", sdb)),
                          ("dbs", query_env(tree, "dbs")),
                          ("query, a sort past the heap limit", query_env(qdir, "query", qdb, HEAP_SORT_SQL)),
                          ("query, small sort records without end", query_env(qdir, "query", qdb, SMALL_SORT_SQL)),
                          ("query, the same through 30 views", query_env(qdir, "query", qdb, VIEW_CHAIN_SQL))]:
            rss.append((name, *peak_rss_kb(env, [BIN])))
        empty_rss, _ = peak_rss_kb([], [empty])

        print("Making the large fixtures...", file=sys.stderr)
        ddir = os.path.join(work, "d")
        os.makedirs(ddir)
        ddb = os.path.join(ddir, "download.db")
        make_download_db(ddb)
        download = download_ratio(ddir, ddb)
        print("Downloading through the Explorer in chromium...", file=sys.stderr)
        browser = browser_download(ddb)
        bdir = os.path.join(work, "b")
        os.makedirs(bdir)
        bdb = os.path.join(bdir, "big.db")
        make_big_db(bdb)
        big_bytes = os.path.getsize(bdb)
        big = [big_schema(bdir, bdb) for _ in range(3)]

    print(f"plugin_sqlite bench: {version}, commit {commit}")
    print(f"machine: {os.cpu_count()} CPUs (nproc), {cpu_model()}; "
          f"load average {load_before} before, {load_after} after the timings")
    print()
    # The first row's peer is the empty static program started like every
    # other process here: what starting a process costs on this machine.
    start_ms = table[0][3]
    print("| work | peer | plugin ms | peer ms | wall ratio | start floor | CPU ratio "
          "| plugin instructions | peer instructions | instruction ratio | goal | met |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in table:
        print(f"| {r[0]} | {r[1]} | {r[2]:.2f} | {r[3]:.2f} | {r[4]:.2f}x | {start_ms / r[3]:.2f}x "
              f"| {r[5]:.2f}x | {r[6]:,} | {r[7]:,} | {r[8]:.2f}x | {r[9]} | {r[10]} |")
    print()
    print("Wall times are medians of all runs (hyperfine, in rounds of alternating order); the CPU "
          "ratio is of the mean user and system time; instructions are callgrind's totals for the "
          "whole process. The goal is judged on the wall ratio, and for the query on the instruction "
          "ratio too.")
    print()
    print(f"The start floor is the empty static C program's {start_ms:.2f} ms, started through "
          "`env -i` as every process here is, over the peer's time: the lowest wall ratio that a "
          "program started the same way, with the same C library start-up, could reach on this "
          "machine.")
    print()
    print("| action | peak RSS |")
    print("|---|---|")
    for name, kb, _ in rss:
        print(f"| {name} | {kb / 1024:.1f} MiB |")
    print(f"| (the empty static C program) | {empty_rss / 1024:.1f} MiB |")
    print()
    for name, _, tail in rss[-3:]:
        print(f"{name} ends with: ...{tail[-100:]}")
    peak = max(kb for _, kb, _ in rss) / 1024
    print(f"Highest peak: {peak:.1f} MiB; bound {PEAK_BOUND_MIB} MiB: {'met' if peak <= PEAK_BOUND_MIB else 'NOT MET'}")
    print()
    ours_s, peer_s, received, requests = download
    print(f"Download of {DOWNLOAD_ROWS:,} rows x 5 columns as CSV, request after request as the "
          f"Explorer makes them ({requests} requests, {received:,} rows) against `sqlite3 -readonly -csv` "
          f"of the same table: {ours_s:.2f} s / {peer_s:.2f} s = {ours_s / peer_s:.2f}x "
          f"(goal <= 5x: {'met' if ours_s / peer_s <= 5 else 'not met'}); medians of 3, alternating.")
    print()
    print("The same downloads clicked in the Explorer (bench/download.js):")
    for line in browser:
        print(f"- {line}")
    print()
    print(f"Schema of a {big_bytes / 1e9:.1f} GB file of {BIG_TABLES} tables of {BIG_ROWS_PER_TABLE:,} rows "
          "(just written, so mostly in the page cache), three runs:")
    for elapsed, listed, counted, whole, truncated in big:
        print(f"- {elapsed * 1000:.0f} ms, {listed} of {BIG_TABLES} tables listed with all their columns: "
              f"{'yes' if whole else 'no'}, {counted} counted, truncated {str(truncated).lower()}")


if __name__ == "__main__":
    main()
