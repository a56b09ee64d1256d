#!/usr/bin/env bash
# remap-palette against remap with the signatures written out by hand: snap
# and map, palettes of every kind it reads, paths with spaces, the signatures
# it hands on (repeats dropped, first kept), and each refusal with its one
# line and status 1. Exits 77 (skipped) without Netpbm.
# Usage: tests/palette_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
remap_dir=$(cd "$1" && pwd)
export PATH="$remap_dir:$PATH"
project=$2
for tool in ppmtoppm pamdepth pnmtoplainpnm pamtopnm pamstack; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "with space" folder
cp "$project/examples/sample.ppm" "with space/in put.ppm"
printf 'P3\n3 1\n255\n10 20 30  200 100 50  255 255 255\n' > three.ppm
printf 'P3\n1 3\n255\n0 0 0\n255 0 0\n0 0 255\n' > other.ppm        # a column: order is the image's
printf 'P3\n3 1\n15\n1 2 3  15 0 0  0 0 15\n' > depth15.ppm          # scaled to 17 34 51 ...
printf 'P2\n2 1\n255\n0 128\n' > grey.pgm
printf 'P3\n2 1\n255\n0 0 0 1 1 1\n' > two.ppm
pamstack -tupletype=RGB_ALPHA three.ppm <(printf 'P2\n3 1\n255\n0 9 255\n') > three.pam 2>/dev/null
printf 'GIMP Palette\nName: Three\nColumns: 3\n#\n 10  20  30\tDusk\n200 100  50\tClay\n\n255 255 255\n' > three.gpl
printf '# three colours\r\n\r\n#0A141E  dusk\r\n  #c86432\r\n#comment\r\n#ffffff\r\n' > three.txt
printf '#0a141e\n#c86432\n#0a141e\n#ffffff\n#C86432\n' > repeats.txt
printf '#000001\n#000002\n#000003\n#000004\n#000005\n' > five.txt
printf 'P6\n3 1\n255\nxx' > broken.ppm
printf '# nothing here\n\n' > empty.txt
printf '#0a141e\n#12345\n' > short.txt
printf 'GIMP Palette\n1 2 3\n1 2 256\n' > bright.gpl
awk 'BEGIN { for (i = 0; i < 6000; i++) printf "#%06x\n", i * 2731 }' > many.txt

failures=0
failed() { echo "FAILED: $1"; failures=$((failures + 1)); }
check() {  # NAME EXPECTED_STATUS EXPECTED_OUTPUT_FILE_OR_- EXPECTED_STDERR COMMAND...
  local name=$1 status=$2 expected=$3 err=$4
  shift 4
  local got=0
  "$@" > out.ppm 2> err.txt || got=$?
  if [ "$got" != "$status" ] || [ "$(cat err.txt)" != "$err" ] ||
     { [ "$expected" != - ] && ! cmp -s out.ppm "$expected"; }; then
    failed "$name (status $got, stderr: $(cat err.txt))"
  fi
}

# End to end, against remap with the same signatures.
remap 3 '#0a141e:#0a141e' '#c86432:#c86432' '#ffffff:#ffffff' < "with space/in put.ppm" > snap.ppm
remap 3 '#0a141e:#000000' '#c86432:#ff0000' '#ffffff:#0000ff' < "with space/in put.ppm" > map.ppm
remap 3 '#112233:#112233' '#ff0000:#ff0000' '#0000ff:#0000ff' < "with space/in put.ppm" > deep.ppm
remap 2 '#000000:#000000' '#808080:#808080' < "with space/in put.ppm" > grey.ppm

check "snap" 0 snap.ppm "" remap-palette three.ppm -in "with space/in put.ppm"
check "map onto a column" 0 map.ppm "" remap-palette three.ppm other.ppm -in "with space/in put.ppm"
check "-out with a space" 0 - "" remap-palette three.ppm -in "with space/in put.ppm" -out "with space/o.ppm"
cmp -s "with space/o.ppm" snap.ppm || failed "-out file"
check "standard input" 0 snap.ppm "" bash -c 'remap-palette three.ppm < "with space/in put.ppm"'
check "maxval 15 palette" 0 deep.ppm "" remap-palette depth15.ppm -in "with space/in put.ppm"
check "grey palette" 0 grey.ppm "" remap-palette grey.pgm -in "with space/in put.ppm"
check "remap's own failure" 1 - $'Could not open input file.\nCould not load configuration. Usage.' \
  remap-palette three.ppm -in none.ppm
