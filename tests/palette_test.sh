#!/usr/bin/env bash
# remap-palette against remap with the signatures written out by hand: snap
# and map, palettes of other depths and kinds, paths with spaces, and each
# refusal with its message and status 1. Exits 77 (skipped) without Netpbm.
# Usage: tests/palette_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
export PATH="$1:$PATH"
project=$2
for tool in ppmtoppm pamdepth pnmtoplainpnm; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "with space"
cp "$project/examples/sample.ppm" "with space/in put.ppm"
printf 'P3\n3 1\n255\n10 20 30  200 100 50  255 255 255\n' > three.ppm
printf 'P3\n1 3\n255\n0 0 0\n255 0 0\n0 0 255\n' > other.ppm        # a column: order is the image's
printf 'P3\n3 1\n15\n1 2 3  15 0 0  0 0 15\n' > depth15.ppm          # scaled to 17 34 51 ...
printf 'P2\n2 1\n255\n0 128\n' > grey.pgm
printf 'P3\n2 1\n255\n0 0 0 1 1 1\n' > two.ppm

failures=0
check() {  # NAME EXPECTED_STATUS EXPECTED_OUTPUT_FILE_OR_- EXPECTED_STDERR COMMAND...
  local name=$1 status=$2 expected=$3 err=$4
  shift 4
  local got=0
  "$@" > out.ppm 2> err.txt || got=$?
  if [ "$got" != "$status" ] || [ "$(cat err.txt)" != "$err" ] ||
     { [ "$expected" != - ] && ! cmp -s out.ppm "$expected"; }; then
    echo "FAILED: $name (status $got, stderr: $(cat err.txt))"
    failures=$((failures + 1))
  fi
}

remap 3 '#0a141e:#0a141e' '#c86432:#c86432' '#ffffff:#ffffff' < "with space/in put.ppm" > snap.ppm
remap 3 '#0a141e:#000000' '#c86432:#ff0000' '#ffffff:#0000ff' < "with space/in put.ppm" > map.ppm
remap 3 '#112233:#112233' '#ff0000:#ff0000' '#0000ff:#0000ff' < "with space/in put.ppm" > deep.ppm
remap 2 '#000000:#000000' '#808080:#808080' < "with space/in put.ppm" > grey.ppm

check "snap" 0 snap.ppm "" remap-palette three.ppm -in "with space/in put.ppm"
check "map onto a column" 0 map.ppm "" remap-palette three.ppm other.ppm -in "with space/in put.ppm"
check "-out with a space" 0 - "" remap-palette three.ppm -in "with space/in put.ppm" -out "with space/o.ppm"
cmp -s "with space/o.ppm" snap.ppm || { echo "FAILED: -out file"; failures=$((failures + 1)); }
check "standard input" 0 snap.ppm "" bash -c 'remap-palette three.ppm < "with space/in put.ppm"'
check "maxval 15 palette" 0 deep.ppm "" remap-palette depth15.ppm -in "with space/in put.ppm"
check "grey palette" 0 grey.ppm "" remap-palette grey.pgm -in "with space/in put.ppm"
check "sizes differ" 1 - "remap-palette: the two palettes differ in size" \
  remap-palette three.ppm two.ppm -in "with space/in put.ppm"
check "missing palette" 1 - "remap-palette: cannot read palette none.ppm" remap-palette none.ppm
check "not an image" 1 - "remap-palette: cannot read palette notimage.txt" \
  bash -c 'echo text > notimage.txt; remap-palette notimage.txt'
check "remap's own failure" 1 - $'Could not open input file.\nCould not load configuration. Usage.' \
  remap-palette three.ppm -in none.ppm
remap-palette --help | grep -q '^Usage: remap-palette PALETTE' || { echo "FAILED: --help"; failures=$((failures + 1)); }
if remap-palette > /dev/null 2>&1; then echo "FAILED: no arguments succeeded"; failures=$((failures + 1)); fi

[ "$failures" = 0 ] && echo "remap-palette agrees with remap"
