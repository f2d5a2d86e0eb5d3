#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then runs
# the thread tests again under ThreadSanitizer, and every test that needs no
# window under AddressSanitizer with UndefinedBehaviorSanitizer. A one-minute
# soak of the program against a faulty simulated car follows the first run,
# then the Windows build of the core with its tests under Wine; last, a few
# seconds of every fuzz target, so a regression in an input
# parser shows.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
korvane_install_deps

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600)

# One minute of the real program against a faulty simulated car: it must
# reconnect, stay responsive, keep its memory and write whole files.
scripts/soak.sh 1

# The Windows build of the libraries without widgets and their tests under
# Wine, in a prefix of its own under build-windows; among them the serial
# line against the simulator built above, through a COM port of the prefix.
korvane_install_windows_deps
windows_start=$SECONDS
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_WITH_UI=OFF -DKORVANE_BENCH=OFF \
      -DKORVANE_WERROR=ON -DKORVANE_SIM_PROGRAM="$PWD/build/korvane-sim" >/dev/null
cmake --build build-windows -j "$jobs"
(cd build-windows && ctest --output-on-failure -j "$jobs" --timeout 600)
echo "Windows build and tests under Wine: $((SECONDS - windows_start)) s"

# The sanitizer builds leave the window out: they cover the workers, the
# serial layer, the codecs and the simulator.
for san in thread address; do
  dir="build-$san"
  label=()
  [ "$san" = thread ] && label=(-L threads)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANE_WITH_UI=OFF \
        -DKORVANE_BENCH=OFF -DKORVANE_SANITIZE="$san" -DKORVANE_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
     ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
     ctest --output-on-failure -j "$jobs" --timeout 600 "${label[@]}")
done

# Each fuzz target for a few seconds from its seeds (clang build of its own).
KORVANE_FUZZ_DIR=build-fuzz scripts/fuzz.sh 4
