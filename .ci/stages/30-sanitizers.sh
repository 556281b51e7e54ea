#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer. Every
# report aborts its test (-fno-sanitize-recover, abort_on_error), so any report fails the
# stage. Tests labelled memory-limit limit the address space, which the sanitizers' shadow
# memory cannot live under; they run in the normal build only.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/test.sh asan
