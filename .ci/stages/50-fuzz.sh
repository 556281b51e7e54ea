#!/usr/bin/env bash
# Each fuzz target for a bounded time (N47_FUZZ_SECONDS, default 60) with AddressSanitizer
# and UBSan, starting from its seed corpus in fuzz/corpus. A crash, a sanitizer report, a
# failed check or a hang fails the stage; the input that caused it is kept in
# build/fuzz/artifacts. New inputs go to a scratch folder, not into the repository.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base fuzz
seconds="${N47_FUZZ_SECONDS:-60}"
targets=(control_messages map_file correction_stages calibration_steps model_params)

cmake --preset fuzz
cmake --build --preset fuzz --target "${targets[@]/%/_fuzzer}"

mkdir -p build/fuzz/artifacts
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
  echo "-- fuzzing $target for ${seconds} s"
  mkdir -p "$scratch/$target"
  log="build/fuzz/$target.log"
  status=0
  build/fuzz/bin/${target}_fuzzer -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=40000 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
    "$scratch/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz target $target failed (status $status)"
    exit 1
  fi
done
