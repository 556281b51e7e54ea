#!/usr/bin/env bash
# The product itself, the i686 DLLs, under Debian's 32-bit Wine: the export host (every call
# through the stack-measuring trampoline), the application client loading the driver from a
# folder of its own by ordinal, and the import-library client, each compared with Linux.
#
# 32-bit Wine cannot be installed beside the 64-bit libraries here, so its packages are
# unpacked into build/wine32 (about 90 MB of downloads, 20 s) and run from there, served by
# the 64-bit wineserver.
source "$(dirname "$0")/../lib/windows.bash"
if ! runs_32bit_programs; then
  # A kernel built without IA-32 emulation, or a hypervisor that keeps 32-bit user code off.
  # qemu-i386 does not help: Wine's address-space reservation never finishes under it.
  echo "SKIPPED: this machine does not execute 32-bit x86 programs (gcc -m32 output: exec format error)"
  exit 0
fi
build_preset mingw-i686
linux_reference
bin=$PWD/build/mingw-i686/bin

sysroot=$PWD/build/wine32/sysroot
scripts/unpack-i386.sh "$sysroot" wine32 libwine
# What libwine's install script does: Wine's builtin zlib is MinGW's zlib1.dll with Wine's
# builtin mark (16 characters and 16 zero bytes at offset 64); without it user32.dll fails to load.
zlib=$sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$zlib"
printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' | dd of="$zlib" bs=1 seek=64 count=32 conv=notrunc status=none

export WINEARCH=win32 WINEPREFIX="$work/wine32-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
wine=$sysroot/usr/lib/wine/wine

start=$SECONDS
# 160 checks as under wine64, plus the 77 calls whose popped stack bytes the trampoline measures.
run_program wine32 "$wine" "$bin/n47_export_host.exe"
expect_checks wine32 237
same_as linux wine32 $host_files
app_layout wine32 "$bin"
run_program wine32-app "$wine" "$work/wine32-install/app/n47_app_client.exe" "$work/wine32-install/driver/Tavrin_N47_USB_REF.dll"
expect_checks wine32-app 37
same_as linux-app wine32-app
run_program wine32-import "$wine" "$bin/n47_import_client.exe"
"$WINESERVER" -w
echo "wine32: export host and application client equal the Linux runs byte for byte; the import client runs ($((SECONDS - start)) s)"
