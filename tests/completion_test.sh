#!/usr/bin/env bash
# Loads the bash completions and checks what they offer in a folder of
# sample files. Usage: completion_test.sh <completions folder>
set -u
completions=$(cd "$1" && pwd)
for tool in cartinfo edgedump blankide cart2tape; do
  # shellcheck source=/dev/null
  source "$completions/$tool"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir disks
touch a.mdr B.MDR notes.txt game.tzx old.TAP.gz song.wav song.wav.gz image.hdf BIG.HDF raw.csw

failures=0
# expect "command line with the cursor at its end" "expected words, sorted"
expect() {
  local line=$1 want=$2 got
  read -r -a COMP_WORDS <<< "$line"
  if [[ $line == *" " ]]; then
    COMP_WORDS+=("")
  fi
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$(complete -p "${COMP_WORDS[0]}" | sed 's/.*-F \([^ ]*\) .*/\1/')"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  got=${got% }
  if [[ $got != "$want" ]]; then
    echo "FAIL: '$line' offered '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

expect "cartinfo " "B.MDR a.mdr disks"
expect "cartinfo --b" "--blocks"
expect "cartinfo -" "--blocks --extract= --help --version -V -b -h -x"
expect "cartinfo -x " "disks"
expect "cartinfo a.mdr " "B.MDR a.mdr disks"
expect "edgedump " "disks game.tzx old.TAP.gz raw.csw song.wav"
expect "edgedump --v" "--version"
expect "edgedump game.tzx " "B.MDR BIG.HDF a.mdr disks game.tzx image.hdf notes.txt old.TAP.gz raw.csw song.wav song.wav.gz"
expect "blankide -" "--help --version -V -c -h -s -v"
expect "blankide -v " "1.0 1.1"
expect "blankide 1024 " ""
expect "blankide -c -v 1.0 1024 16 63 " "BIG.HDF disks image.hdf"
expect "blankide 1024 16 63 i" "image.hdf"
expect "cart2tape " "B.MDR a.mdr disks"
expect "cart2tape -f loader a.mdr " "disks game.tzx"
expect "cart2tape --f" "--file="
expect "cart2tape a.mdr x.tap " ""

total=17
echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
