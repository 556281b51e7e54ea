#!/usr/bin/env bash
# The Windows contract: cross builds of the DLLs, the 32-bit export table and stack bytes, the
# imports, and the export host run under wine64 (x86_64 DLLs) and qemu-i386 (i386 library,
# stdcall), each compared with the Linux build's results byte for byte, and the fast kernels'
# differential tests on 32-bit x86.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base windows

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command quietly; shows its output only when it fails.
quiet() {
  if ! "$@" >"$work/log" 2>&1; then
    cat "$work/log"
    echo "FAIL: $*"
    return 1
  fi
}

echo "-- cross builds"
for preset in mingw-i686 mingw-x86_64 linux-i386; do
  quiet cmake --preset "$preset"
  quiet cmake --build --preset "$preset"
done
quiet cmake --preset dev
quiet cmake --build --preset dev --target n47_export_host

i686_bin=build/mingw-i686/bin
x64_bin=build/mingw-x86_64/bin
dll32=$i686_bin/Tavrin_N47_USB_REF.dll

echo "-- export table and stack bytes of the 32-bit DLL"
i686-w64-mingw32-objdump -p "$dll32" >"$work/headers.txt"
i686-w64-mingw32-objdump -d "$dll32" >"$work/code.txt"
awk -f tests/windows/stack_bytes.awk "$work/headers.txt" "$work/code.txt"

# The checker itself must notice a wrong return and a decorated duplicate.
sed '/<_Map_Calibration@12>:/,/^$/ s/ret    \$0xc/ret    /' "$work/code.txt" >"$work/code-cdecl.txt"
sed 's/^\t\[  17\] CalibrationMode$/&\n\t[  17] CalibrationMode@4/' "$work/headers.txt" >"$work/headers-dup.txt"
if awk -f tests/windows/stack_bytes.awk "$work/headers.txt" "$work/code-cdecl.txt" >/dev/null ||
   awk -f tests/windows/stack_bytes.awk "$work/headers-dup.txt" "$work/code.txt" >/dev/null; then
  echo "FAIL: the export checker accepts a broken DLL"
  exit 1
fi

echo "-- imports, runtimes, import library, version resource"
# Names imported from one DLL, per objdump -p of an image.
imports_from() {
  awk -v dll="$2" '/DLL Name:/ { take = ($3 == dll); next } take && /^\t[0-9a-f]+\t/ { print $3 } take && /^$/ { take = 0 }' "$1" | sort
}
grabber="CloseDAQDevice LVDS_Check LVDS_Close LVDS_GetFrame LVDS_Init LVDS_SetModel LVDS_Start OpenDAQDevice UART_Close UART_GetData UART_Init"
exports="CalibrationMode CheckInterface CheckSwitch GetImagePtr GetMsgLength GetSwitchMsg GetTemperature Init_Comm LoadGainMap LoadPixelMap Map_Calibration Ready_Time_Chk RunforDetector SaveGainMap SavePixelMap SaveRawImage Sys_Allocation_N47 Sys_Free"
for arch in i686 x86_64; do
  objdump_tool=$arch-w64-mingw32-objdump
  bin=build/mingw-$arch/bin
  for image in "$bin/Tavrin_N47_USB_REF.dll" "$bin/USB_FRM01.dll"; do
    "$objdump_tool" -p "$image" >"$work/image.txt"
    dlls=$(awk '/DLL Name:/ { print $3 }' "$work/image.txt" | sort | tr '\n' ' ')
    for dll in $dlls; do
      case "$dll" in
        KERNEL32.dll | msvcrt.dll | USB_FRM01.dll) ;;
        *) echo "FAIL: $image needs $dll"; exit 1 ;;
      esac
    done
  done
  "$objdump_tool" -p "$bin/Tavrin_N47_USB_REF.dll" >"$work/image.txt"
  got=$(imports_from "$work/image.txt" USB_FRM01.dll | tr '\n' ' ')
  [ "$got" = "$grabber " ] || { echo "FAIL: $arch driver imports from USB_FRM01.dll: $got"; exit 1; }
  "$objdump_tool" -p "$bin/n47_import_client.exe" >"$work/image.txt"
  got=$(imports_from "$work/image.txt" Tavrin_N47_USB_REF.dll | tr '\n' ' ')
  [ "$got" = "$exports " ] || { echo "FAIL: $arch import library gives: $got"; exit 1; }
  for text in "ProductName" "Tavrin N47 detector driver" "FileVersion" "Tavrin N47 flat-panel detector driver"; do
    strings -el "$bin/Tavrin_N47_USB_REF.dll" | grep -qx "$text" || { echo "FAIL: $arch version resource lacks $text"; exit 1; }
  done
  echo "$arch: imports KERNEL32, msvcrt and the 11 grabber functions; import library and version resource in order"
done

echo "-- export host: Linux (reference), wine64, qemu-i386"
# Runs the host for one platform in its own folder: results to $work/NAME.txt, files in $work/NAME.
run_host() {
  local name=$1
  shift
  mkdir -p "$work/$name"
  if ! (cd "$work/$name" && "$@" 2>"$work/$name-stderr.txt") | tr -d '\r' >"$work/$name.txt"; then
    cat "$work/$name-stderr.txt"
    echo "FAIL: export host on $name"
    exit 1
  fi
  echo "$name: $(grep -v '^wine' "$work/$name-stderr.txt" | tail -n 1)"
}
# No .NET or HTML engine is needed; skipping them keeps the first start short and quiet.
export WINEPREFIX="$work/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run_host linux "$PWD/build/dev/bin/n47_export_host" "$PWD/build/dev/bin/libTavrin_N47_USB_REF.so"
run_host wine /usr/lib/wine/wine64 "$PWD/$x64_bin/n47_export_host.exe"
run_host i386 qemu-i386 "$PWD/build/linux-i386/bin/n47_export_host" "$PWD/build/linux-i386/bin/libTavrin_N47_USB_REF.so"

cat "$work/linux.txt"
for run in wine i386; do
  diff "$work/linux.txt" "$work/$run.txt" || { echo "FAIL: $run results differ from Linux"; exit 1; }
  cmp "$work/linux/corrected.raw" "$work/$run/corrected.raw" || { echo "FAIL: $run corrected frame differs"; exit 1; }
  for map in calibrated.pixelmap calibrated.gainmap; do
    cmp "$work/linux/$map" "$work/$run/$map" || { echo "FAIL: $run $map differs"; exit 1; }
  done
done
echo "wine64 and qemu-i386 runs equal the Linux run byte for byte"

echo "-- the kernels' bit-for-bit tests on 32-bit x86 under qemu-i386"
# The distribution's GoogleTest is 64-bit only: build a 32-bit one from its sources. qemu-i386
# reports AVX2, so the portable, SSE2 and AVX2 kernels all run with 8 vector registers.
quiet cmake -S /usr/src/googletest -B build/gtest-i386 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/linux-i386.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/build/gtest-i386/install"
quiet cmake --build build/gtest-i386 -j2
quiet cmake --install build/gtest-i386
quiet cmake -S . -B build/linux-i386-tests -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/linux-i386.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DN47_BUILD_TESTS=ON -DN47_BUILD_TOOLS=OFF \
  -DCMAKE_PREFIX_PATH="$PWD/build/gtest-i386/install" -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386
quiet cmake --build build/linux-i386-tests -j2 --target n47_fast_kernel_tests
quiet qemu-i386 build/linux-i386-tests/bin/n47_fast_kernel_tests
echo "i386: $(tail -n 1 "$work/log")"
