#!/usr/bin/env bash
# Checks the Debian package that ./dev.sh package built: lintian finds
# nothing, the binaries are hardened, the package holds what it should; then
# installs it, runs every tool from /usr/bin on generated samples, checks
# that man and bash-completion find their files, and removes it again.
# Usage: package_test.sh <folder with the .deb and .changes> <make_fixtures program>
set -u
dir=$1
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
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
start=$(date +%s)
tools=(cartinfo edgedump blankide cart2tape tape2cart blankcart tapeinfo tapedub)
deb=$(ls "$dir"/quillkit_*_*.deb)
changes=$(ls "$dir"/quillkit_*.changes)
check "one package and its debug symbols" test -f "$(ls "$dir"/quillkit-dbgsym_*.deb)"

# lintian: no error, no warning, and no info tag left (all fixed or
# overridden with a reason).
lintian_output=$(lintian --fail-on error,warning -I "$changes" 2>&1)
lintian_status=$?
lintian_output=$(grep -v '^running with root' <<< "$lintian_output")
check "lintian passes" test "$lintian_status" -eq 0
check "lintian says nothing: $lintian_output" test -z "$lintian_output"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for tool in "${tools[@]}"; do
  for path in ./usr/bin/$tool ./usr/share/man/man1/$tool.1.gz \
      ./usr/share/bash-completion/completions/$tool; do
    check "package holds $path" grep -qxF "$path" <<< "$contents"
  done
done
for path in ./usr/share/doc/quillkit/copyright ./usr/share/doc/quillkit/changelog.Debian.gz \
    ./usr/share/doc/quillkit/README.md.gz; do
  check "package holds $path" grep -qxF "$path" <<< "$contents"
done
check "package name" test "$(dpkg-deb -f "$deb" Package)" = quillkit
check "package version" test "$(dpkg-deb -f "$deb" Version)" = 1.5.0-1
check "package architecture" test "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
check "depends on libc ($depends)" grep -q 'libc6' <<< "$depends"
check "depends on the libspectrum it was built with ($depends)" grep -q 'libspectrum[0-9]' <<< "$depends"
check "depends on libsndfile ($depends)" grep -q 'libsndfile1' <<< "$depends"
check "depends on libpng ($depends)" grep -q 'libpng16' <<< "$depends"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/unpacked"
for tool in "${tools[@]}"; do
  report=$(hardening-check "$root/unpacked/usr/bin/$tool")
  for feature in "Position Independent Executable: yes" "Stack protected: yes" \
      "Fortify Source functions: yes" "Read-only relocations: yes" "Immediate binding: yes"; do
    check "$tool: $feature" grep -qF "$feature" <<< "$report"
  done
  check "$tool has section headers" readelf -S "$root/unpacked/usr/bin/$tool"
  check "$tool is stripped" sh -c "! readelf -S '$root/unpacked/usr/bin/$tool' | grep -q '[.]symtab'"
done

# Installed, as a user would have it.
check "apt-get installs it" as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
"$make_fixtures" "$root"
check "cartinfo runs" /usr/bin/cartinfo "$root/sample.mdr"
check "cartinfo -b runs" /usr/bin/cartinfo -b "$root/sample.mdr"
mkdir "$root/files"
check "cartinfo -x copies" /usr/bin/cartinfo -x "$root/files" "$root/sample.mdr"
check "cartinfo -x wrote a screen" test "$(stat -c %s "$root/files/title.scr")" = 6912
check "edgedump runs" /usr/bin/edgedump "$root/sample.tap" "$root/sample.pulses"
check "edgedump wrote pulses" test -s "$root/sample.pulses"
check "blankide runs" /usr/bin/blankide 2 2 2 "$root/disk.hdf"
check "blankide image size" test "$(stat -c %s "$root/disk.hdf")" = $((534 + 8 * 512))
check "cart2tape runs" /usr/bin/cart2tape -f loader "$root/sample.mdr" "$root/loader.tzx"
check "edgedump plays it" /usr/bin/edgedump "$root/loader.tzx" "$root/loader.pulses"
check "blankcart runs" /usr/bin/blankcart -n BLANK -b 20 "$root/blank.mdr"
check "blankcart image size" test "$(stat -c %s "$root/blank.mdr")" = $((20 * 543 + 1))
check "tape2cart runs" /usr/bin/tape2cart "$root/sample.tap" "$root/blank.mdr"
check "cartinfo lists what tape2cart saved" grep -q '"hello"' <<< "$(/usr/bin/cartinfo "$root/blank.mdr")"
check "tapeinfo runs" /usr/bin/tapeinfo "$root/sample.tap" "$root/loader.tzx"
check "tapeinfo lists the sample tape's file" grep -qx '  Program: "hello" LINE 10' <<< "$(/usr/bin/tapeinfo "$root/sample.tap")"
check "tapeinfo -l lists a program" grep -qxF '    40 RANDOMIZE USR 0{=24055}' <<< "$(/usr/bin/tapeinfo -l "$root/basic.tap")"
check "tapedub runs to WAV" /usr/bin/tapedub "$root/sample.tap" "$root/sample.wav"
check "tapedub wrote a WAV" test "$(head -c 4 "$root/sample.wav")$(tail -c +9 "$root/sample.wav" | head -c 4)" = RIFFWAVE
check "tapedub runs to TZX" /usr/bin/tapedub "$root/sample.tap" "$root/sample.tzx"
check "tapeinfo lists the TZX's file" grep -qx '  Program: "hello" LINE 10' <<< "$(/usr/bin/tapeinfo "$root/sample.tzx")"
for tool in "${tools[@]}"; do
  check "$tool --version" grep -q "^$tool (quillkit) 1.5.0$" <<< "$(/usr/bin/"$tool" --version)"
  check "man finds $tool" test "$(man -w "$tool")" = "/usr/share/man/man1/$tool.1.gz"
  completions=$(pkg-config --variable=completionsdir bash-completion 2>/dev/null ||
    echo /usr/share/bash-completion/completions)
  check "bash-completion finds $tool" test -f "$completions/$tool"
done
check "apt-get removes it" as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillkit
check "removed" test ! -e /usr/bin/cartinfo
echo "package checks: $failures failed ($(($(date +%s) - start)) s)"
[ "$failures" -eq 0 ]
