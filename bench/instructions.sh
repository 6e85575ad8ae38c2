#!/usr/bin/env bash
# Instructions per request (PyCallObject, PyCallObjectMethod, PyCreateObject)
# against the floor with the lock, counted by callgrind (the same on a loaded
# machine as on a quiet one).
# usage: bench/instructions.sh BUILD_DIR [REQUESTS]
set -euo pipefail
build="$1"
requests="${2:-5000}"
program="$build/bench/instructions"
[ -x "$program" ] || { echo "no $program: build with the benchmarks" >&2; exit 1; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The same hashes on every run, so that dictionaries take the same paths.
export PYTHONHASHSEED=0

count() {
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$scratch/$1-$2.out" \
    "$program" "$1" "$2" "$requests" >/dev/null 2>"$scratch/$1-$2.log" || { cat "$scratch/$1-$2.log" >&2; exit 1; }
  sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$scratch/$1-$2.out"
}

echo "instructions per request over $requests requests, against the floor with the lock:"
for kind in call method create; do
  plugin="$(count "$kind" plugin)"
  floor="$(count "$kind" floor)"
  awk -v k="$kind" -v p="$plugin" -v f="$floor" -v n="$requests" 'BEGIN {
    printf "  %-6s plugin %5.0f, floor %5.0f, ratio %.2f\n", k, p / n, f / n, p / f }'
done
