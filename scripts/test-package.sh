#!/usr/bin/env bash
# Builds the Debian package of the plugin for Debian's Python 3, installs it
# with apt-get, checks that qorv-host on the PATH works, and removes it again.
# It changes the machine's installed packages: CI runs it, on a machine of
# its own.
source "$(dirname "$0")/setup.sh"
qorv_install_missing cmake ninja-build g++ python3-dev libreadline-dev dpkg-dev
qorv_build "$QORV_BUILD/package" -DQORV_PYTHON_VERSION=3 -DQORV_TESTS=OFF -DQORV_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Release
(cd "$QORV_BUILD/package" && cpack -G DEB >/dev/null)
deb="$(ls "$QORV_BUILD"/package/qorv-python_*.deb)"
echo "== $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq qorv-python >/dev/null' EXIT
scratch="$(mktemp -d)"
answer="$(cd "$scratch" && qorv-host PyCallObject 'PYMOD=os.path PYOBJ=join a b')"
rmdir "$scratch"
if [ "$answer" != "a/b" ]; then
  echo "error: the installed qorv-host ($(command -v qorv-host)) answered '$answer', not 'a/b'" >&2
  exit 1
fi
echo "The package installs, and $(command -v qorv-host) answers a/b."
