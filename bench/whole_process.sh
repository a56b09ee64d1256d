#!/usr/bin/env bash
# Whole-process timing on a deterministic 4096 x 4096 photo-like picture:
# remap with 2, 8 and 32 signatures against cat of the same file (the I/O
# floor) and Netpbm's pnmremap -nofloyd with the same 8 colours. Prints the
# hyperfine table, the ratios and each command's peak memory.
# Usage: bench/whole_process.sh [RUNS]   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v pnmremap >/dev/null || missing+=(netpbm)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
[ -x build/remap ] && [ -x build/make_sample ] || { cmake -S . -B build && cmake --build build -j2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/make_sample 4096 4096 > "$work/photo.ppm"

# Eight match colours over the picture's range, mapped to a small palette.
colours8=(1b2a49 3c64b4 8fb4e6 d2d2d2 f0e6a0 507830 8c6e3c 285064)
sig8=()
for c in "${colours8[@]}"; do sig8+=("#$c:#$c"); done
sig2=("#3c64b4:#000000" "#507830:#ffffff")
sig32=()
for i in $(seq 0 31); do sig32+=("$(printf '#%02x%02x%02x:#%02x%02x%02x' \
  $(( (i * 53) % 256 )) $(( (i * 97 + 40) % 256 )) $(( (i * 151 + 90) % 256 )) $i $i $i)"); done
{ printf 'P6\n8 1\n255\n'; for c in "${colours8[@]}"; do printf "\\x${c:0:2}\\x${c:2:2}\\x${c:4:2}"; done; } > "$work/map.ppm"

quote() { printf '%q ' "$@"; }
remap=$(realpath build/remap)
declare -A command=(
  [cat]="cat $work/photo.ppm > $work/out.ppm"
  [remap-2]="$(quote "$remap" 2 "${sig2[@]}") -in $work/photo.ppm -out $work/out.ppm"
  [remap-8]="$(quote "$remap" 8 "${sig8[@]}") -in $work/photo.ppm -out $work/out.ppm"
  [remap-32]="$(quote "$remap" 32 "${sig32[@]}") -in $work/photo.ppm -out $work/out.ppm"
  [pnmremap-8]="pnmremap -nofloyd -mapfile=$work/map.ppm $work/photo.ppm > $work/out.ppm 2>/dev/null"
)
names=(cat remap-2 remap-8 remap-32 pnmremap-8)

# The 8-colour remap must agree with pnmremap's before the times mean anything.
eval "${command[remap-8]}" && mv "$work/out.ppm" "$work/remap8.ppm"
eval "${command[pnmremap-8]}" && mv "$work/out.ppm" "$work/pnm8.ppm"
cmp -s "$work/remap8.ppm" "$work/pnm8.ppm" && echo "remap and pnmremap agree on every pixel with the 8 colours" ||
  echo "note: remap and pnmremap differ on some pixels: pnmremap settles exact ties its own way"

args=(--warmup 3 --runs "$runs" --export-json "$work/times.json" -N)
for name in "${names[@]}"; do args+=(-n "$name" "${command[$name]}"); done
hyperfine --shell=bash "${args[@]/#-N/--style=basic}"

python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
m = lambda n: r[n]["median"]
print("\nmedian wall time, ratios from this run:")
for n in r: print(f"  {n:11s} {m(n)*1000:8.1f} ms")
for n in ("remap-2", "remap-8", "remap-32"):
    print(f"  {n} / cat          = {m(n)/m('cat'):.2f}x")
print(f"  pnmremap-8 / remap-8 = {m('pnmremap-8')/m('remap-8'):.1f}x faster")
PY

echo
echo "peak resident memory (raster is $(( 4096 * 4096 * 3 / 1024 )) KiB):"
for name in remap-8 remap-32; do
  python3 - "$name" "${command[$name]}" <<'PY'
import resource, subprocess, sys
subprocess.run(["bash", "-c", sys.argv[2]], check=True)
print(f"  {sys.argv[1]:9s} {resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss} KiB")
PY
done
