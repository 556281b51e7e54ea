#!/usr/bin/env bash
# The main job: builds the library, the simulator and the n47 tool (Release), then runs the
# simulated-detector demo. Pictures and the report land in out/demo (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh base
cmake --preset release >/dev/null
cmake --build --preset release --target n47
build/release/bin/n47 demo --out "${1:-out/demo}"
