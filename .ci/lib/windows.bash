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
