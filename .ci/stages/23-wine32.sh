#!/usr/bin/env bash
# The product itself, the i686 DLLs, under Debian's 32-bit Wine: the export host (every call
# through the stack-measuring trampoline), the application client loading the driver from a
# folder of its own by ordinal, and the import-library client, each compared with Linux.
source "$(dirname "$0")/../lib/windows.bash"
skip_without_32bit && exit 0
build_preset mingw-i686
linux_reference
bin=$PWD/build/mingw-i686/bin

wine32_environment

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
"$wineserver" -w
echo "wine32: export host and application client equal the Linux runs byte for byte; the import client runs ($((SECONDS - start)) s)"
