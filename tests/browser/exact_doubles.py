#!/usr/bin/env python3
"""One million doubles through the exact form, on Python's side.

  exact_doubles.py make DB       writes table r: ROWS rows of an id, the bit
                                 patterns of the row's doubles as one text of
                                 16 hex digits each, and the doubles in
                                 COLUMNS columns without a declared type (so
                                 that SQLite keeps -0.0 and integral reals as
                                 reals); the first row holds the edge reals
  exact_doubles.py check ANSWER...
                                 reads each file (a query answer of the
                                 program, headers cut) with json.loads and
                                 prints how many doubles it compared and the
                                 first that differ from their bit patterns
"""
import json
import math
import random
import sqlite3
import struct
import sys

ROWS = 5000
COLUMNS = 200
EDGES = [0.0, -0.0, 5e-324, -5e-324, 2.225073858507201e-308, 2.2250738585072014e-308,
         1.7976931348623157e308, -1.7976931348623157e308, 0.1, 0.1 + 0.2, 1.0 / 3, 100.0, -1.0,
         1e16, 1e21, 1e22, 1e23, 2.0 ** 53, 2.0 ** 53 + 2, 2.0 ** 63, 2.0 ** 64, 1e-4, 1e-5, 1e-7,
         123456789012345680.0, 9007199254740993.0, 0.5, 4.35, 1e15 + 0.3, 5e-310]


def bits_of(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def random_finite(rng):
    while True:
        value = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(value):
            return value


def make(path):
    rng = random.Random(20)
    db = sqlite3.connect(path)
    names = ", ".join(f"v{k}" for k in range(COLUMNS))
    db.execute(f"CREATE TABLE r (id INTEGER PRIMARY KEY, bits TEXT, {names})")
    rows = []
    for i in range(ROWS):
        values = [random_finite(rng) for _ in range(COLUMNS)]
        if i == 0:
            values[:len(EDGES)] = EDGES
        rows.append((i + 1, "".join(f"{bits_of(v):016x}" for v in values), *values))
    db.executemany(f"INSERT INTO r VALUES ({', '.join('?' * (COLUMNS + 2))})", rows)
    db.commit()
    db.close()


def check(paths):
    compared = 0
    wrong = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            for row in json.load(f)["rows"]:
                bits = row[1]
                for k, value in enumerate(row[2:]):
                    expected = bits[16 * k:16 * k + 16]
                    if not isinstance(value, float) or f"{bits_of(value):016x}" != expected:
                        wrong.append((row[0], k, value, expected))
                    compared += 1
    print(compared, wrong[:5])


if __name__ == "__main__":
    make(sys.argv[2]) if sys.argv[1] == "make" else check(sys.argv[2:])
