#!/usr/bin/env bash
# Builds the Python-free core (settings, parameter parsing, dispatch, the
# registry) and the log writer for Windows with MinGW-w64, and runs their unit
# tests under Wine as 64-bit Windows programs; these machines cannot run 32-bit
# ones, so the same code is also compiled for 32-bit Windows, with warnings as
# errors, to catch size and pointer-width faults. There is no Windows Python
# here: the plugin itself is not built (see "Building on Windows" in README.md).
source "$(dirname "$0")/setup.sh"
qorv_install_missing cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 googletest

windows_options=(-DQORV_CORE_ONLY=ON -DQORV_BENCH=OFF -DQORV_GTEST_SOURCE=/usr/src/googletest
                 -DQORV_FIXTURES_PREFIX=Z:)
echo "== Windows, 64-bit"
qorv_build "$QORV_BUILD/windows-x64" \
  -DCMAKE_TOOLCHAIN_FILE="$QORV_ROOT/cmake/toolchains/mingw-w64-x86_64.cmake" "${windows_options[@]}"
echo "== Windows, 32-bit (compile only, warnings as errors)"
qorv_build "$QORV_BUILD/windows-x86" \
  -DCMAKE_TOOLCHAIN_FILE="$QORV_ROOT/cmake/toolchains/mingw-w64-i686.cmake" "${windows_options[@]}" \
  -DQORV_WERROR=ON

# Wine keeps its prefix in the build tree; the first start makes it.
export WINEPREFIX="$QORV_BUILD/wine-prefix" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"

total=0
failed=()
for program in config_test requests_test log_test; do
  echo "== $program.exe under Wine"
  log="$QORV_BUILD/windows-x64/$program.log"
  status=0
  "$wine" "$QORV_BUILD/windows-x64/tests/$program.exe" >"$log" 2>&1 || status=$?
  tail -n 3 "$log"
  ran="$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -n 1)"
  total=$((total + ${ran:-0}))
  if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    grep -E '^\[  FAILED  \]|Failure' -A 8 "$log" | head -n 60 >&2 || true
    failed+=("$program")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Windows: $total tests ran under Wine; failed: ${failed[*]}" >&2
  exit 1
fi
echo "Windows: $total tests ran under Wine in 3 programs, all passed; the 32-bit build compiled cleanly."
