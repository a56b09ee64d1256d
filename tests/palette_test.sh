#!/usr/bin/env bash
# remap-palette from a shell, against remap with the signatures written out
# by hand: snap and map, palettes of every kind from files, pipes and
# standard input, paths with spaces, nothing but the C library on the PATH
# (no Netpbm), and each refusal with its one line, status 1 and the output
# left alone.
# Usage: tests/palette_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
remap_dir=$(cd "$1" && pwd)
export PATH="$remap_dir:$PATH"
project=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "with space" folder
cp "$project/examples/sample.ppm" "with space/in put.ppm"
printf 'P3\n3 1\n255\n10 20 30  200 100 50  255 255 255\n' > three.ppm
printf 'P6\n# made by hand\n3 1\n255\n\x0a\x14\x1e\xc8\x64\x32\xff\xff\xff' > three-raw.ppm
printf 'P7\nWIDTH 3\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n\x0a\x14\x1e\x00\xc8\x64\x32\x09\xff\xff\xff\xff' > three.pam
printf 'P3\n1 3\n255\n0 0 0\n255 0 0\n0 0 255\n' > other.ppm        # a column: order is the image's
printf 'P3\n3 1\n15\n1 2 3  15 0 0  0 0 15\n' > depth15.ppm          # scaled to 17 34 51 ...
printf 'P2\n2 1\n255\n0 128\n' > grey.pgm
printf 'P3\n2 1\n255\n0 0 0 1 1 1\n' > two.ppm
printf 'GIMP Palette\nName: Three\nColumns: 3\n#\n 10  20  30\tDusk\n200 100  50\tClay\n\n255 255 255\n' > three.gpl
printf 'JASC-PAL\r\n0100\r\n3\r\n10 20 30\r\n200 100 50\r\n255 255 255\r\n' > three.pal
printf '\xef\xbb\xbf# three colours\r\n\r\n#0A141E  dusk\r\n  #c86432\r\n#comment\r\n#ffffff\r\n' > three.txt
printf '0a141e dusk\nC86432\nffffff\n' > bare.txt
printf '#0a141e\n#c86432\n#0a141e\n#ffffff\n#C86432\n' > repeats.txt
printf '#000001\n#000002\n#000003\n#000004\n#000005\n' > five.txt
printf 'P6\n3 1\n255\nxx' > broken.ppm
printf '# nothing here\n\n' > empty.txt
printf '#0a141e\n#12345\n' > short.txt
printf '#0a141e\n#e07a5f,\n' > comma.txt
printf 'GIMP Palette\n1 2 3\n1 2 256\n' > bright.gpl
printf 'JASC-PAL\n0100\n4\n1 2 3\n4 5 6\n' > count.pal

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

# Against remap with the same signatures.
remap 3 '#0a141e:#0a141e' '#c86432:#c86432' '#ffffff:#ffffff' < "with space/in put.ppm" > snap.ppm
remap 3 '#0a141e:#000000' '#c86432:#ff0000' '#ffffff:#0000ff' < "with space/in put.ppm" > map.ppm
remap 3 '#0a141e:#000001' '#c86432:#000002' '#ffffff:#000004' < "with space/in put.ppm" > firsts.ppm
remap 3 '#112233:#112233' '#ff0000:#ff0000' '#0000ff:#0000ff' < "with space/in put.ppm" > deep.ppm
remap 2 '#000000:#000000' '#808080:#808080' < "with space/in put.ppm" > grey.ppm

# Every kind of palette the same three colours, with nothing but the C
# library's programs on the PATH: Netpbm is not needed.
mkdir bare
ln -s /usr/bin/{bash,cat,env} bare/
for palette in three.ppm three-raw.ppm three.pam three.gpl three.pal three.txt bare.txt repeats.txt; do
  check "$palette without Netpbm" 0 snap.ppm "" \
    env PATH="$work/bare" "$remap_dir/remap-palette" "$palette" -in "with space/in put.ppm"
done
check "map onto a column" 0 map.ppm "" remap-palette three.ppm other.ppm -in "with space/in put.ppm"
check "repeats dropped, first pair kept" 0 firsts.ppm "" \
  remap-palette repeats.txt five.txt -in "with space/in put.ppm"