check "palette of 6000 colours" 0 - "" remap-palette many.txt -in "with space/in put.ppm"

# The signatures handed on, read from a stand-in for remap beside a copy of
# the helper: every kind of palette, repeats dropped with the first kept.
mkdir stand-in
cp "$remap_dir/remap-palette" stand-in/
printf '#!/bin/sh\necho "$@"\n' > stand-in/remap
chmod +x stand-in/remap
three="3 #0a141e:#0a141e #c86432:#c86432 #ffffff:#ffffff"
signatures=(
  "PPM image|three.ppm|$three"
  "PAM image with alpha|three.pam|$three"
  "GIMP palette|three.gpl|$three"
  "list: comments, blank lines, names, CRLF, upper case|three.txt|$three"
  "repeats dropped|repeats.txt|$three"
  "repeats dropped, first pair kept|repeats.txt five.txt|3 #0a141e:#000001 #c86432:#000002 #ffffff:#000004"
  "options passed on|three.gpl -out o.ppm -in i.ppm|$three -out o.ppm -in i.ppm"
)
for row in "${signatures[@]}"; do
  IFS='|' read -r name arguments expected <<< "$row"
  # shellcheck disable=SC2086  # the arguments hold no spaces
  got=$(stand-in/remap-palette $arguments 2>&1) || true
  [ "$got" = "$expected" ] || failed "$name: handed on $got"
done
got=$(stand-in/remap-palette <(printf '#ff0000\n')) || true
[ "$got" = "1 #ff0000:#ff0000" ] || failed "palette from a pipe: handed on $got"

# Refusals: status 1 and one line that names the file.
check "missing palette" 1 - "remap-palette: cannot read palette none.ppm" remap-palette none.ppm
check "folder" 1 - "remap-palette: cannot read palette folder" remap-palette folder
check "broken image" 1 - "remap-palette: cannot read palette broken.ppm" remap-palette broken.ppm
check "not a list" 1 - "remap-palette: notimage.txt line 1: not a colour (#rrggbb) nor a comment" \
  bash -c 'echo text > notimage.txt; remap-palette notimage.txt'
check "five digits" 1 - "remap-palette: short.txt line 2: not a colour (#rrggbb)" remap-palette short.txt
check "component above 255" 1 - "remap-palette: bright.gpl line 3: not a colour (R G B, each 0 to 255)" \
  remap-palette bright.gpl
check "no colours" 1 - "remap-palette: palette empty.txt holds no colours" remap-palette empty.txt
check "sizes differ" 1 - "remap-palette: three.ppm and two.ppm differ in size (3 and 2 colours)" \
  remap-palette three.ppm two.ppm -in "with space/in put.ppm"
check "no palette" 1 - "Usage: remap-palette PALETTE [TO_PALETTE] [-in INPUT] [-out OUTPUT]" remap-palette
# A stack of 512 KiB lets the kernel take 128 KiB of arguments, fewer than
# 6000 signatures need.
check "too many colours" 1 - "remap-palette: palette many.txt has 6000 colours, too many for one command line; pnmcolormap picks fewer (pnmcolormap 4096 many.txt > fewer.ppm)" \
  bash -c 'ulimit -s 512; remap-palette many.txt -in "with space/in put.ppm"'
# Without Netpbm on the PATH, lists and GIMP palettes still work.
mkdir bare
ln -s /usr/bin/* bare/
rm -f bare/{pamtopnm,ppmtoppm,pamdepth,pnmtoplainpnm}
check "Netpbm missing" 1 - "remap-palette: Netpbm is needed to read three.ppm" \
  env PATH="$work/bare" "$remap_dir/remap-palette" three.ppm -in "with space/in put.ppm"
check "GIMP palette without Netpbm" 0 snap.ppm "" \
  env PATH="$work/bare" "$remap_dir/remap-palette" three.gpl -in "with space/in put.ppm"

grep -q '^Usage: remap-palette PALETTE' <<< "$(remap-palette --help)" || failed "--help"
grep -qx 'remap-palette [0-9]*\.[0-9]*\.[0-9]*' <<< "$(remap-palette --version)" || failed "--version"

[ "$failures" = 0 ] && echo "remap-palette agrees with remap"
