#!/usr/bin/env bash
# remap-palette on a PNG photograph against the Netpbm pipeline that does the
# same, `pngtopnm | remap | pnmtopng`: a 4000 x 3000 picture (the README's
# photograph enlarged, with noise, ImageMagick's seed fixed), snapped to 16
# colours of its own (pnmcolormap). RUNS runs of each, paired (one of each in
# turn, so that the machine's drift reaches both alike); prints each pair's
# wall and CPU seconds, the medians, and both files' sizes. Checks first that
# both give the same pixels. Needs Netpbm and ImageMagick.
# Usage: bash bench/png_pipeline.sh REMAP_DIR [RUNS]   (from the project folder)
set -euo pipefail
remap_dir=$(cd "$1" && pwd)
runs=${2:-5}
project=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

convert "$project/docs/photo.png" -seed 1 -resize '4000x3000!' -attenuate 0.3 +noise Gaussian \
  -depth 8 photo.png
pngtopnm photo.png | pnmcolormap 16 > palette.ppm 2> /dev/null
signatures=()
while read -r r g b; do
  signatures+=("$(printf '#%02x%02x%02x:#%02x%02x%02x' "$r" "$g" "$b" "$r" "$g" "$b")")
done < <(pnmtoplainpnm palette.ppm | tail -n +4 | xargs -n 3)
ours() { "$remap_dir/remap-palette" palette.ppm -in photo.png -out ours.png; }
pipeline() { pngtopnm photo.png | "$remap_dir/remap" 16 "${signatures[@]}" | pnmtopng > netpbm.png; }
ours
pipeline
cmp -s <(pngtopnm ours.png) <(pngtopnm netpbm.png) || { echo "the two differ in pixels"; exit 1; }

# Wall and CPU (user + system, children included) seconds of one call.
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" > /dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f", $1, $2 + $3 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "run  remap-palette wall cpu  |  pipeline wall cpu"
: > pairs.txt
for run in $(seq "$runs"); do
  a=$(timed ours)
  b=$(timed pipeline)
  echo "$a $b" >> pairs.txt
  echo "$run    $a  |  $b"
done
echo "median wall: remap-palette $(cut -d' ' -f1 pairs.txt | median) s," \
  "pipeline $(cut -d' ' -f3 pairs.txt | median) s;" \
  "median ratio $(awk '{ print $1 / $3 }' pairs.txt | median)"
echo "median CPU: remap-palette $(cut -d' ' -f2 pairs.txt | median) s," \
  "pipeline $(cut -d' ' -f4 pairs.txt | median) s"
echo "size: remap-palette $(wc -c < ours.png) bytes, pnmtopng $(wc -c < netpbm.png) bytes," \
  "ratio $(awk -v a="$(wc -c < ours.png)" -v b="$(wc -c < netpbm.png)" 'BEGIN { printf "%.3f", a / b }')"
