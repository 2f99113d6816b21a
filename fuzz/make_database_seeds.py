#!/usr/bin/env python3
"""Writes the seed corpus of the database fuzz target: small databases with
512-byte pages in the shapes users' files take (rowid and WITHOUT ROWID
tables, indexes, a view, overflow pages, FTS5, R-Tree, WAL with and without
a log). Each seed is the main file's length (4 bytes, little-endian), the
main file, then the write-ahead log. Run once; the output is committed."""
import os
import shutil
import sqlite3
import struct
import sys
import tempfile

COMMON = """
PRAGMA page_size=512;
CREATE TABLE t(x INTEGER PRIMARY KEY, name TEXT, b BLOB);
CREATE INDEX t_name ON t(name);
CREATE VIEW v AS SELECT name FROM t WHERE x > 1;
INSERT INTO t VALUES(1, 'alpha', x'00ff'), (2, 'beta', NULL), (3, 'gamma', zeroblob(900)),
                    (4, printf('%.*c', 700, 'l'), x'01');
"""

SHAPES = {
    "tables_index_view_overflow": COMMON,
    "without_rowid": COMMON + """
CREATE TABLE kv(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
INSERT INTO kv VALUES('a', 1), ('b', 2.5), ('c', 'three'), ('d', x'04');
""",
    "fts5": COMMON + """
CREATE VIRTUAL TABLE docs USING fts5(title, body);
INSERT INTO docs VALUES('one', 'alpha beta'), ('two', 'gamma delta'), ('three', 'alpha gamma');
""",
    "rtree": COMMON + """
CREATE VIRTUAL TABLE boxes USING rtree(id, minx, maxx, miny, maxy);
INSERT INTO boxes VALUES(1, 0, 10, 0, 10), (2, 5, 15, 5, 15), (3, 20, 30, 40, 45);
""",
}


def seed(main, wal=b""):
    return struct.pack("<I", len(main)) + main + wal


def build(folder, name, sql, wal_mode=False, keep_log=False):
    path = os.path.join(folder, name + ".db")
    db = sqlite3.connect(path, isolation_level=None)
    if wal_mode:
        db.execute("PRAGMA page_size=512")
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA wal_autocheckpoint=0")
    db.executescript(sql)
    if keep_log:
        # Copied while the connection is open, the log still holds the rows.
        main = open(path, "rb").read()
        wal = open(path + "-wal", "rb").read()
        db.close()
        return seed(main, wal)
    db.close()
    return seed(open(path, "rb").read())


def main(out):
    os.makedirs(out, exist_ok=True)
    folder = tempfile.mkdtemp()
    try:
        seeds = {name: build(folder, name, sql) for name, sql in SHAPES.items()}
        seeds["wal_idle"] = build(folder, "wal_idle", SHAPES["without_rowid"], wal_mode=True)
        seeds["wal_with_log"] = build(folder, "wal_with_log", SHAPES["without_rowid"],
                                      wal_mode=True, keep_log=True)
        for name, data in seeds.items():
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "database"))
