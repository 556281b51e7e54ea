#!/usr/bin/env bash
# The x86_64 DLLs under wine64: the export host, the application client loading the driver from
# a folder of its own by ordinal, and the import-library client, each compared with Linux.
source "$(dirname "$0")/../lib/windows.bash"
build_preset mingw-x86_64
linux_reference
bin=$PWD/build/mingw-x86_64/bin
wine64_environment

run_program wine64 "$wine" "$bin/n47_export_host.exe"
expect_checks wine64 160
same_as linux wine64 $host_files
app_layout wine64 "$bin"
run_program wine64-app "$wine" "$work/wine64-install/app/n47_app_client.exe" "$work/wine64-install/driver/Tavrin_N47_USB_REF.dll"
expect_checks wine64-app 37
same_as linux-app wine64-app
run_program wine64-import "$wine" "$bin/n47_import_client.exe"
"$wineserver" -w
echo "wine64: export host and application client equal the Linux runs byte for byte; the import client runs"
