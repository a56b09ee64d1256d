#!/usr/bin/env bash
# The zip for Windows holds remap.exe, remap-palette.exe, the licence, the
# README and the manuals as web pages, and both programs in it work. Exits 77 (skipped) without
# cpack. Usage: tests/zip_test.sh BUILD_DIR [EMULATOR...]
set -euo pipefail
build=$(cd "$1" && pwd)
emulator=("${@:2}")
command -v cpack >/dev/null || { echo "skipped: cpack is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" > cpack.log) ||
  { cat "$work/cpack.log"; exit 1; }
zip=$(ls "$work"/package/remap-*-win64.zip)
(cd "$work" && cmake -E tar xf "$zip")
folder="$work/$(basename "$zip" .zip)"
for file in remap.exe remap-palette.exe LICENSE.txt README.md remap.html remap-palette.html; do
  [ -s "$folder/$file" ] || { echo "the zip lacks $file:"; ls -R "$work"; exit 1; }
done
grep -q 'Copyright' "$folder/LICENSE.txt" || { echo "LICENSE.txt is not the licence"; exit 1; }
for page in remap.html remap-palette.html; do
  grep -q '<html' "$folder/$page" || { echo "$page is no web page"; exit 1; }
done
printf 'P6\n1 1\n255\n\0\0\0' | ${emulator[@]+"${emulator[@]}"} "$folder/remap.exe" 1 '#000000:#010203' |
  cmp -s - <(printf 'P6\n1 1\n255\n\1\2\3') || { echo "the zipped remap.exe misbehaves"; exit 1; }
printf 'GIMP Palette\r\n1 2 3\r\n250 250 250\r\n' > "$work/two.gpl"
printf 'P6\n1 1\n255\n\0\0\0' > "$work/black.ppm"
(cd "$work" && ${emulator[@]+"${emulator[@]}"} "$folder/remap-palette.exe" two.gpl -in black.ppm) |
  cmp -s - <(printf 'P6\n1 1\n255\n\1\2\3') || { echo "the zipped remap-palette.exe misbehaves"; exit 1; }
echo "zipped: $(basename "$zip") with $(ls "$folder" | tr '\n' ' ')"
