#!/usr/bin/env bash
# Runs the README's examples as a reader would from the repository root after
# the Quick start: in folder DIR, which gets a `build` link to REMAP_DIR and
# an `examples` link to the project's, one shell runs the block marked
# "<!-- setup -->" (PATH, a scratch folder, the inputs) and then every ```sh
# block right after a "<!-- runnable -->" line, in order. Then each of the
# manual's EXAMPLES runs in a shell of its own in the same scratch folder,
# `remap` and `remap-palette` taken from REMAP_DIR.
# Usage: examples/run_doc_examples.sh DIR REMAP_DIR
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "$1" && pwd)
remap_dir=$(cd "$2" && pwd)
ln -sfn "$remap_dir" "$dir/build"
ln -sfn "$project/examples" "$dir/examples"

# The blocks of one kind of mark, each followed by a line holding \036.
readme_blocks() {
  awk -v mark="<!-- $1 -->" '$0 == mark { marked = 1; next }
       marked && /^```sh$/ { inside = 1; marked = 0; next }
       inside && /^```$/ { inside = 0; print "\036"; next }
       inside { print }
       { marked = 0 }' "$project/README.md"
}
manual_examples() {
  awk '/^\.EX$/ { inside = 1; next } /^\.EE$/ { inside = 0; print "\036"; next } inside' \
      "$project/man/remap.1" | sed -e "s/\\\\(aq/'/g" -e 's/\\-/-/g' -e 's/\\e/\\/g'
}
blocks=()
split() {
  local block=""
  while IFS= read -r line; do
    if [ "$line" = $'\036' ]; then blocks+=("$block"); block=""; else block+="$line"$'\n'; fi
  done
}
split < <(readme_blocks setup)
[ ${#blocks[@]} -eq 1 ] || { echo "the README has ${#blocks[@]} setup blocks, not one" >&2; exit 1; }
split < <(readme_blocks runnable)
readme_count=${#blocks[@]}

# One session, as pasted into a terminal; the trap names the block that failed.
# It ends by noting the folder the setup moved to.
export SESSION=$dir/.session
session='set -euo pipefail'$'\n''trap '\''echo "$example" > "$SESSION.failed"'\'' ERR'$'\n'
for i in "${!blocks[@]}"; do session+="example=$i"$'\n'"${blocks[$i]}"; done
session+='pwd > "$SESSION.folder"'$'\n'
if ! (cd "$dir" && bash -c "$session"); then
  i=$(cat "$SESSION.failed" 2>/dev/null || echo 0)
  printf 'README.md example %d (0 is the setup) failed:\n%s\n' "$i" "${blocks[$i]}" >&2
  exit 1
fi
scratch=$(cat "$SESSION.folder")
rm -f "$SESSION.folder"

blocks=()
split < <(manual_examples)
for block in "${blocks[@]}"; do
  if ! (cd "$scratch" && PATH="$remap_dir:$PATH" bash -euo pipefail -c "$block"); then
    printf 'an example from remap.1 failed:\n%s\n' "$block" >&2
    exit 1
  fi
done
echo "ran $readme_count README examples and ${#blocks[@]} from the manual in $scratch"
