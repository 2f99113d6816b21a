#!/usr/bin/env bash
# Runs every fuzz target in TARGET_DIR for SECONDS each, one at a time, and
# fails when any of them finds something. Each run's full output is kept in
# TARGET_DIR/logs/; its closing lines are shown.
# usage: run_all.sh TARGET_DIR SECONDS
set -uo pipefail
dir="$1" seconds="$2"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$dir/logs"
failed=()
for target in "$dir"/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  log="$dir/logs/$name.log"
  echo "== $name: ${seconds}s"
  nice -n 10 bash "$here/run.sh" "$target" "$here/corpus/${name#fuzz_}" "$seconds" >"$log" 2>&1
  status=$?
  grep -aE '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed|SUMMARY|FINDING|Test unit written|==[0-9]+== ?ERROR)' "$log"
  [ "$status" -eq 0 ] || failed+=("$name")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (inputs under $dir/findings/)" >&2
  exit 1
fi
echo "no findings"
