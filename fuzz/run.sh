#!/usr/bin/env bash
# Runs one fuzz target for SECONDS over its seed corpus. New inputs go to a
# scratch folder, never into the repository; a finding is written beside
# the target as crash-*, leak-*, timeout-* or oom-* and fails the run.
# usage: run.sh TARGET CORPUS SECONDS [extra libFuzzer flags...]
set -euo pipefail
target="$1" corpus="$2" seconds="$3"
shift 3
work="$(mktemp -d "${TMPDIR:-/tmp}/plugin_sqlite_fuzz_corpus.XXXXXX")"
trap 'rm -rf "$work"' EXIT
artifacts="$(dirname "$target")/findings/$(basename "$target")"
mkdir -p "$artifacts"
# A slow statement ends at its 2-second budget, so 30 seconds on one input
# is a hang.
"$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=20000 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" "$work" "$corpus"
