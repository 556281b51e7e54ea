#!/usr/bin/env bash
# The DLLs as built: the 32-bit export table and the stack bytes each export removes, read from
# the disassembly; the imports of both DLLs, the import library and the version resource.
source "$(dirname "$0")/../lib/windows.bash"
build_preset mingw-i686
build_preset mingw-x86_64
dll32=build/mingw-i686/bin/Tavrin_N47_USB_REF.dll

echo "-- export table and stack bytes of the 32-bit DLL"
i686-w64-mingw32-objdump -p "$dll32" >"$work/headers.txt"
i686-w64-mingw32-objdump -d "$dll32" >"$work/code.txt"
stack_bytes() { awk -v table="$export_table" -f tests/windows/stack_bytes.awk "$@"; }
stack_bytes "$work/headers.txt" "$work/code.txt"

# The checker itself must notice a wrong return and a decorated duplicate.
sed '/<_Map_Calibration@12>:/,/^$/ s/ret    \$0xc/ret    /' "$work/code.txt" >"$work/code-cdecl.txt"
sed 's/^\t\[  17\] CalibrationMode$/&\n\t[  17] CalibrationMode@4/' "$work/headers.txt" >"$work/headers-dup.txt"
if stack_bytes "$work/headers.txt" "$work/code-cdecl.txt" >/dev/null ||
   stack_bytes "$work/headers-dup.txt" "$work/code.txt" >/dev/null; then
  echo "FAIL: the export checker accepts a broken DLL"
  exit 1
fi

echo "-- imports, runtimes, import library, version resource"
# Names imported from one DLL, per objdump -p of an image.
imports_from() {
  awk -v dll="$2" '/DLL Name:/ { take = ($3 == dll); next } take && /^\t[0-9a-f]+\t/ { print $3 } take && /^$/ { take = 0 }' "$1" | sort
}
grabber="CloseDAQDevice LVDS_Check LVDS_Close LVDS_GetFrame LVDS_Init LVDS_SetModel LVDS_Start OpenDAQDevice UART_Close UART_GetData UART_Init"
exports=$(tail -n +2 "$export_table" | cut -d, -f1 | sort | tr '\n' ' ')
for arch in i686 x86_64; do
  objdump_tool=$arch-w64-mingw32-objdump
  bin=build/mingw-$arch/bin
  for image in "$bin/Tavrin_N47_USB_REF.dll" "$bin/USB_FRM01.dll"; do
    "$objdump_tool" -p "$image" >"$work/image.txt"
    for dll in $(awk '/DLL Name:/ { print $3 }' "$work/image.txt" | sort); do
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
  [ "$got" = "$exports" ] || { echo "FAIL: $arch import library gives: $got"; exit 1; }
  version=$(sed -n 's/^project(TavrinN47 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  for dll in "Tavrin_N47_USB_REF:Tavrin N47 flat-panel detector driver" "USB_FRM01:Tavrin N47 frame-grabber simulator"; do
    name=${dll%%:*}
    for text in "ProductName" "Tavrin N47 detector driver" "FileVersion" "$version" "${dll#*:}" "$name.dll"; do
      strings -el "$bin/$name.dll" | grep -qx "$text" || { echo "FAIL: $arch $name.dll version resource lacks $text"; exit 1; }
    done
  done
  echo "$arch: imports KERNEL32, msvcrt and the 11 grabber functions; import library and both version resources in order"
done
