#!/usr/bin/env bash
# Builds the plugin and the reference host (Debian's Python 3) and runs the
# demo session in examples/: every request kind, with each answer.
source "$(dirname "$0")/setup.sh"
qorv_install_missing cmake ninja-build g++ python3-dev libreadline-dev
qorv_build "$QORV_BUILD/demo" -DQORV_PYTHON_VERSION=3 -DQORV_TESTS=OFF -DQORV_BENCH=OFF
echo
echo "== qorv-host -C examples --echo -f session.txt"
"$QORV_BUILD/demo/qorv-host" -C "$QORV_ROOT/examples" --echo -f session.txt
