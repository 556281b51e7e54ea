#!/usr/bin/env bash
# The demo's report in a real browser (headless Debian Chromium): every picture of the page
# must load (the tool test Demo.EveryPictureOfTheReportLoadsInChromium, which fails here rather
# than skipping when the browser is missing), and a screenshot of the whole page is kept as
# build/report/report_screenshot.png for a person to look at.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base browser
cmake --preset dev
cmake --build --preset dev --target n47 n47_tool_tests
N47_REQUIRE_CHROMIUM=1 build/dev/bin/n47_tool_tests --gtest_filter='Demo.*'

rm -rf build/report
build/dev/bin/n47 demo --out build/report --flats 4 >/dev/null
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# As root Chromium runs only without its sandbox.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$profile" \
  --window-size=1400,7000 --screenshot="$PWD/build/report/report_screenshot.png" \
  "file://$PWD/build/report/report.html" 2>/dev/null
test -s build/report/report_screenshot.png
echo "screenshot: build/report/report_screenshot.png"
