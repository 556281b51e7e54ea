#!/usr/bin/env bash
# The soak run in a Release build against the simulated detector: 1,000 allocate/free cycles,
# then acquisitions with corrections, map reloads and calibration series in between. Every
# result must equal the first run's and resident memory must not grow after warm-up.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base
cmake --preset release
cmake --build --preset release --target n47_soak
build/release/bin/n47_soak --cycles 1000 --acquisitions "${N47_SOAK_ACQUISITIONS:-10000}"
