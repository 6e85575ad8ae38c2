#!/usr/bin/env bash
# Builds the Debian package of the plugin for Debian's Python 3, checks it,
# installs it with apt-get, uses it as a user would (qorv-host on the PATH,
# the demo from the installed examples) and purges it, checking that nothing
# of it is left. It changes the machine's installed packages: CI runs it, on a
# machine of its own.
source "$(dirname "$0")/setup.sh"
qorv_install_missing cmake ninja-build g++ python3-dev libreadline-dev dpkg-dev binutils groff-base
qorv_build "$QORV_BUILD/package" -DQORV_PYTHON_VERSION=3 -DQORV_TESTS=OFF -DQORV_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Release
fail() { echo "error: $*" >&2; exit 1; }

# The demo, run from the clone, leaves nothing there that git would see.
marker="$(mktemp)"
"$QORV_BUILD/package/qorv-host" -C "$QORV_ROOT/examples" -f session.txt >/dev/null 2>&1
left="$(find "$QORV_ROOT/examples" -newer "$marker" ! -type d)"
rm -f "$marker"
[ -z "$left" ] || fail "the demo left files in examples/: $left"

(cd "$QORV_BUILD/package" && cpack -G DEB >/dev/null)
deb="$(ls "$QORV_BUILD"/package/qorv-python_*.deb)"
echo "== $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
bash "$QORV_ROOT/tests/install/check_package.sh" "$deb"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt() { DEBIAN_FRONTEND=noninteractive $sudo apt-get "$@" -y -qq >/dev/null; }
apt install "$deb"
trap 'apt purge qorv-python' EXIT
installed="$(dpkg -L qorv-python)"

scratch="$(mktemp -d)"
answer="$(cd "$scratch" && qorv-host PyCallObject 'PYMOD=os.path PYOBJ=join a b')"
rmdir "$scratch"
[ "$answer" = "a/b" ] ||
  fail "the installed qorv-host ($(command -v qorv-host)) answered '$answer', not 'a/b'"
echo "The package installs, and $(command -v qorv-host) answers a/b."

# Run from the installed examples, as root, with byte code written as any
# module of the user's own would be: removal must take it away too.
examples=/usr/share/doc/qorv-python/examples
$sudo qorv-host -C "$examples" PyRunSimpleFile setup.py \
  PyRunSimpleString 'sys.dont_write_bytecode = False; import inventory' >/dev/null
[ -n "$(find "$examples" -name __pycache__)" ] || fail "the import wrote no byte code to remove"

trap - EXIT
apt purge qorv-python
left=()
while read -r path; do
  # A directory that another package also holds (/usr/bin, ...) stays.
  if [ -e "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then left+=("$path"); fi
done <<<"$installed"
[ ${#left[@]} -eq 0 ] || fail "apt-get purge left ${left[*]}"
[ ! -e /usr/share/doc/qorv-python ] || fail "apt-get purge left /usr/share/doc/qorv-python"
echo "apt-get purge leaves nothing of the package."
