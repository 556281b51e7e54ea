#!/usr/bin/env bash
# The soak run in a Release build against the simulated detector: 1,000 allocate/free cycles,
# then acquisitions with corrections, map reloads and calibration series in between. Every
# result must equal the first run's and resident memory must not grow after warm-up. Then
# 1,000 captures on the test grabber, the same way n47 drives a real detector.
#
# With the fast correction kernels one acquisition takes about 14 ms here (2 cores), so the
# 10,000 acquisitions take about two and a half minutes. N47_SOAK_ACQUISITIONS lowers the count
# for a quick local run.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base
acquisitions="${N47_SOAK_ACQUISITIONS:-10000}"
cmake --preset release
cmake --build --preset release --target n47_soak n47_grabber_soak n47_test_grabber
build/release/bin/n47_soak --cycles 1000 --acquisitions "$acquisitions" \
  --reload-every $((acquisitions / 20 > 0 ? acquisitions / 20 : 1)) \
  --calibrate-every $((acquisitions / 4 > 0 ? acquisitions / 4 : 1))

# The hardware road: 1,000 captures through the tool's loading on the test grabber (only the
# eleven grabber operations), a live calibration every 250, each corrected flat checked; about
# 50 s here.
build/release/bin/n47_grabber_soak --grabber build/release/bin/libn47_test_grabber.so --captures 1000
