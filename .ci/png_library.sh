#!/usr/bin/env bash
# The PNG library for a cross build: zlib and libspng, from Debian's source
# packages (fetched with apt-get source through a sources list of its own, so
# the machine's apt settings stay as they are), compiled with the target's C
# compiler into static archives under PREFIX/lib, headers in PREFIX/include.
# Does nothing when PREFIX already has them.
# Usage: .ci/png_library.sh C_COMPILER PREFIX   (from the project folder)
set -euo pipefail
cc=$1
prefix=$2
[ -f "$prefix/lib/libspng.a" ] && [ -f "$prefix/lib/libz.a" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$prefix/lib" "$prefix/include"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
  "http://deb.debian.org/debian bookworm main" > "$work/sources.list"
apt_options=(-q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
             -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
             -o APT::Sandbox::User=root)
apt-get "${apt_options[@]}" update > /dev/null
(cd "$work" && apt-get "${apt_options[@]}" source zlib libspng > /dev/null 2>&1)

# Each library is a handful of C files with no configuration to speak of.
build() {
  local name=$1
  shift
  mkdir -p "$work/objects-$name"
  for source in "$@"; do
    "$cc" -O2 -DSPNG_STATIC -I"$prefix/include" -c "$source" \
      -o "$work/objects-$name/$(basename "$source" .c).o"
  done
  ar rcs "$prefix/lib/lib$name.a" "$work/objects-$name"/*.o
}
zlib=$(echo "$work"/zlib-*/)
for header in zlib.h zconf.h; do cp "$zlib/$header" "$prefix/include/"; done
build z "$zlib"/{adler32,compress,crc32,deflate,infback,inffast,inflate,inftrees,trees,uncompr,zutil}.c
spng=$(echo "$work"/libspng-*/)
cp "$spng/spng/spng.h" "$prefix/include/"
build spng "$spng/spng/spng.c"
