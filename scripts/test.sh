#!/usr/bin/env bash
# Builds everything and runs every test of the default suite (Debug build, `dev` preset).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh base
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
