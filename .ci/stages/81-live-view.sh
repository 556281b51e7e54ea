#!/usr/bin/env bash
# The live view in a real browser (headless Debian Chromium), on a Release build: the page
# loads, its picture changes between two screenshots, the frame counter advances, the raw switch
# and the window controls act, a page under a foreign name is refused and the status reports the
# rate (the tool tests FrameSlot.*, FramePicture.* and LiveView*, which fail here rather than
# skip when the browser is missing). A screenshot of the page is kept as
# build/live-view/live_view_screenshot.png. Then the rate: the benchmark of capture to screen
# must show at least 10 frames a second captured, corrected and shown.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base browser
cmake --preset release
cmake --build --preset release --target n47 n47_tool_tests n47_test_grabber
mkdir -p build/live-view
N47_REQUIRE_CHROMIUM=1 N47_VIEW_SCREENSHOT="$PWD/build/live-view/live_view_screenshot.png" \
  build/release/bin/n47_tool_tests --gtest_filter='FrameSlot.*:FramePicture.*:LiveView*'
test -s build/live-view/live_view_screenshot.png
echo "screenshot: build/live-view/live_view_screenshot.png"

cmake --preset bench
cmake --build --preset bench --target n47_view_bench
build/bench/bin/n47_view_bench --benchmark_filter='simulatorRender|captureToScreen' \
  --benchmark_format=json --benchmark_out=build/live-view/rate.json --benchmark_out_format=json >/dev/null
/usr/bin/python3 - build/live-view/rate.json <<'PY'
import json, sys
runs = {r["name"].split("/")[0]: r for r in json.load(open(sys.argv[1]))["benchmarks"]}
render, screen = runs["simulatorRender"], runs["captureToScreen"]
print(f"render {render['real_time']:.1f} ms; captured {screen['captured_per_s']:.1f}/s, "
      f"shown {screen['shown_per_s']:.1f}/s, capture to decoded picture {screen['real_time']:.0f} ms")
if min(screen["captured_per_s"], screen["shown_per_s"]) < 10:
    sys.exit("the live view keeps up with fewer than 10 frames a second")
PY
