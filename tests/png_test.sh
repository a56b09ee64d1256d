#!/usr/bin/env bash
# remap-palette on PNG pictures, against Netpbm's reading of the same files:
# for each kind of PNG, the output's colours are those of
# `pngtopnm | pamdepth 255 | ppmtoppm | remap` with the palette's signatures,
# its alpha is the input's (both through pamdepth 255), and a picture of at
# most 256 (colour, alpha) pairs comes out as a palette PNG. Then the output
# formats by name, standard input to standard output, PNG palettes, and a
# broken PNG. Skipped (77) without Netpbm.
# Usage: tests/png_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
remap_dir=$(cd "$1" && pwd)
project=$2
command -v pnmtopng > /dev/null || { echo "Netpbm is not installed"; exit 77; }
export PATH="$remap_dir:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
failed() { echo "FAILED: $1"; failures=$((failures + 1)); }
# Colours and alpha as Netpbm reads them, at 8 bits.
colours() { pngtopnm "$1" | pamdepth 255 | ppmtoppm; }
alpha() { pngtopnm -alpha "$1" | pamdepth 255 2> /dev/null | pgmtopgm; }
colour_type() { od -An -tu1 -j25 -N1 "$1" | tr -d ' '; }

# A small photograph with an odd size, and an alpha of eight levels beside it.
pamcut -left 7 -top 5 -width 61 -height 43 "$project/examples/sample.ppm" > photo.ppm
pgmramp -diagonal 61 43 | pnmdepth 7 | pamdepth 255 > alpha.pgm
printf 'P3\n16 1\n255\n' > palette.ppm
for i in $(seq 0 15); do
  printf '%d %d %d\n' $((i * 16 + 5)) $(((i * 97) % 256)) $((255 - i * 13)) >> palette.ppm
done
signatures=()
while read -r r g b; do
  signatures+=("$(printf '#%02x%02x%02x:#%02x%02x%02x' "$r" "$g" "$b" "$r" "$g" "$b")")
done < <(tail -n 16 palette.ppm)

pnmtopng -force -alpha=alpha.pgm photo.ppm > rgba.png
pamdepth 65535 photo.ppm | pnmtopng > rgb16.png
ppmtopgm photo.ppm | pnmtopng > grey.png
ppmtopgm photo.ppm | pnmtopng -force -alpha=alpha.pgm > grey-alpha.png
pnmquant 24 photo.ppm 2> /dev/null | pnmtopng -alpha=alpha.pgm > indexed-trns.png
[ "$(colour_type indexed-trns.png)" = 3 ] || failed "indexed-trns.png is not a palette PNG"

for picture in rgba rgb16 grey grey-alpha indexed-trns; do
  colours "$picture.png" | remap 16 "${signatures[@]}" > expected.ppm
  if ! remap-palette palette.ppm -in "$picture.png" -out out.png 2> err.txt; then
    failed "$picture: $(cat err.txt)"
    continue
  fi
  colours out.png | cmp -s - expected.ppm || failed "$picture: colours"
  # 16 colours and at most 8 alpha levels: a palette PNG.
  [ "$(colour_type out.png)" = 3 ] || failed "$picture: not a palette PNG"
  if pngtopnm -alpha "$picture.png" > /dev/null 2>&1; then
    cmp -s <(alpha out.png) <(alpha "$picture.png") || failed "$picture: alpha"
  fi
  # To P6 by name: the recipe's bytes.
  remap-palette palette.ppm -in "$picture.png" -out out.ppm
  cmp -s out.ppm expected.ppm || failed "$picture: P6 output"
done

# Standard input to standard output keeps the input's format.
remap-palette palette.ppm < rgba.png > piped.out
[ "$(head -c 4 piped.out | od -An -c | tr -d ' ')" = '211PNG' ] || failed "stdin PNG: not PNG out"
colours piped.out | cmp -s - <(colours rgba.png | remap 16 "${signatures[@]}") ||
  failed "stdin PNG: colours"
remap-palette palette.ppm < photo.ppm > piped.ppm
cmp -s piped.ppm <(remap 16 "${signatures[@]}" < photo.ppm) || failed "stdin P6"

# The output's name decides, in any case; another name keeps the input's format.
# (Names no earlier file has in another case: on Windows that is the same file.)
remap 16 "${signatures[@]}" < photo.ppm > snapped.ppm
for name in UPPER.PNG mixed.Png; do
  remap-palette palette.ppm -in photo.ppm -out "$name"
  colours "$name" | cmp -s - snapped.ppm || failed "P6 to $name"
done
for name in lower.pnm UPPER.PPM other.name; do
  remap-palette palette.ppm -in photo.ppm -out "$name"
  cmp -s "$name" snapped.ppm || failed "P6 to $name"
done
remap-palette palette.ppm -in rgba.png -out png.name
[ "$(colour_type png.name)" = 3 ] || failed "PNG to png.name: not PNG"

# A PNG palette: its pixels, in first-occurrence order.
pnmtopng palette.ppm > palette.png
remap-palette palette.png -in photo.ppm -out from-png.ppm
cmp -s from-png.ppm snapped.ppm || failed "PNG palette"

# A broken PNG: one line, status 1.
head -c 300 rgba.png > broken.png
status=0
remap-palette palette.ppm -in broken.png -out broken.ppm 2> err.txt || status=$?
[ "$status" = 1 ] && [ "$(cat err.txt)" = "Corrupt or truncated PNG file." ] ||
  failed "broken PNG (status $status: $(cat err.txt))"

if [ "$failures" -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "PNG: every check passed"
