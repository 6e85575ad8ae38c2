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

while read -r file; do
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$file has a run path into the build tree"
  fi
done < <(find "$prefix" -type f \( -name '*.so' -o -perm -u+x \) ! -name '*.py')

cmake -S "$here/host_project" -B "$scratch/host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/host" >/dev/null
answer="$("$scratch/host/tiny_host" PyCallObject 'PYMOD=os.path PYOBJ=join c d')"
[ "$answer" = "c/d" ] || fail "the find_package host answered '$answer', not 'c/d'"

# The Debian package, where the embedded Python's library belongs to one.
if command -v dpkg-deb >/dev/null &&
   python_package="$(dpkg -S "$(readlink -f "$python_library")" 2>/dev/null)"; then
  python_package="${python_package%%:*}"
  (cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
  deb="$(ls "$scratch"/package/*.deb)"
  contents="$(dpkg-deb -c "$deb")"
  for file in ./usr/lib/qorv/ ./usr/bin/qorv-host ./usr/include/qorv/plugin_base.h \
              ./usr/share/doc/qorv-python/README.md ./usr/lib/cmake/qorv_python/qorv_python-config.cmake; do
    grep -qF " $file" <<<"$contents" || fail "$deb lacks $file"
  done
  depends="$(dpkg-deb -f "$deb" Depends)"
  grep -qE "(^|, )$python_package( |,|$)" <<<"$depends" ||
    fail "$deb depends on '$depends', not on $python_package"
fi
echo "install_test: passed"
