#!/usr/bin/env bash
# The C# declarations (bindings/csharp/TavrinN47.cs) as a C# application meets them: compiled
# with mono's mcs beside tests/csharp/CsharpClient.cs and run under mono against the Linux
# library and the simulator of the Debug build. The maps its calibration series saves and the
# frame it corrects with them must equal the n47 tool's byte for byte.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base csharp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Runs a command quietly; shows its output only when it fails.
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log"; echo "FAIL: $*"; exit 1; }; }

quiet cmake --preset dev
quiet cmake --build --preset dev --target Tavrin_N47_USB_REF USB_FRM01 n47
bin=$PWD/build/dev/bin
mcs -unsafe -warn:4 -warnaserror -nologo -out:"$work/CsharpClient.exe" bindings/csharp/TavrinN47.cs \
  tests/csharp/CsharpClient.cs

quiet "$bin/n47" simulate flat "$work/flat.raw" --seed 47 --frames 3
flats=("$work"/flat_*.raw)
# mono maps DllImport("Tavrin_N47_USB_REF") to libTavrin_N47_USB_REF.so on the library path; the
# driver's own import of libUSB_FRM01.so finds the same simulator beside it.
LD_LIBRARY_PATH=$bin mono "$work/CsharpClient.exe" "$work/cs-pixel.map" "$work/cs-gain.map" "$work/cs-corrected.raw" \
  "${flats[@]}" | tee "$work/run.txt"
grep -qx "csharp client: all checks passed" "$work/run.txt" || { echo "FAIL: the C# client"; exit 1; }

quiet "$bin/n47" calibrate "${flats[@]}" --pixel-map "$work/pixel.map" --gain-map "$work/gain.map"
quiet "$bin/n47" correct "${flats[0]}" "$work/corrected.raw" --pixel-map "$work/pixel.map" --gain-map "$work/gain.map"
for file in pixel.map gain.map corrected.raw; do
  cmp "$work/cs-$file" "$work/$file" || { echo "FAIL: the C# client's $file differs from the n47 tool's"; exit 1; }
done
echo "csharp: the declarations run under mono; maps and corrected frame equal the n47 tool's (${#flats[@]} flats)"
