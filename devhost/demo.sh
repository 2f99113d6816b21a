#!/usr/bin/env bash
# Temporary demo until the development host exists: the version line and
# the info action's answer.
set -euo pipefail
cd "$(dirname "$0")/.."
./build/plugin_sqlite --version
env -i QUERY_STRING=action=info ./build/plugin_sqlite
