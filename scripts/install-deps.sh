#!/usr/bin/env bash
# Installs what this machine lacks for `make demo` (argument "demo"), for
# `make bench` (argument "bench") or for `make test` (argument "test", the
# default): Debian packages with apt-get when run as root, and the npm
# packages of package-lock.json (the page's libraries and their bundler,
# which every build needs, and the browser tests' packages).
set -euo pipefail
cd "$(dirname "$0")/.."
purpose="${1:-test}"

# SQLite itself is compiled in from source that the build fetches with npm;
# the sqlite3 shell makes the demo's and the tests' databases, and GDAL's
# ogr2ogr writes a GeoPackage for the tests. clang with libFuzzer's runtime
# builds the fuzz targets; lighttpd serves the program in the test behind a
# standard web server.
packages=(g++ cmake make sqlite3)
[ "$purpose" = test ] && packages+=(libgtest-dev chromium gdal-bin clang libclang-rt-14-dev lighttpd)
# The Windows build and its tests: the mingw-w64 cross compiler, GoogleTest's
# sources to compile with it, and Wine to run the result.
[ "$purpose" = test ] && packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# make bench: the timer, the instruction counter, the memory meter, the
# peers (the sqlite3 shell, GNU find, a static C program), the driver and the
# browser that downloads through the Explorer.
[ "$purpose" = bench ] && packages+=(hyperfine valgrind time findutils gcc libc6-dev python3 chromium)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

if ! npm ls --silent >/dev/null 2>&1; then
  npm ci --no-audit --no-fund
fi
