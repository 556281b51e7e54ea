#!/usr/bin/env bash
# The fast kernels where the compiler vectorizes them (Release): their bit-for-bit tests against
# the literal stages, at every dispatch level this machine has (the default suite runs them in
# Debug); then every benchmark, briefly, to prove it builds and runs. The timings of so short a
# run mean nothing; README "Speed" gives the command for real ones.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base
cmake --preset release
cmake --build --preset release --target n47_fast_kernel_tests
build/release/bin/n47_fast_kernel_tests
# No object built for a wider instruction set may define a shared (weak) symbol: the linker
# could keep that copy for every caller, and a processor without the set would fault in it.
shared=$(find build/release/src -name '*avx*.o' -exec nm -C {} + | grep -E ' [WVu] ' || true)
if [ -n "$shared" ]; then echo "shared symbols in wide-instruction objects:"; echo "$shared"; exit 1; fi
cmake --preset bench
cmake --build --preset bench
build/bench/bin/n47_bench --benchmark_min_time=0.01 --benchmark_repetitions=1
# The tool's frame files (NeXus plain and gzip, TIFF) need the tools, which the bench preset
# leaves out.
cmake --preset release -DN47_BUILD_BENCH=ON
cmake --build --preset release --target n47_files_bench
build/release/bin/n47_files_bench --benchmark_min_time=0.01 --benchmark_repetitions=1
