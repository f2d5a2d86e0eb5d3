#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for
# the given number of seconds (default 60), one after the other:
#   scripts/fuzz.sh 600            every target ten minutes
#   scripts/fuzz.sh 30 fuzz_config only the named targets
# Each run starts from the seeds in fuzz/corpus/<target> plus what earlier
# runs found (build-fuzz/corpus/<target>); a failing input is saved as
# build-fuzz/artifacts/<target>-crash-... and the script ends with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
dir=${KORVANE_FUZZ_DIR:-build-fuzz}

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/deps.sh installs it)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DKORVANE_FUZZ=ON -DKORVANE_WITH_UI=OFF \
  -DKORVANE_BENCH=OFF -DKORVANE_WERROR=ON -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build "$dir" -j "$(nproc)" --target korvane_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$dir"/fuzz_*; do [ -x "$f" ] && targets+=("$(basename "$f")"); done
fi

mkdir -p "$dir/artifacts"
status=0
summary=()
for t in "${targets[@]}"; do
  work="$dir/corpus/$t"
  mkdir -p "$work"
  log="$dir/$t.log"
  echo "== $t: ${seconds}s"
  # New finds go into the working corpus; the repository's seeds are only read.
  if "$dir/$t" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" \
       >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  summary+=("$t: $result, ${execs:-?} executions, ${cov:-cov: ?}")
done
printf '%s\n' "${summary[@]}"
exit $status
