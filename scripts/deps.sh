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

korvane_install_deps() {
  local missing=()
  for p in "${korvane_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q || return 1
  $sudo apt-get install -y -q "${missing[@]}" || return 1
}

# The Windows build of the libraries without widgets and its tests under
# Wine: the distribution's cross compiler, Wine and GoogleTest's sources.
# Without recommends: wine64 would pull in the 32-bit Wine and desktop bits.
korvane_windows_packages=(g++-mingw-w64-x86-64-posix wine64 googletest)

korvane_install_windows_deps() {
  local missing=()
  for p in "${korvane_windows_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q || return 1
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" || return 1
}
