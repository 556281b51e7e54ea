#!/usr/bin/env bash
# The Windows zips as a Windows user receives them: each one unpacked, a consumer program
# built with MinGW against the zip alone, and run from the zip's bin/ folder: the x86_64 one
# under wine64, the i686 one (the product) under 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh windows
source .ci/lib/wine.bash
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for arch in x86_64 i686; do
  preset="mingw-$arch"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
  (cd "build/$preset" && rm -f ./*.zip && cpack -G ZIP >/dev/null)
  zip="$(ls "build/$preset"/tavrin-n47-*-windows-"$arch".zip)"
  echo "-- $(basename "$zip"): $(stat -c %s "$zip") bytes"
  mkdir -p "$work/$arch"
  cmake -E chdir "$work/$arch" cmake -E tar xf "$PWD/$zip"
  tree="$(ls -d "$work/$arch"/tavrin-n47-*)"
  (cd "$tree" && find . -type f -printf '%p %s\n' | sort)

  "$arch-w64-mingw32-gcc" -std=c99 -Wall -Werror -O2 tests/consumer/consumer.c -I"$tree/include" -L"$tree/lib" \
    -lTavrin_N47_USB_REF -lUSB_FRM01 -static-libgcc -o "$tree/bin/n47_consumer.exe"
  echo "-- the consumer against the $arch zip"
  output="$(run_windows_program "$arch" "$work/prefix-$arch" "$tree/bin/n47_consumer.exe")"
  echo "$output"
  grep -qx "consumer: all checks passed" <<<"$output" || { echo "the $arch consumer did not pass"; exit 1; }
done
echo "sdk (Windows): all checks passed"
