#!/usr/bin/env bash
# Instructions per request (PyCallObject, PyCallObjectMethod, PyCreateObject)
# against the floor with the lock, counted by callgrind (the same on a loaded
# machine as on a quiet one), and the misses per request of a simulated
# first-level instruction cache (32 KiB, 8 ways, 64-byte lines): a request
# that executes few more instructions than the floor can still cost far more
# time when its code and the interpreter's crowd one cache set.
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
  valgrind --tool=callgrind --collect-atstart=no --cache-sim=yes --I1=32768,8,64 \
    --callgrind-out-file="$scratch/$1-$2.out" \
    "$program" "$1" "$2" "$requests" >/dev/null 2>"$scratch/$1-$2.log" || { cat "$scratch/$1-$2.log" >&2; exit 1; }
  # The summary's events: Ir Dr Dw I1mr ...; instructions, then instruction-cache misses.
  awk '/^summary:/ { print $2, $5 }' "$scratch/$1-$2.out"
}

echo "instructions (and instruction-cache misses) per request over $requests requests,"
echo "against the floor with the lock:"
for kind in call method create; do
  plugin="$(count "$kind" plugin)"
  floor="$(count "$kind" floor)"
  awk -v k="$kind" -v p="$plugin" -v f="$floor" -v n="$requests" 'BEGIN {
    split(p, pp, " "); split(f, ff, " ")
    printf "  %-6s plugin %5.0f (%5.1f), floor %5.0f (%5.1f), ratio %.2f\n",
           k, pp[1] / n, pp[2] / n, ff[1] / n, ff[2] / n, pp[1] / ff[1] }'
done
