# Sourced by the other scripts: installs the Debian packages a script uses
# when any is missing, finds the Pythons to build against, and builds.
set -euo pipefail

QORV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QORV_BUILD="${QORV_BUILD:-$QORV_ROOT/build}"
QORV_JOBS="${QORV_JOBS:-$(nproc)}"

# qorv_install_missing PACKAGE...: apt-get installs those not installed yet.
qorv_install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# qorv_pyenv_prefix MINOR: the prefix of the newest pyenv Python MINOR.x
# (MINOR such as 3.12 or 2.7), or nothing when pyenv has none.
qorv_pyenv_prefix() {
  local pyenv
  pyenv="$(command -v pyenv || echo "${PYENV_ROOT:-$HOME/.pyenv}/bin/pyenv")"
  [ -x "$pyenv" ] || return 0
  local version
  version="$("$pyenv" versions --bare 2>/dev/null | grep -E "^${1//./\\.}\.[0-9]+$" | sort -V | tail -n 1)"
  [ -n "$version" ] && "$pyenv" prefix "$version" 2>/dev/null || true
}

# qorv_build DIR [cmake options...]: configures and builds one build tree.
qorv_build() {
  local dir="$1"
  shift
  cmake -S "$QORV_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$QORV_JOBS"
}
