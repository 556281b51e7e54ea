#!/usr/bin/env bash
# The Windows zips as a Windows user receives them: each one unpacked, a consumer program
# built with MinGW and a Visual C ABI client (clang for *-windows-msvc, lld-link, the zip's
# Tavrin_N47_USB_REF.lib, no C runtime) built against the zip alone, both run from the zip's
# bin/ folder, the x86_64 ones under wine64 and the i686 ones (the product) under 32-bit Wine.
source "$(dirname "$0")/../lib/windows.bash"

# Fails unless the zip's Visual C++ import library offers every export of the table, on i686
# under the stdcall-decorated name a Visual C++ caller references.
check_msvc_import_library() {
  local arch=$1 lib=$2 name ordinal bytes symbol
  llvm-nm "$lib" >"$work/lib-$arch.txt" 2>/dev/null
  while IFS=, read -r name ordinal bytes; do
    symbol=__imp_$name
    [ "$arch" = i686 ] && symbol=__imp__$name@$bytes
    grep -q " $symbol\$" "$work/lib-$arch.txt" || { echo "FAIL: $(basename "$lib") ($arch) lacks $symbol"; exit 1; }
  done < <(tail -n +2 "$export_table")
}

# Builds the Visual C ABI client into the zip's bin/ folder against the zip's .lib and a kernel32
# import library made from tests/msvc_client/kernel32.def (its @bytes dropped on x86_64).
build_msvc_client() {
  local arch=$1 tree=$2 machine=i386 linker_machine=x86
  [ "$arch" = x86_64 ] && machine=i386:x86-64 linker_machine=x64
  local def=$work/kernel32-$arch.def
  if [ "$arch" = x86_64 ]; then sed 's/@[0-9]*$//' tests/msvc_client/kernel32.def >"$def"; else cp tests/msvc_client/kernel32.def "$def"; fi
  quiet llvm-dlltool -m "$machine" -k -d "$def" -l "$work/kernel32-$arch.lib"
  quiet clang --target="$arch-pc-windows-msvc" -std=c99 -Wall -Wextra -Werror -O2 -ffreestanding -fno-stack-protector \
    -fno-builtin -I"$tree/include" -c tests/msvc_client/msvc_client.c -o "$work/msvc_client-$arch.obj"
  quiet lld-link /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib /machine:"$linker_machine" \
    /out:"$tree/bin/n47_msvc_client.exe" "$work/msvc_client-$arch.obj" "$tree/lib/Tavrin_N47_USB_REF.lib" \
    "$work/kernel32-$arch.lib"
  # What it imports from the driver: plain names only, as the DLL exports them (checked here too
  # because the i686 run needs a machine that executes 32-bit code).
  local imports
  imports=$("$arch-w64-mingw32-objdump" -p "$tree/bin/n47_msvc_client.exe" | sed -n '/DLL Name: Tavrin_N47_USB_REF.dll/,/^$/p')
  if ! grep -qw RunforDetector <<<"$imports" || grep -q @ <<<"$imports"; then
    echo "$imports"
    echo "FAIL: the $arch Visual C ABI client does not import the driver's plain names"
    exit 1
  fi
}

# Runs PROGRAM from the zip's bin/ folder; fails unless it printed PASSED as its own line (wine64
# given a 32-bit program prints nothing and exits 0). Wine's standard error is shown on failure.
run_from_zip() {
  local what=$1 tree=$2 program=$3 passed=$4
  echo "-- $what"
  (cd "$tree/bin" && "$wine" "$program" 2>"$work/stderr.txt") | tr -d '\r' | tee "$work/run.txt"
  "$wineserver" -w
  grep -qx "$passed" "$work/run.txt" || { cat "$work/stderr.txt"; echo "FAIL: $what"; exit 1; }
}

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
  check_msvc_import_library "$arch" "$tree/lib/Tavrin_N47_USB_REF.lib"
  build_msvc_client "$arch" "$tree"
  echo "-- Tavrin_N47_USB_REF.lib: all 18 exports; the Visual C ABI client links against it"
  if [ "$arch" = i686 ]; then
    skip_without_32bit && continue
    wine32_environment
  else
    wine64_environment
  fi
  run_from_zip "the consumer, built against the $arch zip alone" "$tree" n47_consumer.exe "consumer: all checks passed"
  run_from_zip "the Visual C ABI client, linked against the $arch zip's .lib alone" "$tree" n47_msvc_client.exe \
    "msvc client: all checks passed"
done
echo "sdk (Windows): every zip checked"
