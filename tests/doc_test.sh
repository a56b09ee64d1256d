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

for tool in pnmtopng pngtopnm pamfile pnmcolormap convert identify parallel; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
convert -version 2>/dev/null | grep -q ImageMagick || { echo "skipped: no ImageMagick"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$project/examples/run_doc_examples.sh" "$work" "$remap_dir"

for image in "$work"/*.ppm "$work"/out/*.ppm; do
  case $(basename "$image") in palette16.ppm | darkest-first.ppm | ramp.ppm) continue ;; esac
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
# The recipes for commented inputs are needed: without them the same inputs
# fail at the first comment.
export PATH="$remap_dir:$PATH"
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
