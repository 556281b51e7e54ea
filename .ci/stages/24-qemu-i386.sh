#!/usr/bin/env bash
# The i386 Linux library (stdcall exports there too) under qemu-i386: the export host measures
# the stack bytes every export removes, the application client calls through typed stdcall
# pointers; their results must equal the x86_64 Linux runs.
source "$(dirname "$0")/../lib/windows.bash"
build_preset linux-i386
linux_reference
bin=$PWD/build/linux-i386/bin
run_program i386 qemu-i386 "$bin/n47_export_host" "$bin/libTavrin_N47_USB_REF.so"
expect_checks i386 182
same_as linux i386 $host_files
run_program i386-app qemu-i386 "$bin/n47_app_client" "$bin/libTavrin_N47_USB_REF.so"
same_as linux-app i386-app
cat "$work/linux.txt"
echo "qemu-i386: export host and application client equal the Linux runs byte for byte"
