#!/usr/bin/env bash
# The Windows zips as a Windows user receives them: each one unpacked, a consumer program
# built with MinGW against the zip alone and run from the zip's bin/ folder, the x86_64 one
# under wine64 and the i686 one (the product) under 32-bit Wine.
source "$(dirname "$0")/../lib/windows.bash"

for arch in x86_64 i686; do
  preset=mingw-$arch
  build_preset "$preset"
  (cd "build/$preset" && rm -f ./*.zip && quiet cpack -G ZIP)
  zip=$(ls "$PWD/build/$preset"/tavrin-n47-*-windows-"$arch".zip)
  echo "-- $(basename "$zip"): $(stat -c %s "$zip") bytes"
  mkdir -p "$work/$arch"
  (cd "$work/$arch" && cmake -E tar xf "$zip")
  tree=$(ls -d "$work/$arch"/tavrin-n47-*)
  (cd "$tree" && find . -type f -printf '%p %s\n' | sort)

  "$arch-w64-mingw32-gcc" -std=c99 -Wall -Werror -O2 tests/consumer/consumer.c -I"$tree/include" -L"$tree/lib" \
    -lTavrin_N47_USB_REF -lUSB_FRM01 -static-libgcc -o "$tree/bin/n47_consumer.exe"
  if [ "$arch" = i686 ]; then
    skip_without_32bit && continue
    wine32_environment
  else
    wine64_environment
  fi
  echo "-- the consumer, built against the $arch zip alone"
  (cd "$tree/bin" && "$wine" n47_consumer.exe) | tr -d '\r' | tee "$work/consumer-$arch.txt"
  "$wineserver" -w
  grep -qx "consumer: all checks passed" "$work/consumer-$arch.txt" || { echo "FAIL: the $arch consumer"; exit 1; }
done
echo "sdk (Windows): every zip checked"
