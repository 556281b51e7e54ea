#!/usr/bin/env bash
# Builds everything and runs every test of the default suite: the Debug build (`dev` preset),
# or the build of the preset given (CI stages use asan and portable-kernels).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
scripts/install-deps.sh base
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
