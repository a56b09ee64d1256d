#!/usr/bin/env bash
# The whole suite on aarch64: cross-built with warnings as errors, GoogleTest
# built from Debian's source with the same compiler, every test under
# qemu-aarch64. Usage: .ci/aarch64.sh   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$PWD/build-aarch64-deps
toolchain=$PWD/cmake/aarch64-linux-gnu.cmake

if [ ! -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B build-aarch64-gtest -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
  cmake --build build-aarch64-gtest -j2 > /dev/null
  cmake --install build-aarch64-gtest > /dev/null
fi
# PNG through zlib and libspng built from Debian's source for the target.
bash .ci/png_library.sh aarch64-linux-gnu-gcc "$prefix"
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DREMAP_WERROR=ON \
  -DGTest_DIR="$prefix/lib/cmake/GTest" -DREMAP_CROSS_PREFIX="$prefix"
cmake --build build-aarch64 -j2
file build-aarch64/remap | grep -q 'ARM aarch64' || { echo "not an aarch64 build"; exit 1; }
ctest --test-dir build-aarch64 -j2 --output-on-failure
