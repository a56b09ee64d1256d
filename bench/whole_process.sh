#!/usr/bin/env bash
# Whole-process timing on deterministic 4096 x 4096 pictures: a smooth
# photo-like one (sky, sun, hills, lake, light grain), the same with grain of
# its own in every component (as many distinct colours as a real photograph),
# a finely textured one, and uniform noise; remap with 8 to 4096 signatures
# spread over the colour cube, each run paired with a copy of the same file
# by dd with one 64 MiB block (the I/O floor: one read into a fresh buffer
# and one write, as remap does; cat would copy inside the kernel with
# copy_file_range, which no filter reading a pipe can), medians; and Netpbm's pnmremap -nofloyd with 8 colours on the
# grainy picture. With BASE=path/to/another/remap, that build is timed too,
# in the same pairs, for a before-and-after.
# Usage: bench/whole_process.sh [RUNS]   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}

command -v pnmremap >/dev/null ||
  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q netpbm; }
[ -x build/remap ] && [ -x build/make_sample ] || { cmake -S . -B build && cmake --build build -j2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
declare -A texture=([smooth]=0 [grain]=16 [fine]=48 [noise]=noise)
for picture in smooth grain fine noise; do
  build/make_sample 4096 4096 "${texture[$picture]}" > "$work/$picture.ppm"
done

python3 - "$work" "$runs" "$(realpath build/remap)" "${BASE:-}" <<'PY'
import random, statistics, subprocess, sys, time
work, runs, remap, base = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
out = f"{work}/out.ppm"

def timed(command, **kw):
    start = time.perf_counter()
    subprocess.run(command, check=True, **kw)
    return time.perf_counter() - start

def floor_copy(image):
    return timed(["dd", f"if={image}", f"of={out}", "bs=64M", "status=none"])

def signatures(count):
    r = random.Random(count)
    return [f"#{r.randrange(1 << 24):06x}:#{r.randrange(1 << 24):06x}" for _ in range(count)]

programs = [("remap", remap)] + ([("base", base)] if base else [])
print(f"median of {runs} runs, each paired with dd of the same file; output to a file")
print(f"{'picture':8s} {'signatures':>10s}  {'dd':>8s}  " +
      "  ".join(f"{name:>8s} {'/dd':>6s}" for name, _ in programs) +
      ("  remap/base" if base else ""))
for picture in ("smooth", "grain", "fine", "noise"):
    image = f"{work}/{picture}.ppm"
    for count in (8, 64, 256, 1024, 4096):
        sigs = signatures(count)
        times = {name: [] for name, _ in programs}
        cats = []
        for run in range(runs + 1):
            c = floor_copy(image)
            for name, program in programs:
                t = timed([program, str(count), *sigs, "-in", image, "-out", out])
                if run:  # the first round warms the caches
                    times[name].append(t)
            if run:
                cats.append(c)
        median = {name: statistics.median(v) for name, v in times.items()}
        floor = statistics.median(cats)
        line = f"{picture:8s} {count:10d}  {floor * 1e3:6.1f}ms  " + "  ".join(
            f"{median[name] * 1e3:6.1f}ms {median[name] / floor:5.2f}x" for name, _ in programs)
        if base:
            line += f"  {median['remap'] / median['base']:9.2f}"
        print(line, flush=True)

# A tool that keeps an answer per distinct colour, on the grainy picture.
palette = f"{work}/map.ppm"
colours = [s[1:7] for s in signatures(8)]
with open(palette, "wb") as f:
    f.write(b"P6\n8 1\n255\n" + bytes.fromhex("".join(colours)))
with open(out, "wb") as f:
    t = timed(["pnmremap", "-nofloyd", f"-mapfile={palette}", f"{work}/grain.ppm"], stdout=f,
              stderr=subprocess.DEVNULL)
print(f"pnmremap -nofloyd, 8 colours, grain picture: {t * 1e3:.0f} ms (one run)")
PY
