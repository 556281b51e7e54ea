#!/usr/bin/env bash
# A series beyond a classic TIFF's 4 GiB, acquired with n47 on the test grabber (only the
# eleven grabber operations): 700 frames become one BigTIFF, which tifffile reads page for page.
# Needs about 4.5 GB free; skipped with a message where the disk has less. About 40 s here.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base live
cmake --preset release >/dev/null
cmake --build --preset release --target n47 n47_test_grabber
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
free_kib="$(df -Pk "$work" | awk 'NR == 2 { print $4 }')"
if [ "$free_kib" -lt 5000000 ]; then
  echo "long series: skipped, $((free_kib / 1024)) MiB free where 4.5 GB are needed"
  exit 0
fi
export N47_GRABBER="$PWD/build/release/bin/libn47_test_grabber.so"
build/release/bin/n47 info
build/release/bin/n47 acquire "$work/long.tif" --frames 700 2>"$work/progress.txt"
tail -n 1 "$work/progress.txt"
/usr/bin/python3 - "$work/long.tif" <<'PY'
import sys, tifffile
with tifffile.TiffFile(sys.argv[1]) as tif:
    pages = len(tif.pages)
    last = tif.pages[-1].asarray()
    assert tif.is_bigtiff, "a series beyond 4 GiB must be a BigTIFF"
    assert pages == 700, pages
    assert last.shape == (1536, 2048) and last.dtype == "uint16", (last.shape, last.dtype)
    assert 5000 < last[32:-32, 32:-32].mean() < 7000, last.mean()
    print(f"long series: BigTIFF, {pages} pages, last page mean {last[32:-32, 32:-32].mean():.0f}")
PY
[ "$(find "$work" -name '*.tmp' | wc -l)" -eq 0 ]
echo "long series: passed"
