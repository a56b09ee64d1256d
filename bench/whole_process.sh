#!/usr/bin/env bash
# Whole-process timing against cat, the floor of any copy from file to file:
# deterministic pictures from make_sample (a smooth photo-like one, the same
# with grain of its own, a finely textured one, uniform noise) at 4096 x 4096
# and crops of them at widths that are no multiple of anything (4000 x 3000,
# 1920 x 1080), and the finely textured one's own pixels laid out 1920 wide
# (1920 x 8738), which differs from it in the width alone;
# remap with 1 signature (the practical floor of a filter that reads and
# writes through user space) and with 8 to 4096 spread over the colour cube;
# on every CPU the process may use and pinned to one (taskset -c 0). Each
# remap run is paired with a cat of the same file; medians of RUNS pairs.
# With BASE=path/to/another/remap, that build is timed in the same pairs;
# with WAYS=1, so is build/remap_forced with each way of searching forced,
# to find the best single way from end to end.
# Prints the processor first.
# Usage: bench/whole_process.sh [RUNS]   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

# Built every time, which costs nothing when they are up to date: a forced
# build left from older sources would time other code than remap's.
[ -f build/CMakeCache.txt ] || cmake -S . -B build
cmake --build build -j2 --target remap make_sample ${WAYS:+remap_forced} >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
declare -A texture=([smooth]=0 [grain]=16 [fine]=48 [noise]=noise)
for picture in smooth grain fine noise; do
  build/make_sample 4096 4096 "${texture[$picture]}" > "$work/$picture.ppm"
done
# Crops from the top left of two of them: the same scene at other sizes.
# And the finely textured one's own pixels laid out 1920 wide (its last 256
# left out): the same pixels at another width.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
def raster(name):
    with open(f"{work}/{name}.ppm", "rb") as f:
        return f.read()[len(b"P6\n4096 4096\n255\n"):]
def write(name, width, height, pixels):
    with open(f"{work}/{name}.ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) + pixels)
for name, width, height in (("smooth", 4000, 3000), ("fine", 1920, 1080)):
    whole = raster(name)
    rows = (whole[y * 4096 * 3:(y * 4096 + width) * 3] for y in range(height))
    write(f"{name}-{width}x{height}", width, height, b"".join(rows))
write("fine@1920x8738", 1920, 8738, raster("fine")[:1920 * 8738 * 3])
PY

python3 - "$work" "$runs" "$(realpath build/remap)" "${BASE:-}" "${WAYS:+$(realpath build/remap_forced)}" <<'PY'
import os, platform, random, re, statistics, subprocess, sys, time
work, runs, remap, base, forced = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
out = f"{work}/out.ppm"

def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start

def signatures(count):
    r = random.Random(count)
    return [f"#{r.randrange(1 << 24):06x}:#{r.randrange(1 << 24):06x}" for _ in range(count)]

model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
              if line.startswith("model name")), platform.processor())
print(f"{model}, {len(os.sched_getaffinity(0))} CPUs; median of {runs} runs, each paired "
      f"with cat of the same file; output to a file")
programs = [("remap", [remap])] + ([("base", [base])] if base else [])
if forced:
    programs += [(way, [forced, way]) for way in ("full", "union", "each16", "each8", "remember")]
header = f"{'picture':22s} {'sigs':>5s} {'cpus':>4s} {'cat':>7s}"
for name, _ in programs:
    header += f" {name:>8s} {'/cat':>6s} {'ns/px':>6s}"
print(header)
cases = [(p, n) for p in ("smooth", "grain", "fine", "noise") for n in (1, 8, 64, 256, 4096)]
cases += [("smooth-4000x3000", n) for n in (256, 4096)]
cases += [("fine-1920x1080", n) for n in (256, 4096)]
cases += [("fine@1920x8738", n) for n in (256, 4096)]
for picture, count in cases:
    image = f"{work}/{picture}.ppm"
    size = re.search(r"(\d+)x(\d+)$", picture)
    pixels = int(size[1]) * int(size[2]) if size else 4096 * 4096
    sigs = signatures(count)
    for pin in ([], ["taskset", "-c", "0"]):
        times = {name: [] for name, _ in programs}
        cats = []
        for run in range(runs + 1):
            start = time.perf_counter()
            with open(out, "wb") as f:
                subprocess.run(pin + ["cat", image], check=True, stdout=f)
            c = time.perf_counter() - start
            for name, program in programs:
                t = timed(pin + program + [str(count), *sigs, "-in", image, "-out", out])
                if run:  # the first round warms the caches
                    times[name].append(t)
            if run:
                cats.append(c)
        floor = statistics.median(cats)
        line = f"{picture:22s} {count:5d} {'1' if pin else 'all':>4s} {floor * 1e3:5.1f}ms"
        for name, _ in programs:
            m = statistics.median(times[name])
            line += f" {m * 1e3:6.1f}ms {m / floor:5.2f}x {m * 1e9 / pixels:6.2f}"
        if forced:
            best = min(programs[-5:], key=lambda p: statistics.median(times[p[0]]))[0]
            ratio = statistics.median(times["remap"]) / statistics.median(times[best])
            line += f"  best forced: {best}, remap / best {ratio:.2f}x"
        print(line, flush=True)
PY
