#!/usr/bin/env bash
# The documentation cannot drift from the program: the manual is clean roff,
# every runnable example in the README and the manual succeeds, what they
# write are readable images, and each README picture is what its command
# makes now. Exits 77 (skipped) when the tools the examples use are missing.
# Usage: tests/doc_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
remap_dir=$1
project=$2

lint=$(groff -ww -man -z "$project/man/remap.1" 2>&1)
[ -z "$lint" ] || { echo "groff: $lint"; exit 1; }
if command -v mandoc >/dev/null; then
  lint=$(mandoc -T lint "$project/man/remap.1" 2>&1) || true
  [ -z "$lint" ] || { echo "mandoc: $lint"; exit 1; }
fi

for tool in pnmtopng pngtopnm pamfile convert parallel; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
convert -version 2>/dev/null | grep -q ImageMagick || { echo "skipped: no ImageMagick"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$project/examples/run_doc_examples.sh" "$work" "$remap_dir"

for image in "$work"/*.ppm "$work"/out/*.ppm; do
  pamfile "$image" | grep -q 'PPM raw, 320 by 240  maxval 255' || { echo "bad output $image"; exit 1; }
done
for image in "$work"/*.png; do
  pngtopnm "$image" > /dev/null || { echo "unreadable $image"; exit 1; }
done
[ "$(ls "$work/out" | wc -l)" -eq 4 ] || { echo "the batch examples did not write four files"; exit 1; }

for picture in $(grep -o 'docs/[a-z0-9_-]*\.png' "$project/README.md" | sort -u); do
  made="$work/$(basename "$picture")"
  cmp -s <(pngtopnm "$project/$picture") <(pngtopnm "$made") ||
    { echo "$picture is not what its command makes now (rerun examples/make_pictures.sh)"; exit 1; }
done
echo "documentation examples and pictures agree with the program"
