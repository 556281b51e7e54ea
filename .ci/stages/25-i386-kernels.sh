#!/usr/bin/env bash
# The fast kernels' bit-for-bit tests against the literal stages on 32-bit x86 (8 vector
# registers), under qemu-i386, which reports AVX2: the portable, SSE2 and AVX2 kernels all run.
source "$(dirname "$0")/../lib/windows.bash"
# The distribution's GoogleTest is 64-bit only: build a 32-bit one from its sources.
toolchain=$PWD/cmake/toolchains/linux-i386.cmake
quiet cmake -S /usr/src/googletest -B build/gtest-i386 -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/build/gtest-i386/install"
quiet cmake --build build/gtest-i386 -j2
quiet cmake --install build/gtest-i386
quiet cmake -S . -B build/linux-i386-tests -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DN47_BUILD_TESTS=ON -DN47_BUILD_TOOLS=OFF \
  -DCMAKE_PREFIX_PATH="$PWD/build/gtest-i386/install" -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386
quiet cmake --build build/linux-i386-tests -j2 --target n47_fast_kernel_tests
quiet qemu-i386 build/linux-i386-tests/bin/n47_fast_kernel_tests
echo "i386: $(tail -n 1 "$work/log")"
