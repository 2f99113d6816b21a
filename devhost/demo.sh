#!/usr/bin/env bash
# `make demo`: makes a demo folder under build/ from the project's own SQL
# and serves the Explorer on http://127.0.0.1:8080/plugin_sqlite until
# Ctrl-C. DEVHOST_PORT=8081 chooses another port; ZINDO_PASSWORD=... turns
# the node password gate on; DEMO_DIR chooses another demo folder.
#
# A demo that is already running keeps its folder: a second one shares the
# folder as it is instead of making it afresh.
set -euo pipefail
cd "$(dirname "$0")/.."

demo="${DEMO_DIR:-$PWD/build/demo}"
home="$demo-home"  # an empty home root, so none of your own files are listed
mkdir -p "$(dirname "$demo")"

# Every running demo holds a shared lock on the folder's lock file (the
# descriptor stays open in the host, which replaces this shell); the folder
# is made afresh only under an exclusive lock, that is when no demo runs.
exec 9>"$demo.lock"
if flock -n -x 9; then
  rm -rf "$demo" "$home"
  mkdir -p "$demo/more" "$demo/maps" "$home"
  sqlite3 "$demo/shop.db" < devhost/demo.sql
  sqlite3 "$demo/more/notes.sqlite" < devhost/notes.sql
  sqlite3 "$demo/maps/places.sqlite" < devhost/places.sql
  flock -s 9
else
  flock -s 9
fi

export SQLITE_ALLOWED_ROOT="$demo"
export HOME="$home"
export PLUGIN_SQLITE_BIN="${PLUGIN_SQLITE_BIN:-$PWD/build/plugin_sqlite}"
exec node devhost/server.js --port "${DEVHOST_PORT:-8080}"
