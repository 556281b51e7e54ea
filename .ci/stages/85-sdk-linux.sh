#!/usr/bin/env bash
# The SDK as a Linux user receives it: installed into a prefix that is then moved, a consumer
# program built against the moved prefix with its CMake package and with pkg-config and run
# with no LD_LIBRARY_PATH, the tool and the Python package from the moved prefix, and the
# packages CPack makes, unpacked and checked file by file.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh base sdk
root="$PWD"
build=build/sdk
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH PYTHONPATH N47_LIBRARY_DIR

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DN47_BUILD_TESTS=OFF -DN47_BUILD_EXPORT_HOST=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"
echo "-- the install tree, moved"
(cd "$prefix" && find . -type f | sort)

echo "-- n47 from the moved prefix"
"$prefix/bin/n47" --version
"$prefix/bin/n47" simulate flat "$work/flat.raw" --seed 3
"$prefix/bin/n47" info | tee "$work/info.txt"
grep -q "driver: .*$prefix/lib/libTavrin_N47_USB_REF.so" "$work/info.txt"

echo "-- a copied bin/ folder of the build tree binds to its own neighbours"
cp -r "$build/bin" "$work/copied-bin"
# n47 loads the driver and the grabber at run time, from its own folder.
"$work/copied-bin/n47" info | grep -E "^(driver|grabber):" | tee "$work/info.txt"
[ "$(grep -c "$work/copied-bin/lib" "$work/info.txt")" -eq 2 ]
ldd "$work/copied-bin/libTavrin_N47_USB_REF.so" | grep -q "$work/copied-bin/libUSB_FRM01.so"
"$work/copied-bin/n47" simulate dark "$work/dark.raw" --seed 3

echo "-- as a subproject: the two libraries, no tests, tools or export host"
mkdir -p "$work/super"
printf 'cmake_minimum_required(VERSION 3.21)\nproject(super CXX)\nadd_subdirectory("%s" n47)\n' "$root" \
  >"$work/super/CMakeLists.txt"
cmake -S "$work/super" -B "$work/super/build" >/dev/null
targets="$(cmake --build "$work/super/build" --target help)"
grep -q "Tavrin_N47_USB_REF" <<<"$targets"
if grep -qE "^\.\.\. (n47|n47_export_host|n47_spine_tests)$" <<<"$targets"; then
  echo "a subproject build would build tests or tools"
  exit 1
fi

echo "-- consumer, CMake package of the moved prefix"
cmake -S tests/consumer -B "$work/consumer-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
"$work/consumer-cmake/n47_consumer"

echo "-- consumer, pkg-config files of the moved prefix"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
libdir="$(pkg-config --variable=libdir tavrin_n47)"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror tests/consumer/consumer.c $(pkg-config --cflags --libs tavrin_n47 n47sim) \
  -Wl,-rpath,"$libdir" -o "$work/consumer-pkg-config"
"$work/consumer-pkg-config"
unset PKG_CONFIG_PATH

echo "-- consumer, CMake package of the build tree"
cmake -S tests/consumer -B "$work/consumer-build-tree" -DTavrinN47_DIR="$root/$build" >/dev/null
cmake --build "$work/consumer-build-tree" >/dev/null
"$work/consumer-build-tree/n47_consumer" | tail -n 1

echo "-- the Python package of the moved prefix"
(cd "$work" && PYTHONPATH="$prefix/lib/python3/dist-packages" /usr/bin/python3 -c '
import n47, n47._library as library
with n47.Detector() as detector:
    frame = detector.acquire()
    print("python:", frame.shape, frame.dtype, "from", library._loaded.source)
')

echo "-- packages"
(cd "$build" && rm -f ./*.deb ./*.tar.gz && cpack >/dev/null 2>&1 && ls -l ./*.deb ./*.tar.gz)
bash .ci/lib/check-packages.bash "$build" "$work/unpacked"
echo "sdk (Linux): all checks passed"
