#!/usr/bin/env bash
# Remakes the README's pictures (docs/*.png) by running the README's own
# examples on the bundled sample, so each picture is what its command makes.
# Usage: examples/make_pictures.sh [REMAP_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash examples/run_doc_examples.sh "$work" "${1:-build}"
mkdir -p docs
for picture in $(grep -o 'docs/[a-z0-9_-]*\.png' README.md | sort -u); do
  cp "$work/try/$(basename "$picture")" "$picture"
  echo "made $picture"
done
