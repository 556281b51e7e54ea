#!/usr/bin/env bash
# Installs the Debian packages the build needs, if any are missing. Groups:
#   base     compiler, CMake, GoogleTest, Google Benchmark, CLI11, libpng, libtiff, HDF5 and its
#            tools (h5dump), cpp-httplib and libjpeg-turbo (the live view's server and picture
#            encoder), and numpy, pytest, setuptools, pip and wheel for /usr/bin/python3 (the
#            Python package, its tests), with the readers the NeXus tests open files with: h5py,
#            silx, fabio, tifffile
#   windows  MinGW-w64 cross compilers, wine64, qemu-user, multilib, MinGW zlib (the Windows checks);
#            llvm (llvm-dlltool writes the Visual C++ import library), clang and lld (the Visual C
#            ABI client)
#   csharp   mono-mcs and mono-runtime (the C# declarations, built and run under mono)
#   fuzz     clang and its sanitizer/fuzzer runtime
#   valgrind valgrind
#   sdk      dpkg-dev (CPack's .deb dependencies), pkg-config
#   browser  headless Chromium and a font (the demo report's and the live view's checks in a browser)
#   live     tifffile for /usr/bin/python3 (reads the BigTIFF of a long acquired series)
set -euo pipefail

declare -A groups=(
  [base]="g++ cmake make googletest libgtest-dev libbenchmark-dev libcli11-dev libpng-dev libtiff-dev libhdf5-dev hdf5-tools libcpp-httplib-dev libturbojpeg0-dev pkg-config python3-numpy python3-pytest python3-setuptools python3-pip python3-wheel python3-h5py python3-silx python3-fabio python3-tifffile"
  [windows]="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 qemu-user gcc-multilib g++-multilib binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 libz-mingw-w64 llvm clang lld"
  [csharp]="mono-mcs mono-runtime"
  [fuzz]="clang libclang-rt-14-dev"
  [valgrind]="valgrind"
  [sdk]="dpkg-dev pkg-config"
  [browser]="chromium fonts-dejavu-core"
  [live]="python3-tifffile"
)

wanted=()
for group in "${@:-base}"; do
  for package in ${groups[$group]:?unknown group $group}; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      wanted+=("$package")
    fi
  done
done

if [ ${#wanted[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${wanted[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${wanted[@]}" >/dev/null
