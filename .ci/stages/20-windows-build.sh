#!/usr/bin/env bash
# Cross builds of both Windows DLLs with their hosts and clients, the i386 Linux library, and the
# Linux export host the later stages compare with.
source "$(dirname "$0")/../lib/windows.bash"
for preset in mingw-i686 mingw-x86_64 linux-i386; do
  build_preset "$preset"
  echo "$preset: built"
done
build_preset dev n47_export_host n47_app_client
echo "dev: export host and application client built"
