#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as a user would: the
# installed qorv-host, run from elsewhere, finds the installed plugin by its
# own location; nothing installed refers to the build tree; a host built with
# find_package(qorv_python) works; and the Debian package holds it all.
# usage: install_test.sh BUILD_DIR PYTHON_LIBRARY
set -euo pipefail
build="$(cd "$1" && pwd)"
python_library="$2"
here="$(cd "$(dirname "$0")" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
mkdir "$scratch/elsewhere"
cd "$scratch/elsewhere"

answer="$("$prefix/bin/qorv-host" PyCallObject 'PYMOD=os.path PYOBJ=join a b')"
[ "$answer" = "a/b" ] || fail "installed qorv-host answered '$answer', not 'a/b'"
[ -z "$(ls -A .)" ] || fail "qorv-host left files in the current directory: $(ls -A .)"
[ -f "$prefix/share/man/man1/qorv-host.1.gz" ] || fail "no manual page in $prefix/share/man/man1"

while read -r file; do
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$file has a run path into the build tree"
  fi
done < <(find "$prefix" -type f \( -name '*.so' -o -perm -u+x \) ! -name '*.py')

cmake -S "$here/host_project" -B "$scratch/host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/host" >/dev/null
answer="$("$scratch/host/tiny_host" PyCallObject 'PYMOD=os.path PYOBJ=join c d')"
[ "$answer" = "c/d" ] || fail "the find_package host answered '$answer', not 'c/d'"

# The Debian package: made where the embedded Python's library belongs to a
# Debian package, on which it then depends; refused otherwise.
command -v dpkg-deb >/dev/null || { echo "install_test: passed (no dpkg-deb here)"; exit 0; }
if python_package="$(dpkg -S "$(readlink -f "$python_library")" 2>/dev/null)"; then
  python_package="${python_package%%:*}"
  (cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
  deb="$(ls "$scratch"/package/*.deb)"
  "$here/check_package.sh" "$deb" >/dev/null
  depends="$(dpkg-deb -f "$deb" Depends)"
  grep -qE "(^|, )$python_package( |,|$)" <<<"$depends" ||
    fail "$deb depends on '$depends', not on $python_package"
else
  if refusal="$(cd "$build" && cpack -G DEB -B "$scratch/package" 2>&1)"; then
    fail "cpack made a Debian package of a build whose Python no Debian package holds"
  fi
  grep -qF "no Debian package holds" <<<"$refusal" || fail "cpack refused without saying why: $refusal"
  [ -z "$(find "$scratch/package" -name '*.deb' 2>/dev/null)" ] || fail "cpack left a .deb behind"
fi
echo "install_test: passed"
