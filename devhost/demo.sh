#!/usr/bin/env bash
# `make demo`: builds a fresh demo folder under build/ from the project's own
# SQL and serves the Explorer on http://127.0.0.1:8080/ until Ctrl-C.
# ZINDO_PASSWORD=... make demo turns the node password gate on.
set -euo pipefail
cd "$(dirname "$0")/.."

demo="$PWD/build/demo"
home="$PWD/build/demo-home"  # an empty home root, so none of your own files are listed
rm -rf "$demo" "$home"
mkdir -p "$demo/more" "$home"
sqlite3 "$demo/shop.db" < devhost/demo.sql
sqlite3 "$demo/more/notes.sqlite" < devhost/notes.sql

export SQLITE_ALLOWED_ROOT="$demo"
export HOME="$home"
export PLUGIN_SQLITE_BIN="${PLUGIN_SQLITE_BIN:-$PWD/build/plugin_sqlite}"
echo "demo databases in $demo"
port="${DEVHOST_PORT:-8080}"
echo "open http://127.0.0.1:$port/ (Ctrl-C stops the host)"
exec node devhost/server.js --port "$port"
