#!/usr/bin/env bash
# Builds both Python variants and runs every test: unit and end-to-end tests
# on Python 3 and Python 2.7, the same again under AddressSanitizer and
# UndefinedBehaviorSanitizer (LeakSanitizer on), and each fuzzer briefly.
source "$(dirname "$0")/setup.sh"
qorv_install_missing "${QORV_PACKAGES[@]}"
if ! qorv_have_python2; then
  echo "error: Python 2.7 (python2.7 with its shared library) is needed for the Python 2 build" >&2
  exit 1
fi

export LSAN_OPTIONS="suppressions=$QORV_ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1"
FUZZ_SECONDS="${QORV_FUZZ_SECONDS:-20}"

run_tests() {
  echo "== tests: $1"
  ctest --test-dir "$QORV_BUILD/$1" --output-on-failure -j "$QORV_JOBS"
}

for version in 3 2; do
  qorv_build "$QORV_BUILD/py$version" -DQORV_PYTHON_VERSION=$version
  run_tests "py$version"
done
for version in 3 2; do
  qorv_build "$QORV_BUILD/asan$version" -DQORV_PYTHON_VERSION=$version -DQORV_SANITIZE=ON \
    -DQORV_BENCH=OFF
  run_tests "asan$version"
done

echo "== fuzzers, ${FUZZ_SECONDS}s each"
CC=clang CXX=clang++ qorv_build "$QORV_BUILD/fuzz" -DQORV_FUZZ=ON -DQORV_TESTS=OFF -DQORV_BENCH=OFF
"$QORV_ROOT/fuzz/run.sh" "$QORV_BUILD/fuzz" "$FUZZ_SECONDS"
echo "All tests passed."
