#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Sourced by run.sh and test.sh.
korvane_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev libjpeg-dev libpugixml-dev
  xvfb xauth fonts-dejavu-core
  clang libclang-rt-dev xdotool xclip strace python3
  dpkg-dev file
)

# Installs those of the given packages that are missing; the options before
# "--" go to apt-get install.
korvane_install_missing() {
  local opts=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    opts+=("$1")
    shift
  done
  [ "${1-}" = "--" ] && shift
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q || return 1
  $sudo apt-get install -y -q "${opts[@]}" "${missing[@]}" || return 1
}

korvane_install_deps() {
  korvane_install_missing -- "${korvane_packages[@]}"
}

# The Windows build of the libraries without widgets and its tests under
# Wine: the distribution's cross compiler, Wine and GoogleTest's sources.
# Without recommends: wine64 would pull in the 32-bit Wine and desktop bits.
korvane_windows_packages=(g++-mingw-w64-x86-64-posix wine64 googletest)

korvane_install_windows_deps() {
  korvane_install_missing --no-install-recommends -- "${korvane_windows_packages[@]}"
}
