#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS, default 30, from the
# committed seeds. Any finding fails the run and leaves its input in build-fuzz/.
# Usage: fuzz/run.sh [SECONDS]   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DREMAP_FUZZ=ON -DBUILD_TESTING=OFF \
  -DREMAP_WERROR=ON > /dev/null
cmake --build build-fuzz -j2 --target read_image_fuzz configure_fuzz remap_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in read_image configure remap; do
  mkdir -p "$work/$target"
  log="build-fuzz/${target}_fuzz.log"
  # Headers may promise 12.9 GB; the reader must cope, so large allocations are allowed.
  if ! "build-fuzz/${target}_fuzz" -max_total_time="$seconds" -malloc_limit_mb=16384 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/${target}-" \
      "$work/$target" "$PWD/fuzz/corpus/$target" > "$log" 2>&1; then
    tail -n 60 "$log"
    echo "${target}_fuzz: FINDING (input saved in build-fuzz/)"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  echo "${target}_fuzz: ${runs} executions in ${seconds} s, ${cov}, no findings"
done
