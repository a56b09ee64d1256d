#!/usr/bin/env bash
# The documentation cannot drift from the program: the manuals are clean
# roff, every runnable example in the README (as a reader runs them, after
# the Quick start and the setup lines) and the manual succeeds, what they
# write are readable images, the recipes for other kinds of file give what
# remap gives the sample, and each README picture is what its command makes
# now. Exits 77 (skipped) when the tools the examples use are missing.
# Usage: tests/doc_test.sh REMAP_DIR PROJECT_DIR
set -euo pipefail
remap_dir=$(cd "$1" && pwd)
project=$2

for tool in groff pnmtopng pngtopnm pamfile pnmcolormap pamdice pamundice pamstack convert identify parallel; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
convert -version 2>/dev/null | grep -q ImageMagick || { echo "skipped: no ImageMagick"; exit 77; }

for page in remap.1 remap-palette.1; do
  lint=$(groff -ww -man -z "$project/man/$page" 2>&1)
  [ -z "$lint" ] || { echo "groff: $lint"; exit 1; }
  if command -v mandoc >/dev/null; then
    lint=$(mandoc -T lint "$project/man/$page" 2>&1) || true
    [ -z "$lint" ] || { echo "mandoc: $lint"; exit 1; }
  fi
done

top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
bash "$project/examples/run_doc_examples.sh" "$top" "$remap_dir"
work=$top/try
[ -d "$work" ] || { echo "the README's setup lines no longer make try/"; exit 1; }

for image in "$work"/*.ppm "$work"/out/*.ppm; do
  case $(basename "$image") in palette16.ppm | darkest-first.ppm | ramp.ppm | tall*.ppm | sky*.ppm | skin*.ppm) continue ;; esac
  pamfile "$image" | grep -q 'PPM raw, 320 by 240  maxval 255' || { echo "bad output $image"; exit 1; }
done
pamfile "$work/palette16.ppm" | grep -q 'PPM raw, 16 by 1 ' || { echo "bad palette"; exit 1; }
for image in "$work"/*.png; do
  pngtopnm "$image" > /dev/null || { echo "unreadable $image"; exit 1; }
done
[ "$(ls "$work/out" | wc -l)" -eq 4 ] || { echo "the batch examples did not write four files"; exit 1; }

for picture in $(grep -o 'docs/[a-z0-9_-]*\.png' "$project/README.md" | sort -u); do
  made="$work/$(basename "$picture")"
  cmp -s <(pngtopnm "$project/$picture") <(pngtopnm "$made") ||
    { echo "$picture is not what its command makes now (rerun examples/make_pictures.sh)"; exit 1; }
done
export PATH="$remap_dir:$PATH"
# Each recipe for another kind of file gives what remap gives the sample
# (through a PNG, where the recipe writes one); the transparent one keeps its
# alpha channel, and the tall one is the sample's tiles recoloured.
duotone() { remap 2 '#000000:#1b2a49' '#ffffff:#f4f1de' "$@"; }
duotone -in "$work/photo.ppm" > "$top/duotone.ppm"
ppmtopgm "$work/photo.ppm" | ppmtoppm | duotone > "$top/grey-duotone.ppm"
for made in deep16-duotone.png:duotone.ppm pam-duotone.ppm:duotone.ppm clear-duotone.png:duotone.ppm \
            grey-duotone.png:grey-duotone.ppm; do
  image=$work/${made%%:*}
  case $image in *.png) pngtopnm "$image" > "$top/made.ppm" ;; *) cp "$image" "$top/made.ppm" ;; esac
  cmp -s "$top/made.ppm" "$top/${made##*:}" || { echo "${made%%:*} is not the sample's duotone"; exit 1; }
done
cmp -s <(pngtopnm -alpha "$work/clear.png") <(pngtopnm -alpha "$work/clear-duotone.png") ||
  { echo "clear-duotone.png lost its transparency"; exit 1; }
cmp -s "$work/tall-duotone.ppm" <(pnmtile 3 70000 "$top/duotone.ppm") ||
  { echo "tall-duotone.ppm is not the tiled duotone"; exit 1; }

# The recipes are needed: without them the same inputs fail with the
# messages the README's table gives for them.
for input in "pngtopnm $work/deep16.png:8-bit images only, please." \
             "pngtopnm $work/grey.png:Not a binary PPM file." \
             "cat $work/photo.pam:Not a binary PPM file." "cat $work/tall.ppm:Cannot read dimensions."; do
  command=${input%%:*}
  err=$(bash -c "$command" | remap 1 '#000000:#ffffff' 2>&1 >/dev/null) && { echo "$command: read"; exit 1; }
  [ "$err" = "${input#*:}"$'\nCould not read image.' ] || { echo "$command: unexpected messages: $err"; exit 1; }
done
expected=$'Cannot read dimensions.\nCould not read image.'
identify -format '%c' "$work/photo.jpg" | grep -q . || { echo "photo.jpg carries no comment"; exit 1; }
for input in "convert $work/photo.jpg -depth 8 ppm:-" "cat $work/exported.ppm"; do
  err=$(bash -c "$input" | remap 1 '#000000:#ffffff' 2>&1 >/dev/null) && { echo "$input: read"; exit 1; }
  [ "$err" = "$expected" ] || { echo "$input: unexpected messages: $err"; exit 1; }
done

# The batch recipe goes on past a bad file, names it, and ends with status 1.
batch=$(awk '/^`remap`.s messages name no file/ { found = 1 }
             found && /^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside' "$project/README.md")
[ -n "$batch" ] || { echo "the README lost its batch recipe"; exit 1; }
mkdir -p "$work/bad/frames" "$work/bad/out"
cp "$project/examples/sample.ppm" "$work/bad/frames/a.ppm"
head -c 100 "$project/examples/sample.ppm" > "$work/bad/frames/broken.ppm"
cp "$project/examples/sample.ppm" "$work/bad/frames/c.ppm"
if err=$(cd "$work/bad" && bash -c "$batch" 2>&1); then echo "the batch recipe hid a failure"; exit 1; fi
grep -q 'remap failed on frames/broken.ppm' <<< "$err" || { echo "the batch recipe did not name the file: $err"; exit 1; }
[ -s "$work/bad/out/c.ppm" ] || { echo "the batch recipe stopped at the bad file"; exit 1; }

echo "documentation examples and pictures agree with the program"
