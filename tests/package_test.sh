#!/usr/bin/env bash
# Inspects the Debian package and runs the programs it holds.
# Usage: package_test.sh <quillkit_*.deb> <make_fixtures program>
set -u
deb=$1
make_fixtures=$2
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if ! "$@" >/dev/null 2>&1; then
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/cartinfo ./usr/bin/edgedump ./usr/bin/blankide ./usr/bin/cart2tape \
    ./usr/share/man/man1/cartinfo.1 ./usr/share/man/man1/edgedump.1 \
    ./usr/share/man/man1/blankide.1 ./usr/share/man/man1/cart2tape.1 \
    ./usr/share/bash-completion/completions/cartinfo \
    ./usr/share/bash-completion/completions/edgedump \
    ./usr/share/bash-completion/completions/blankide \
    ./usr/share/bash-completion/completions/cart2tape \
    ./usr/share/doc/quillkit/README.md ./usr/share/doc/quillkit/LICENSE \
    ./usr/share/doc/quillkit/NEWS; do
  check "package holds $path" grep -qxF "$path" <<< "$contents"
done
check "package name" test "$(dpkg-deb -f "$deb" Package)" = quillkit
check "package version" test "$(dpkg-deb -f "$deb" Version)" = 1.5.0-1
check "package architecture" test "$(dpkg-deb -f "$deb" Architecture)" = amd64
depends=$(dpkg-deb -f "$deb" Depends)
check "depends on libc ($depends)" grep -q 'libc6' <<< "$depends"
check "depends on libspectrum ($depends)" grep -q 'libspectrum8' <<< "$depends"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$make_fixtures" "$root"
bin=$root/usr/bin
check "cartinfo runs" "$bin/cartinfo" "$root/sample.mdr"
check "cartinfo -b runs" "$bin/cartinfo" -b "$root/sample.mdr"
check "edgedump runs" "$bin/edgedump" "$root/sample.tap" "$root/sample.pulses"
check "edgedump wrote pulses" test -s "$root/sample.pulses"
check "cartinfo -x runs" mkdir "$root/files"
check "cartinfo -x copies" "$bin/cartinfo" -x "$root/files" "$root/sample.mdr"
check "cartinfo -x wrote a screen" test "$(stat -c %s "$root/files/title.scr")" = 6912
check "cart2tape runs" "$bin/cart2tape" "$root/sample.mdr" "$root/sample.tzx"
check "edgedump plays it" "$bin/edgedump" "$root/sample.tzx" "$root/tzx.pulses"
check "blankide runs" "$bin/blankide" 2 2 2 "$root/disk.hdf"
check "blankide image size" test "$(stat -c %s "$root/disk.hdf")" = $((534 + 8 * 512))
for tool in cartinfo edgedump blankide cart2tape; do
  check "$tool --version" grep -q "^$tool (quillkit) 1.5.0$" <<< "$("$bin/$tool" --version)"
done
echo "package checks: $failures failed"
[ "$failures" -eq 0 ]
