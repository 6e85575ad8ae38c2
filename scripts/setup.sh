# Sourced by the other scripts: installs the Debian packages the build needs,
# when any is missing, and finds Python 2.7.
set -euo pipefail

QORV_PACKAGES=(cmake ninja-build g++ pkg-config binutils python3-dev libgtest-dev libgmock-dev
               libbenchmark-dev libreadline-dev clang libclang-rt-14-dev valgrind)

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
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# Python 2.7 is not a Debian 12 package; the machine image carries one under
# pyenv. PYENV_VERSION makes its python2.7 answer when pyenv is on PATH.
export PYENV_VERSION="${PYENV_VERSION:-2.7.18}"
qorv_have_python2() {
  command -v python2.7 >/dev/null 2>&1 && python2.7 -c 'import sys; sys.exit(sys.version_info[:2] != (2, 7))' 2>/dev/null
}

QORV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QORV_BUILD="${QORV_BUILD:-$QORV_ROOT/build}"
QORV_JOBS="${QORV_JOBS:-$(nproc)}"

# qorv_build DIR [cmake options...]: configures and builds one build tree.
qorv_build() {
  local dir="$1"
  shift
  cmake -S "$QORV_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$QORV_JOBS"
}
