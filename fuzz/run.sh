#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build for SECONDS each, starting from its seed
# corpus in fuzz/corpus/NAME (new inputs go to a scratch copy).
# usage: fuzz/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build="$1"
seconds="${2:-20}"
here="$(cd "$(dirname "$0")" && pwd)"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/../tests/sanitizers/lsan.supp:print_suppressions=0}"
for fuzzer in settings parameters requests; do
  work="$(mktemp -d)"
  cp -r "$here/corpus/$fuzzer/." "$work/"
  echo "== ${fuzzer}_fuzzer, ${seconds}s"
  status=0
  "$build/fuzz/${fuzzer}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" >"$work.log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|new_units_added)|Done [0-9]+ runs' "$work.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work.log" >&2
    echo "${fuzzer}_fuzzer failed (exit $status); the input is in $work" >&2
    exit 1
  fi
  rm -rf "$work" "$work.log"
done
