#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs the five side by side for SECONDS,
# default 30, each from its committed seeds. Any finding fails the run and
# leaves its input in build-fuzz/.
# Usage: fuzz/run.sh [SECONDS]   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DREMAP_FUZZ=ON -DBUILD_TESTING=OFF \
  -DREMAP_WERROR=ON > /dev/null
cmake --build build-fuzz -j2 --target read_image_fuzz configure_fuzz remap_fuzz palette_fuzz \
  png_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The five run side by side, each for the whole time.
run() {
  local target=$1
  mkdir -p "$work/$target"
  # Headers may promise 12.9 GB; a pipe-like stream still makes the reader
  # allocate before it fails, so large allocations are allowed.
  "build-fuzz/${target}_fuzz" -max_total_time="$seconds" -malloc_limit_mb=16384 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/${target}-" \
    "$work/$target" "$PWD/fuzz/corpus/$target" > "build-fuzz/${target}_fuzz.log" 2>&1
}
targets=(read_image configure remap palette png)
pids=()
for target in "${targets[@]}"; do run "$target" & pids+=($!); done
failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log="build-fuzz/${target}_fuzz.log"
  if ! wait "${pids[$i]}"; then
    tail -n 60 "$log"
    echo "${target}_fuzz: FINDING (input saved in build-fuzz/)"
    failed=1
    continue
  fi
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  echo "${target}_fuzz: ${runs} executions in ${seconds} s, ${cov}, no findings"
done
exit "$failed"
