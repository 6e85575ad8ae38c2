#!/usr/bin/env bash
# Builds the plugin and the reference host (Python 3) and runs the demo
# session in examples/: every request kind, with each answer.
source "$(dirname "$0")/setup.sh"
qorv_install_missing cmake ninja-build g++ pkg-config python3-dev libgtest-dev libgmock-dev \
  libbenchmark-dev libreadline-dev
qorv_build "$QORV_BUILD/py3" -DQORV_PYTHON_VERSION=3 -DQORV_TESTS=OFF -DQORV_BENCH=OFF
echo
echo "== qorv-host -C examples --echo -f session.txt"
"$QORV_BUILD/py3/qorv-host" -C "$QORV_ROOT/examples" --log-dir "$QORV_BUILD/py3" --echo -f session.txt
