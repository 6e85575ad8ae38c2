#!/usr/bin/env bash
# Checks a qorv-python Debian package as its users and Debian's policy need
# it: the files a host and a user look for, the copyright file and the manual
# page (well-formed), stripped binaries, and no byte code from a demo run.
# usage: check_package.sh DEB
set -euo pipefail
deb="$1"
fail() { echo "check_package: $(basename "$deb"): $*" >&2; exit 1; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

contents="$(dpkg-deb -c "$deb")"
for file in ./usr/lib/qorv/qorv_python.so ./usr/bin/qorv-host ./usr/include/qorv/plugin_base.h \
            ./usr/share/doc/qorv-python/README.md ./usr/share/doc/qorv-python/copyright \
            ./usr/share/doc/qorv-python/examples/session.txt \
            ./usr/share/man/man1/qorv-host.1.gz \
            ./usr/lib/cmake/qorv_python/qorv_python-config.cmake; do
  grep -qE " $file( |$)" <<<"$contents" || fail "lacks $file"
done
if grep -qE '__pycache__|\.pyc$' <<<"$contents"; then
  fail "holds byte code: $(grep -E '__pycache__|\.pyc$' <<<"$contents" | head -n 3)"
fi

dpkg-deb -x "$deb" "$scratch"
for binary in usr/bin/qorv-host usr/lib/qorv/qorv_python.so; do
  if readelf -S --wide "$scratch/$binary" | grep -qE ' \.(symtab|debug_[a-z]+) '; then
    fail "$binary is not stripped"
  fi
done
head -n 1 "$scratch/usr/share/doc/qorv-python/copyright" | grep -q '^Format: ' ||
  fail "the copyright file is not in Debian's machine-readable format"
if command -v groff >/dev/null; then
  warnings="$(gzip -dc "$scratch/usr/share/man/man1/qorv-host.1.gz" | groff -man -ww -z 2>&1)"
  [ -z "$warnings" ] || fail "the manual page has faults: $warnings"
fi
echo "check_package: $(basename "$deb") passed"
