#!/usr/bin/env bash
# remap-palette against remap with the same signatures on the command line:
# a 4000 x 3000 picture from make_sample, a palette of COLOURS (default 256)
# picked from it by pnmcolormap, RUNS (default 7) pairs of runs, each pair in
# alternating order, output to a file. Prints each pair and the median ratio.
# Usage: bench/palette_overhead.sh [RUNS] [COLOURS]   (from the project folder, after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
colours=${2:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/make_sample 4000 3000 > "$work/picture.ppm"
pamscale -xsize 400 "$work/picture.ppm" | pnmcolormap "$colours" > "$work/palette.ppm" 2>/dev/null
mapfile -t signatures < <(pnmtoplainpnm "$work/palette.ppm" | tail -n +4 | xargs -n 3 |
  awk '!seen[$0]++ { printf "#%02x%02x%02x:#%02x%02x%02x\n", $1, $2, $3, $1, $2, $3 }')
count=${#signatures[@]}

# Wall time of one run in milliseconds.
time_ms() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
remap_run() { time_ms build/remap "$count" "${signatures[@]}" -in "$work/picture.ppm" -out "$work/remap.ppm"; }
palette_run() { time_ms build/remap-palette "$work/palette.ppm" -in "$work/picture.ppm" -out "$work/palette-out.ppm"; }

remap_run > /dev/null  # warm the caches
palette_run > /dev/null
cmp "$work/remap.ppm" "$work/palette-out.ppm" || { echo "the two outputs differ"; exit 1; }
echo "4000 x 3000, $count signatures, $runs pairs"
printf '%-6s %12s %18s %8s\n' pair "remap ms" "remap-palette ms" ratio
ratios=()
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) -eq 1 ]; then a=$(remap_run); b=$(palette_run); else b=$(palette_run); a=$(remap_run); fi
  ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')
  ratios+=("$ratio")
  printf '%-6s %12s %18s %8s\n' "$i" "$a" "$b" "$ratio"
done
echo "median ratio: $(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')"