check "-out with a space" 0 - "" remap-palette three.ppm -in "with space/in put.ppm" -out "with space/o.ppm"
cmp -s "with space/o.ppm" snap.ppm || failed "-out file"
check "standard input" 0 snap.ppm "" bash -c 'remap-palette three.ppm < "with space/in put.ppm"'
check "palette from a pipe" 0 snap.ppm "" \
  bash -c 'remap-palette <(cat three.gpl) -in "with space/in put.ppm"'
check "palette on standard input" 0 snap.ppm "" \
  bash -c 'remap-palette - -in "with space/in put.ppm" < three.pal'
check "to-palette on standard input" 0 map.ppm "" \
  bash -c 'remap-palette three.txt - -in "with space/in put.ppm" < other.ppm'
check "maxval 15 palette" 0 deep.ppm "" remap-palette depth15.ppm -in "with space/in put.ppm"
check "grey palette" 0 grey.ppm "" remap-palette grey.pgm -in "with space/in put.ppm"
check "remap's own failure" 1 - $'Could not open input file.\nCould not load configuration. Usage.' \
  remap-palette three.ppm -in none.ppm
check "unknown option" 1 - $'Unrecognized option.\nCould not load configuration. Usage.' \
  remap-palette three.ppm other.ppm -x

# Refusals: status 1 and one line that names the file, before any output.
check "missing palette" 1 - "remap-palette: cannot read palette none.ppm" remap-palette none.ppm
check "folder" 1 - "remap-palette: cannot read palette folder" remap-palette folder
check "broken image" 1 - "remap-palette: broken.ppm: the image ends early" remap-palette broken.ppm
check "not a list" 1 - "remap-palette: notimage.txt line 1: not a colour (#rrggbb) nor a comment" \
  bash -c 'echo text > notimage.txt; remap-palette notimage.txt'
check "five digits" 1 - "remap-palette: short.txt line 2: not a colour (#rrggbb)" remap-palette short.txt
check "component above 255" 1 - "remap-palette: bright.gpl line 3: not a colour (R G B, each 0 to 255)" \
  remap-palette bright.gpl
check "JASC-PAL count" 1 - \
  "remap-palette: count.pal line 3: fewer colours than the JASC-PAL header's count (4 counted, 2 listed)" \
  remap-palette count.pal
check "no colours" 1 - "remap-palette: palette empty.txt holds no colours" remap-palette empty.txt
check "sizes differ" 1 - "remap-palette: three.ppm and two.ppm differ in size (3 and 2 colours)" \
  remap-palette three.ppm two.ppm -in "with space/in put.ppm"
check "no palette" 1 - "Usage: remap-palette PALETTE [TO_PALETTE] [-in INPUT] [-out OUTPUT]" remap-palette
check "palette and picture on standard input" 1 - \
  "remap-palette: standard input cannot hold both a palette and the picture (name the picture with -in)" \
  remap-palette - -out o.ppm
check "both palettes on standard input" 1 - "remap-palette: standard input cannot hold both palettes" \
  remap-palette - - -in "with space/in put.ppm"
cp snap.ppm kept.ppm
check "bad palette leaves -out alone" 1 - "remap-palette: comma.txt line 2: not a colour (#rrggbb, then a space or tab before any name)" \
  remap-palette comma.txt -in "with space/in put.ppm" -out kept.ppm
cmp -s kept.ppm snap.ppm || failed "a bad palette changed the -out file"
bytes=$(remap-palette short.txt < "with space/in put.ppm" 2>/dev/null | wc -c) || true
[ "$bytes" = 0 ] || failed "a bad palette wrote $bytes bytes to a pipe"

grep -q '^Usage: remap-palette PALETTE' <<< "$(remap-palette --help)" || failed "--help"
grep -qx 'remap-palette [0-9]*\.[0-9]*\.[0-9]*' <<< "$(remap-palette --version)" || failed "--version"

[ "$failures" = 0 ] && echo "remap-palette agrees with remap"
