# Unpacks each Linux package of BUILD into DIR and compares its file list with the one
# expected here: what each component holds is a promise to the people who install it.
# usage: check-packages.bash BUILD DIR
set -euo pipefail
build="$1"
out="$2"

declare -A expected=(
  [libtavrin-n47]="./usr/lib/libTavrin_N47_USB_REF.so ./usr/lib/libUSB_FRM01.so"
  [libtavrin-n47-dev]="./usr/include/n47sim/model_control.h ./usr/include/n47sim/sim_control.h ./usr/include/tavrin_n47.h ./usr/lib/cmake/TavrinN47/TavrinN47Config.cmake ./usr/lib/cmake/TavrinN47/TavrinN47ConfigVersion.cmake ./usr/lib/cmake/TavrinN47/TavrinN47Targets-release.cmake ./usr/lib/cmake/TavrinN47/TavrinN47Targets.cmake ./usr/lib/pkgconfig/n47sim.pc ./usr/lib/pkgconfig/tavrin_n47.pc"
  [tavrin-n47-tools]="./usr/bin/n47"
  [python3-tavrin-n47]="$(cd python && find n47 -name '*.py' | sed 's|^|./usr/lib/python3/dist-packages/|' | sort | tr '\n' ' ')./usr/lib/python3/dist-packages/n47/_install.py"
)
status=0
for package in "${!expected[@]}"; do
  deb="$(ls "$build/${package}"_*.deb)"
  mkdir -p "$out/$package"
  dpkg -x "$deb" "$out/$package"
  found="$(cd "$out/$package" && find . -type f | sort)"
  want="$(tr ' ' '\n' <<<"${expected[$package]}" | sed '/^$/d' | sort)"
  if [ "$found" != "$want" ]; then
    echo "$package: the files differ from the expected list"
    diff <(echo "$want") <(echo "$found") || true
    status=1
  else
    echo "$package: $(wc -l <<<"$found") files as expected; depends: $(dpkg-deb -f "$deb" Depends)"
  fi
done
listing="$(tar -tzf "$(ls "$build"/tavrin-n47-*-Linux.tar.gz)")"
for file in bin/n47 lib/libTavrin_N47_USB_REF.so lib/libUSB_FRM01.so include/tavrin_n47.h lib/cmake/TavrinN47/TavrinN47Config.cmake; do
  grep -q "/$file\$" <<<"$listing" || { echo "the .tar.gz has no $file"; status=1; }
done
[ "$status" -ne 0 ] || echo "the .tar.gz holds the whole install tree ($(grep -vc '/$' <<<"$listing") files)"
exit "$status"
