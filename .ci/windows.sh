#!/usr/bin/env bash
# The whole suite on 64-bit Windows: cross-built with MinGW-w64 and warnings
# as errors, GoogleTest built from Debian's source with the same compiler,
# every test under Wine, the kernels checked for aligned vector moves, and
# the zip made. Usage: .ci/windows.sh   (from the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$PWD/build-windows-deps
toolchain=$PWD/cmake/x86_64-w64-mingw32.cmake
# Quiet, and no offer to install .NET or a browser engine into the prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B build-windows-gtest -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
  cmake --build build-windows-gtest -j2 > /dev/null
  cmake --install build-windows-gtest > /dev/null
fi
# PNG through zlib and libspng built from Debian's source for the target.
bash .ci/png_library.sh x86_64-w64-mingw32-gcc-posix "$prefix"
# A server that a test's program started would keep that test's output open
# until it quits, long after the test has ended, and ctest would wait for it
# (a time limit failing the test): one server, started here without the
# tests' streams, stays up between tests and quits a minute after the last
# (unless one runs already).
/usr/lib/wine/wineserver -p60 < /dev/null > /dev/null 2>&1 || true
# Wine makes its prefix on the first start; made here, it says nothing later.
/usr/lib/wine/wine64 wineboot --init > /dev/null 2>&1
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DREMAP_WERROR=ON \
  -DGTest_DIR="$prefix/lib/cmake/GTest" -DREMAP_CROSS_PREFIX="$prefix"
cmake --build build-windows -j2
for program in remap remap-palette; do
  file build-windows/$program.exe | grep -q 'PE32+ executable.*x86-64' || { echo "$program: not a Win64 build"; exit 1; }
done
# GCC leaves Windows' stack 16-byte aligned: no kernel may keep an aligned
# vector move (the build has the assembler write each as an unaligned one).
for kernel in build-windows/CMakeFiles/remap_core.dir/src/remap/x86_*.obj; do
  if x86_64-w64-mingw32-objdump -d "$kernel" | grep -E '\svmov(dqa|dqa32|dqa64|aps|apd|nt[a-z]*)\s'; then
    echo "aligned vector moves in $kernel"
    exit 1
  fi
done
ctest --test-dir build-windows -j2 --output-on-failure
