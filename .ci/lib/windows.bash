# Shared by the Windows and 32-bit x86 stages (.ci/stages/2*-*.sh); sourced, not run. Each stage
# builds what it needs itself (a no-op when an earlier stage built it), so it passes alone too.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
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

# Configures and builds a preset (all of it, or the targets given).
build_preset() {
  local preset=$1
  shift
  quiet cmake --preset "$preset"
  if [ $# -gt 0 ]; then
    quiet cmake --build --preset "$preset" --target "$@"
  else
    quiet cmake --build --preset "$preset"
  fi
}

# The export host's and the application client's Linux runs, the reference for every other.
export_table=$PWD/src/api/exports.csv
linux_bin=$PWD/build/dev/bin
linux_reference() {
  build_preset dev n47_export_host n47_app_client
  run_program linux "$linux_bin/n47_export_host" "$linux_bin/libTavrin_N47_USB_REF.so"
  run_program linux-app "$linux_bin/n47_app_client" "$linux_bin/libTavrin_N47_USB_REF.so"
}

# Runs a program in its own folder $work/NAME: what it prints to $work/NAME.txt (carriage
# returns dropped), its closing "N checks, M failed" line shown. A run that fails, or that
# reports no checks (wine64 given a 32-bit program prints nothing and exits 0), fails.
run_program() {
  local name=$1
  shift
  mkdir -p "$work/$name"
  if ! (cd "$work/$name" && "$@" 2>"$work/$name-stderr.txt") | tr -d '\r' >"$work/$name.txt"; then
    cat "$work/$name-stderr.txt"
    echo "FAIL: $name run"
    exit 1
  fi
  local summary
  summary=$(tr -d '\r' <"$work/$name-stderr.txt" | grep -E '^[0-9]+ checks, 0 failed$' | tail -n 1 || true)
  if [ -z "$summary" ]; then
    cat "$work/$name-stderr.txt"
    echo "FAIL: $name printed no check summary"
    exit 1
  fi
  echo "$name: $summary"
  checks[$name]=${summary%% *}
}
declare -A checks

# Fails unless run NAME reported at least MINIMUM checks.
expect_checks() {
  if [ "${checks[$1]:-0}" -lt "$2" ]; then
    echo "FAIL: $1 ran ${checks[$1]:-0} checks, expected at least $2"
    exit 1
  fi
}

# Fails unless run NAME printed what REFERENCE printed and wrote the same files.
same_as() {
  local reference=$1 name=$2
  shift 2
  diff "$work/$reference.txt" "$work/$name.txt" || { echo "FAIL: $name prints other results than $reference"; exit 1; }
  [ -s "$work/$name.txt" ] || { echo "FAIL: $name printed no results"; exit 1; }
  local file
  for file in "$@"; do
    cmp "$work/$reference/$file" "$work/$name/$file" || { echo "FAIL: $name wrote another $file"; exit 1; }
  done
}
host_files="corrected.raw calibrated.pixelmap calibrated.gainmap"

# The installed application's layout: the program in app/, the driver and USB_FRM01.dll together
# in driver/ (from BIN), maps written in the working folder.
app_layout() {
  local name=$1 bin=$2
  mkdir -p "$work/$name-install/app" "$work/$name-install/driver"
  cp "$bin/n47_app_client.exe" "$work/$name-install/app/"
  cp "$bin/Tavrin_N47_USB_REF.dll" "$bin/USB_FRM01.dll" "$work/$name-install/driver/"
}

# Whether this machine executes 32-bit x86 Linux programs (a kernel with IA-32 emulation that
# the hypervisor leaves enabled).
runs_32bit_programs() {
  printf 'int main(void) { return 0; }\n' >"$work/probe.c"
  gcc -m32 "$work/probe.c" -o "$work/probe32" 2>/dev/null && "$work/probe32" 2>/dev/null
}

# wine64 in a fresh prefix of its own; sets $wine. No .NET or HTML engine is needed; skipping
# them keeps the first start short and quiet.
wine64_environment() {
  export WINEPREFIX="$work/wine64-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINEARCH WINESERVER
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  create_wine_prefix
}

# Creates $WINEPREFIX before any program runs in it. Now and then the first start of a fresh
# prefix fails with "could not load kernel32.dll, status c0000135" and leaves it half made; the
# prefix is then removed and made again, up to three times.
create_wine_prefix() {
  local attempt
  for attempt in 1 2 3; do
    if "$wine" wineboot --init >"$work/wineboot.txt" 2>&1 && "$wineserver" -w && [ -f "$WINEPREFIX/system.reg" ]; then
      return 0
    fi
    echo "wine: prefix creation failed (attempt $attempt), making it again"
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  done
  cat "$work/wineboot.txt"
  echo "FAIL: could not create the Wine prefix $WINEPREFIX"
  exit 1
}

# Debian's 32-bit Wine, which cannot be installed beside the 64-bit libraries here: its
# packages are unpacked into build/wine32 (about 90 MB of downloads, 20 s) and run from there,
# served by the 64-bit wineserver. Sets $wine.
wine32_environment() {
  local sysroot=$PWD/build/wine32/sysroot
  scripts/unpack-i386.sh "$sysroot" wine32 libwine
  # What libwine's install script does: Wine's builtin zlib is MinGW's zlib1.dll with Wine's
  # builtin mark (16 characters and 16 zero bytes at offset 64); without it user32.dll fails to load.
  local zlib=$sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  cp /usr/i686-w64-mingw32/lib/zlib1.dll "$zlib"
  printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' | dd of="$zlib" bs=1 seek=64 count=32 conv=notrunc status=none
  export WINEARCH=win32 WINEPREFIX="$work/wine32-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINESERVER=/usr/lib/wine/wineserver64
  wine=$sysroot/usr/lib/wine/wine
  wineserver=$WINESERVER
  create_wine_prefix
}

# The reason a stage that needs 32-bit x86 code skips on this machine, or nothing.
skip_without_32bit() {
  if ! runs_32bit_programs; then
    # A kernel built without IA-32 emulation, or a hypervisor that keeps 32-bit user code off.
    # qemu-i386 does not help: Wine's address-space reservation never finishes under it.
    echo "SKIPPED: this machine does not execute 32-bit x86 programs (gcc -m32 output: exec format error)"
    return 0
  fi
  return 1
}
