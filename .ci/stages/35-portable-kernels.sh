#!/usr/bin/env bash
# The build a compiler without per-file instruction flags gets: no x86 kernel files at all
# (N47_X86_KERNELS=OFF), only the portable forms, on this x86-64 machine. The whole default
# suite must pass on it, in Release.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/test.sh portable-kernels
