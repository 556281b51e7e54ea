#!/usr/bin/env bash
# The benchmarks built for 32-bit x86 Linux against Debian's i386 Google Benchmark (unpacked
# into build/i386-benchmark), run briefly to prove they build and run: natively where this
# machine executes 32-bit programs, else under qemu-i386, whose timings mean nothing. README
# "Speed" gives the command for real ones.
source "$(dirname "$0")/../lib/windows.bash"
scripts/unpack-i386.sh build/i386-benchmark libbenchmark-dev libbenchmark1debian
build_preset bench-i386
runner=()
runs_32bit_programs || runner=(qemu-i386)
quiet "${runner[@]}" build/bench-i386/bin/n47_bench --benchmark_min_time=0.001 --benchmark_repetitions=1 \
  --benchmark_filter='(/(literal|sse2)|repairDefectLines)$'
echo "i386 benchmarks: $(grep -c ' ms ' "$work/log") ran${runner:+ under qemu-i386}"
