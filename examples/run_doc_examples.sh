#!/usr/bin/env bash
# Runs every runnable example of the README (each ```sh block right after a
# "<!-- runnable -->" line) and of the manual's EXAMPLES, in order, in folder
# DIR, with `remap` and `remap-palette` taken from REMAP_DIR. DIR starts with
# photo.ppm (the bundled sample), photo.jpg (the same, carrying a comment as
# many JPEG files do), exported.ppm and commented.ppm (the same with a
# comment line, as GIMP exports it) and frames/ holding four pictures.
# Usage: examples/run_doc_examples.sh DIR REMAP_DIR
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
remap_dir=$(cd "$2" && pwd)

cp "$project/examples/sample.ppm" "$dir/photo.ppm"
convert "$dir/photo.ppm" -quality 95 -set comment "Lakeside, evening" "$dir/photo.jpg"
{ printf 'P6\n# Created by GIMP version 2.10.34 PNM plug-in\n'; tail -c +4 "$dir/photo.ppm"; } > "$dir/exported.ppm"
cp "$dir/exported.ppm" "$dir/commented.ppm"
mkdir -p "$dir/frames"
for name in a b c d; do cp "$dir/photo.ppm" "$dir/frames/$name.ppm"; done

readme_examples() {
  awk '/^<!-- runnable -->$/ { marked = 1; next }
       marked && /^```sh$/ { inside = 1; marked = 0; next }
       inside && /^```$/ { inside = 0; print "\036"; next }
       inside { print }
       { marked = 0 }' "$project/README.md"
}
manual_examples() {
  awk '/^\.EX$/ { inside = 1; next } /^\.EE$/ { inside = 0; print "\036"; next } inside' \
      "$project/man/remap.1" | sed -e "s/\\\\(aq/'/g" -e 's/\\-/-/g' -e 's/\\e/\\/g'
}

count=0
run_all() {
  local source=$1 block=""
  while IFS= read -r line; do
    if [ "$line" = $'\036' ]; then
      count=$((count + 1))
      if ! (cd "$dir" && PATH="$remap_dir:$PATH" bash -euo pipefail -c "$block"); then
        printf 'example %d from %s failed:\n%s\n' "$count" "$source" "$block" >&2
        exit 1
      fi
      block=""
    else
      block+="$line"$'\n'
    fi
  done
}
run_all README.md < <(readme_examples)
run_all remap.1 < <(manual_examples)
echo "ran $count examples"
