#!/usr/bin/env bash
# Unpacks Debian's i386 builds of the given packages into a private folder (a sysroot), without
# adding i386 to dpkg's architectures: on these machines the i386 and amd64 builds of shared
# libraries come from different suites and cannot be installed side by side. The package lists
# and the downloaded packages stay in SYSROOT.apt beside it. A second call with the same
# packages does nothing.
#   scripts/unpack-i386.sh SYSROOT PACKAGE...
set -euo pipefail
root=$(realpath -m "$1")
shift
wanted="$*"
if [ -f "$root/.unpacked" ] && [ "$(cat "$root/.unpacked")" = "$wanted" ]; then
  exit 0
fi

apt_dir="$root.apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives"
apt_options=(-qq -o APT::Architectures::=i386 -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
# An index that fails (the security suite, at times) is ignored: the main suite suffices, and
# the download below fails plainly if a package cannot be found.
apt-get "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 || true
(cd "$apt_dir/archives" && apt-get "${apt_options[@]}" download "${@/%/:i386}")

rm -rf "$root"
mkdir -p "$root"
for package in "$apt_dir"/archives/*.deb; do
  dpkg-deb -x "$package" "$root"
done
echo "$wanted" >"$root/.unpacked"
