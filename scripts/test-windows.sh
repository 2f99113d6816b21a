#!/usr/bin/env bash
# Cross-builds the Windows executables (build-win/plugin_sqlite.exe and the
# tests beside it) and runs the Windows tests under Wine. The Wine prefix
# lives in the build folder; one wineserver stays up for the whole run, so
# that each start of a Windows program does not start a server again, and
# is stopped afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-win}"
jobs="${JOBS:-2}"

cmake --toolchain cmake/mingw-w64-x86_64.cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$jobs"

export WINEPREFIX="$PWD/$build/wine-prefix"
export WINEDEBUG=-all
# No .NET or browser engine: a new prefix would otherwise offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
# A server left running for this prefix (by an earlier run) is used as it is.
wineserver -p 2>/dev/null || true
trap 'wineserver -k' EXIT
# Wine's own services start with the first program and keep the output
# streams they were given: started here, they hold no pipe of ctest's, which
# would otherwise wait for them to close it.
wine cmd /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure
