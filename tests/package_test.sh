#!/usr/bin/env bash
# `cmake --install` and the Debian package both hold both programs, their
# manuals, the licence and the changelog; lintian (when it is
# installed) finds nothing to say about the package; and a second cpack run
# a second later, SOURCE_DATE_EPOCH unset, gives the same bytes. Exits 77
# (skipped) without dpkg-deb.
# Usage: tests/package_test.sh BUILD_DIR [EMULATOR...]
set -euo pipefail
build=$(cd "$1" && pwd)
emulator=("${@:2}")
command -v dpkg-deb >/dev/null || { echo "skipped: dpkg-deb is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
[ -x "$work/prefix/bin/remap" ] || { echo "install: no bin/remap"; exit 1; }
for path in bin/remap-palette share/man/man1/remap.1.gz share/man/man1/remap-palette.1.gz \
            share/doc/remap/copyright share/doc/remap/changelog.Debian.gz; do
  [ -f "$work/prefix/$path" ] || { echo "install: no $path"; exit 1; }
done
printf 'P6\n1 1\n255\n\0\0\0' | ${emulator[@]+"${emulator[@]}"} "$work/prefix/bin/remap" 1 '#000000:#010203' |
  cmp -s - <(printf 'P6\n1 1\n255\n\1\2\3') || { echo "installed remap misbehaves"; exit 1; }
printf 'P6\n1 1\n255\n\0\0\0' |
  ${emulator[@]+"${emulator[@]}"} "$work/prefix/bin/remap-palette" <(printf '#010203\n#fafafa\n') |
  cmp -s - <(printf 'P6\n1 1\n255\n\1\2\3') || { echo "installed remap-palette misbehaves"; exit 1; }

pack() {
  (cd "$work" && env -u SOURCE_DATE_EPOCH cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/$1" > cpack.log) ||
    { cat "$work/cpack.log"; exit 1; }
}
pack package
sleep 1
pack again
deb=$(ls "$work"/package/*.deb)
cmp "$deb" "$work/again/$(basename "$deb")" || { echo "two runs of cpack gave different packages"; exit 1; }
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/remap ./usr/bin/remap-palette ./usr/share/man/man1/remap.1.gz \
            ./usr/share/man/man1/remap-palette.1.gz ./usr/share/doc/remap/copyright \
            ./usr/share/doc/remap/changelog.Debian.gz; do
  grep -q " $path\$" <<< "$contents" || { echo "package lacks $path:"; echo "$contents"; exit 1; }
done
if command -v lintian >/dev/null && [ ${#emulator[@]} -eq 0 ]; then
  # Every tag of warning or error level fails; lower levels are shown.
  lintian --fail-on error,warning --display-info "$deb" || { echo "lintian objects to the package"; exit 1; }
fi
echo "installed and packaged: $(basename "$deb")"
