#!/usr/bin/env bash
# One valgrind memcheck run of the whole road through the exports against the simulated
# detector: allocate, capture, correct, calibrate, save, load, free (the soak program with
# small counts). Any error or leak fails the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base valgrind
cmake --preset release
cmake --build --preset release --target n47_soak
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all \
  build/release/bin/n47_soak --cycles 3 --acquisitions 3 --reload-every 1 --calibrate-every 2
