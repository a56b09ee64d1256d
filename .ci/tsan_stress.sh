#!/usr/bin/env bash
# The threads under ThreadSanitizer, again and again: the pass fed in parts
# of every size on up to five threads (in a shuffled order, three times),
# then the whole program, where the reader, the pass's threads and the
# emptying of a large old output run at once, on pictures and palettes of
# every kind; each output must be the bytes of the plain build.
# Usage: .ci/tsan_stress.sh TSAN_BUILD PLAIN_BUILD   (from the project folder)
set -euo pipefail
tsan=$1
plain=$2
export TSAN_OPTIONS="halt_on_error=1 abort_on_error=1"
"$tsan/remap_tests" --gtest_filter='RemapPass.*' --gtest_repeat=3 --gtest_shuffle --gtest_brief=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signatures() {
  awk -v n="$1" -v seed="$1" 'BEGIN { srand(seed); for (i = 0; i < n; i++)
    printf "#%06x:#%06x\n", int(rand() * 16777216), int(rand() * 16777216) }'
}
for picture in smooth noise; do
  kind=""
  [ "$picture" = noise ] && kind=noise
  "$plain/make_sample" 1500 1000 $kind > "$work/$picture.ppm"
  for count in 1 16 300 5000; do
    mapfile -t sigs < <(signatures "$count")
    "$plain/remap" "$count" "${sigs[@]}" -in "$work/$picture.ppm" -out "$work/expected.ppm"
    # An old output large enough to be let go on a thread of its own.
    head -c $((9 << 20)) /dev/zero > "$work/out.ppm"
    "$tsan/remap" "$count" "${sigs[@]}" -in "$work/$picture.ppm" -out "$work/out.ppm"
    cmp "$work/expected.ppm" "$work/out.ppm" || { echo "$picture, $count signatures: other bytes"; exit 1; }
    # And through pipes, as in a user's pipeline.
    "$tsan/remap" "$count" "${sigs[@]}" < "$work/$picture.ppm" | cmp "$work/expected.ppm" - ||
      { echo "$picture, $count signatures, piped: other bytes"; exit 1; }
  done
done
echo "no race in the pass or the program"
