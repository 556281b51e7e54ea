#!/usr/bin/env bash
# Benchmarks, briefly: proves that every benchmark builds and runs (Release, `bench` preset).
# The timings of so short a run mean nothing; README "Speed" gives the command for real ones.
# The fast kernels' bit-for-bit tests run in the default suite, at every dispatch level.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base
cmake --preset bench
cmake --build --preset bench
build/bench/bin/n47_bench --benchmark_min_time=0.01 --benchmark_repetitions=1
