#!/usr/bin/env bash
# Checks what a manual page promises against what the tool does: each claim
# quotes the page (which must still say it) and runs the commands that show it.
# Usage: manpage_claims.sh <page> <make_fixtures> <tool>...
# where <page> is the .1 file of one of the tools, and the tools are every
# program that the claims run (cartinfo, cart2tape, edgedump, blankide,
# tape2cart, blankcart, tapeinfo, tapedub), each as a path to the program.
# "a && b || fail" fails when either check does, as meant.
# shellcheck disable=SC2015
set -u
page=$(realpath "$1")
tool=$(basename "$page" .1)
command -v mandoc > /dev/null || { echo "mandoc is not installed; skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tools run under their bare names, as the pages show them in messages.
mkdir "$work/bin" "$work/run"
for program in "${@:3}"; do
  ln -s "$(realpath "$program")" "$work/bin/$(basename "$program")"
done
PATH=$work/bin:$PATH
"$2" "$work/run" || exit 1
cd "$work/run" || exit 1
text=$(mandoc -T ascii "$page" | col -b | tr -s '[:space:]' ' ')

claims=0
failures=0
current=
failed=0
# claim TEXT: starts a claim; the page must say TEXT (blanks are compared as one).
claim() {
  finish
  claims=$((claims + 1))
  current=$1
  failed=0
  local want
  want=$(tr -s '[:space:]' ' ' <<< "$1")
  want=${want% }
  grep -qF -- "$want" <<< "$text" || fail "the page no longer says this"
}
fail() {
  echo "FAIL: $page: \"$current\": $*"
  failed=1
}
finish() {
  [ -n "$current" ] && [ "$failed" -eq 1 ] && failures=$((failures + 1))
  current=
}
# run COMMAND...: sets out, err and status.
run() {
  out=$("$@" 2> "$work/err")
  status=$?
  err=$(< "$work/err")
  # The page gives levels as libspectrum 1.5 plays them; 1.6 and later start
  # a tape on the other level, which the page says.
  if [ "$1" == edgedump ] && [ "${flip_levels:-0}" -eq 1 ]; then
    out=$(sed 's/ : 0$/ : x/; s/ : 1$/ : 0/; s/ : x$/ : 1/' <<< "$out")
  fi
}
want_status() { [ "$status" -eq "$1" ] || fail "status $status, expected $1"; }
want_out() { [ "$out" == "$1" ] || fail "standard output '$out', expected '$1'"; }
want_err() { [ "$err" == "$1" ] || fail "standard error '$err', expected '$1'"; }
want_no_file() { [ ! -e "$1" ] || fail "$1 was created"; }
# bytes FILE OFFSET COUNT: the bytes as hexadecimal pairs, blank-separated
# (every one of them: od shows repeated lines as "*" without -v).
bytes() { od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
# make_zip ARCHIVE FILE: a ZIP archive holding FILE.
make_zip() {
  python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.write(sys.argv[2])' "$1" "$2"
}
# tzx BLOCKS: a TZX 1.20 image whose blocks are BLOCKS, bytes written as
# printf's \xHH escapes.
tzx() { printf 'ZXTape!\x1a\x01\x14%b' "$1"; }
# tap_block FLAG BYTE...: a TAP block of the flag and the bytes (hexadecimal
# pairs), its length first and its XOR checksum last.
tap_block() {
  local sum=$((16#$1)) byte body="\x$1"
  shift
  for byte in "$@"; do
    sum=$((sum ^ 16#$byte))
    body+="\x$byte"
  done
  body+=$(printf '\\x%02x' "$sum")
  printf '%b' "$(printf '\\x%02x\\x%02x' $((($# + 2) & 255)) $((($# + 2) >> 8)))$body"
}
# le16 N: N as two hexadecimal pairs, low byte first.
le16() { printf '%02x %02x' $(($1 & 255)) $(($1 >> 8)); }
# rom_file TYPE NAME PARAMETER1 PARAMETER2 BYTE...: a header block and a data
# block, as the ROM saves a file on tape.
rom_file() {
  local type=$1 name=$2 first=$3 second=$4
  shift 4
  # shellcheck disable=SC2046
  tap_block 00 "0$type" $(printf '%-10.10s' "$name" | od -An -tx1) $(le16 $#) $(le16 "$first") \
    $(le16 "$second")
  tap_block ff "$@"
}
# zeros N: N zero bytes as hexadecimal pairs.
zeros() { head -c "$1" /dev/zero | od -An -v -tx1; }
# checksum FILE OFFSET COUNT: the Interface 1's checksum of the bytes, in hexadecimal.
checksum() {
  local sum=0 byte
  for byte in $(bytes "$1" "$2" "$3"); do sum=$(((sum + 16#$byte) % 255)); done
  printf '%02x' "$sum"
}

edgedump_claims() {
  # Which level the linked libspectrum starts a tape on: one pulse shows it.
  printf 'ZXTape!\x1a\x01\x14\x13\x01\x10\x00' > one.tzx
  flip_levels=0
  run edgedump one.tzx -
  [ "$out" == "16 : 0" ] && flip_levels=1

  tzx '\x30\x02hi' > text.tzx
  tzx '\x20\xe8\x03' > pause.tzx
  : > empty.tap
  claim "An outfile that begins with - (a lone -, or any name starting with it, reachable after --) means standard output. Operands after the second are ignored."
  run edgedump pause.tzx - third fourth
  want_status 0
  want_out "3500000 : 1"
  run edgedump -- pause.tzx -pulses
  want_out "3500000 : 1"
  want_no_file -pulses

  claim "an input that cannot be read or parsed leaves an existing outfile untouched"
  echo keep > kept
  run edgedump text.tzx.missing kept
  want_status 1
  want_err "libspectrum error: couldn't open \`text.tzx.missing': No such file or directory
edgedump: couldn't read \`text.tzx.missing' (libspectrum error 3)"
  [ "$(< kept)" == keep ] || fail "kept was changed"
  echo "not a tape" > notes.txt
  run edgedump notes.txt kept
  want_status 1
  [ "$(< kept)" == keep ] || fail "kept was changed by an image that does not parse"

  claim "Every tape gives at least one line, for the end of the tape is an edge: a tape with no pulse at all (an empty TAP file, a TZX file of text blocks only) gives the single line 0 : 1, and a TZX file of one 1-second pause gives 3500000 : 1."
  # A tape with no pulse ends high whatever the library.
  for image in empty.tap text.tzx; do
    flip=$flip_levels flip_levels=0
    run edgedump "$image" -
    flip_levels=$flip
    want_status 0
    want_out "0 : 1"
  done
  run edgedump pause.tzx -
  want_out "3500000 : 1"

  claim "its pilot tone of 2168-T-state pulses, two sync pulses, then two pulses per bit (855 for a 0, 1710 for a 1)"
  # sample.tap: a header block (flag 0, type 0: a 0 bit and then seven more).
  run edgedump sample.tap -
  want_status 0
  [ "$(head -2 <<< "$out")" == $'2168 : 1\n2168 : 0' ] || fail "the pilot begins '$(head -2 <<< "$out")'"
  [ "$(grep -v '^2168 :' <<< "$out" | head -4)" == $'667 : 0\n735 : 1\n855 : 0\n855 : 1' ] ||
    fail "after the pilot: '$(grep -v '^2168 :' <<< "$out" | head -4 | tr '\n' ' ')'"
  grep -q '^1710 : ' <<< "$out" || fail "no 1 bit"
  grep -vqE '^[1-9][0-9]* : [01]$|^0 : [01]$' <<< "$out" && fail "a line not of the form 'duration : level'"

  claim "The pause after a data block ends in an edge of its own, so the pause after the last block is written too, and a data block that ends the tape with no pause closes its last pulse with one more edge, of 0 T-states; a tape that ends in a pure tone or a list of pulses ends with the edge of its last pulse."
  run edgedump sample.tap -
  [ "$(tail -2 <<< "$out")" == $'1710 : 1\n3500000 : 0' ] || fail "sample.tap ends '$(tail -2 <<< "$out")'"
  tzx '\x10\x00\x00\x02\x00\xff\xff' > nopause.tzx
  run edgedump nopause.tzx -
  [ "$(tail -2 <<< "$out")" == $'1710 : 1\n0 : 0' ] || fail "a block with no pause ends '$(tail -2 <<< "$out")'"
  tzx '\x12\x10\x00\x02\x00' > tone.tzx
  tzx '\x13\x02\x10\x00\x10\x00' > pulses.tzx
  for image in tone.tzx pulses.tzx; do
    run edgedump "$image" -
    want_out $'16 : 1\n16 : 0'
  done

  claim "a 0 ms pause, a stop the tape if in 48K mode block and a set signal level block are edges of 0 T-states."
  for block in '\x20\x00\x00' '\x2a\x00\x00\x00\x00' '\x2b\x01\x00\x00\x00\x01'; do
    tzx "\x12\x10\x00\x02\x00$block\x12\x10\x00\x02\x00" > control.tzx
    run edgedump control.tzx -
    # libspectrum 1.6 and later play no edge for the stop block (the page says so).
    [ "$flip_levels" -eq 1 ] && [ "$block" == '\x2a\x00\x00\x00\x00' ] && continue
    [ "$(cut -d' ' -f1 <<< "$out" | tr '\n' ' ')" == "16 16 0 16 16 " ] ||
      fail "block $block gave '$(tr '\n' ' ' <<< "$out")'"
  done

  claim "A tape whose jumps would make it play forever, or lead outside the tape, is refused"
  tzx '\x23\x00\x00' > loop.tzx
  run edgedump loop.tzx out
  want_status 1
  want_err "edgedump: \`loop.tzx' never ends: block 1 jumps back forever"
  want_no_file out

  claim "A pure tone or pulse list of 0 pulses plays nothing, and a one-byte pure data block that claims 0 used bits plays all 8."
  tzx '\x12\x10\x00\x00\x00\x13\x00\x12\x10\x00\x01\x00' > nothing.tzx
  run edgedump nothing.tzx -
  want_out "16 : 1"
  tzx '\x14\x10\x00\x20\x00\x00\x00\x00\x01\x00\x00\xff' > bits0.tzx
  tzx '\x14\x10\x00\x20\x00\x08\x00\x00\x01\x00\x00\xff' > bits8.tzx
  run edgedump bits8.tzx -
  local eight=$out
  run edgedump bits0.tzx -
  [ "$(grep -c '^32 :' <<< "$out")" -eq 16 ] && [ "$out" == "$eight" ] ||
    fail "0 used bits gave '$(tr '\n' ' ' <<< "$out")'"

  claim "Long options may be shortened to any unambiguous prefix; -- ends the options."
  run edgedump --vers
  want_status 0
  [[ $out == "edgedump (quillkit) 1.5.0"* ]] || fail "--vers printed '$out'"
  run edgedump --he
  want_status 0
  [[ $out == Usage:* ]] || fail "--he printed '$out'"

  claim "-h, --help Display a help text and exit with status 0. -V, --version Output version information and exit with status 0."
  for option in -h --help -V --version; do
    run edgedump "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done

  claim "Blocks are counted from 1, as libspectrum makes them: a TZX glue block (ID 0x5A), which joins two images, is no block and is not counted."
  tzx '\x5aXTape!\x1a\x01\x14\x23\x00\x00' > glued.tzx
  run edgedump glued.tzx -
  want_status 1
  want_err "edgedump: \`glued.tzx' never ends: block 1 jumps back forever"

  claim "edgedump: \`FILE' is damaged: its compressed data is cut short or expands past 1 GiB"
  tzx '\x20\xe8\x03' | bzip2 | head -c 30 > cut.tzx.bz2
  run edgedump cut.tzx.bz2 out
  want_status 1
  want_err "edgedump: \`cut.tzx.bz2' is damaged: its compressed data is cut short or expands past 1 GiB"
  want_no_file out

  claim "libspectrum error: \`FILE': ... libspectrum could not parse the image, or failed while playing it. Any control character in it, which could come from the image, is shown as ?."
  run edgedump $'no\x01such' -
  want_status 1
  [[ $err == "libspectrum error: couldn't open \`no?such': No such file or directory"$'\n'* ]] ||
    fail "message '$err'"

  claim "0 when the whole tape was written, and after -h or -V; 1 on every failure."
  run edgedump sample.tap pulses
  want_status 0
  run edgedump -x sample.tap pulses2
  want_status 1
  want_no_file pulses2

  claim "edgedump: error opening pulse file for writing: REASON"
  run edgedump sample.tap missing/pulses
  want_status 1
  want_err "edgedump: error opening pulse file for writing: No such file or directory"

  if [ -w /dev/full ]; then
    claim "edgedump: error closing pulse file: REASON A line of the pulse file could not be written (a full disk, a closed standard output)"
    run edgedump sample.tap /dev/full
    want_status 1
    want_err "edgedump: error closing pulse file: No space left on device"
    claim "edgedump: write error: REASON The help or version text could not be written."
    run sh -c 'edgedump --help > /dev/full'
    want_status 1
    want_err "edgedump: write error: No space left on device"
  fi

  claim "edgedump: usage: edgedump <infile> <outfile> Fewer than two operands were given."
  run edgedump sample.tap
  want_status 1
  want_err "edgedump: usage: edgedump <infile> <outfile>
Try \`edgedump --help' for more information."

  claim "edgedump game.tzx game.pulses && wc -l game.pulses"
  cp pause.tzx game.tzx
  run bash -c 'edgedump game.tzx game.pulses && wc -l game.pulses'
  want_out "1 game.pulses"

  claim "edgedump game.tap - | awk '{ t += \$1 } END { print t / 3500000 }'"
  cp sample.tap game.tap
  run bash -c "edgedump game.tap - | awk '{ t += \$1 } END { print t / 3500000 }'"
  local seconds
  seconds=$(edgedump game.tap - | awk '{ t += $1 } END { printf "%d", t }')
  want_out "$(awk -v t="$seconds" 'BEGIN { print t / 3500000 }')"
  [[ $out =~ ^[1-9] ]] || fail "a tape of two blocks lasts '$out' seconds"

  claim "each of them but WAV also when compressed with gzip or bzip2 or stored in a ZIP archive."
  tzx '\x20\xe8\x03' > inner.tzx
  gzip -c inner.tzx > pause.tzx.gz
  bzip2 -c inner.tzx > pause.tzx.bz2
  for image in pause.tzx.gz pause.tzx.bz2; do
    run edgedump "$image" -
    want_status 0
    want_out "3500000 : 1"
  done
  # ZIP archives and WAV files are made with python3.
  if ! command -v python3 > /dev/null; then
    echo "python3 is not installed: ZIP archives and WAV files are not checked"
    return
  fi
  make_zip pause.zip inner.tzx
  run edgedump pause.zip -
  want_status 0
  want_out "3500000 : 1"

  claim "game.tap.zip is read as a TAP file, but a TAP file in game.zip is found only when it begins with a header block, and is otherwise refused (\"couldn't identify file\")."
  printf '\x02\x00\xff\xff' > data.tap
  make_zip data.tap.zip data.tap
  cp data.tap.zip data.zip
  make_zip sample.zip sample.tap
  run edgedump data.tap.zip -
  want_status 0
  run edgedump sample.zip -
  want_status 0
  run edgedump data.zip -
  want_status 1
  want_err "libspectrum error: \`data.zip': libspectrum_tape_read: couldn't identify file"
  # An image in an archive that libspectrum fails to read without a word of
  # its own still gets a message.
  cp inner.tzx inner.cdt
  make_zip cdt.zip inner.cdt
  run edgedump cdt.zip -
  want_status 1
  want_err "libspectrum error: \`cdt.zip': the image could not be read (libspectrum error 3)"

  claim "A TSX (MSX) file is read as TZX and is rejected when it holds MSX blocks (ID 0x4B), as nearly all do; a WAV file is read only as it is, never compressed."
  tzx '\x4b\x00\x00\x00\x00' > msx.tsx
  run edgedump msx.tsx -
  want_status 1
  python3 -c 'import sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(1); w.setframerate(44100)
    w.writeframes(bytes([200] * 50 + [50] * 50 + [200] * 50))' pulse.wav
  run edgedump pulse.wav -
  want_status 0
  [ "$(wc -l <<< "$out")" -ge 3 ] || fail "pulse.wav gave '$out'"
  gzip -c pulse.wav > pulse.wav.gz
  run edgedump pulse.wav.gz -
  want_status 1
}

blankide_claims() {
  claim "blankide 1024 16 63 disk.hdf"
  run blankide 1024 16 63 disk.hdf
  want_status 0
  [ "$(stat -c %s disk.hdf)" -eq $((534 + 1024 * 16 * 63 * 512)) ] || fail "size $(stat -c %s disk.hdf)"

  claim "0 7 \"RS-IDE\" and the byte 0x1A 7 1 version: 0x10 for 1.0, 0x11 for 1.1 8 1 flags: bit 0 set in compact mode 9 2 offset of the sector data: 128 (1.0) or 534 (1.1)"
  [ "$(bytes disk.hdf 0 22)" == "52 53 2d 49 44 45 1a 11 00 16 02 00 00 00 00 00 00 00 00 00 00 00" ] ||
    fail "1.1 header $(bytes disk.hdf 0 22)"
  run blankide -c -s -v 1.0 1024 16 63 disk8.hdf
  [ "$(bytes disk8.hdf 0 11)" == "52 53 2d 49 44 45 1a 10 01 80 00" ] || fail "1.0 compact header $(bytes disk8.hdf 0 11)"
  [ "$(stat -c %s disk8.hdf)" -eq $((128 + 1024 * 16 * 63 * 256)) ] || fail "compact size $(stat -c %s disk8.hdf)"

  claim "word 1 (offset 24) the cylinders, word 3 (offset 28) the heads and word 6 (offset 34) the sectors per track"
  [ "$(bytes disk.hdf 24 2) $(bytes disk.hdf 28 2) $(bytes disk.hdf 34 2)" == "00 04 10 00 3f 00" ] ||
    fail "identity words $(bytes disk.hdf 24 12)"
  run blankide 70000 1 1 low.hdf
  [ "$(bytes low.hdf 24 2)" == "70 11" ] || fail "70000 cylinders stored as $(bytes low.hdf 24 2)"

  claim "leading blanks and a sign are allowed, the number ends at the first other character, and a word with no digits counts as 0 (which gives an image that is the header alone)."
  run blankide " +2" 3heads 1 signed.hdf
  want_status 0
  [ "$(stat -c %s signed.hdf)" -eq $((534 + 2 * 3 * 512)) ] || fail "size $(stat -c %s signed.hdf)"
  run blankide none 16 63 header.hdf
  want_status 0
  [ "$(stat -c %s header.hdf)" -eq 534 ] || fail "size $(stat -c %s header.hdf)"

  claim "A value outside the range -2147483648 to 2147483647 is refused."
  run blankide 1 1 2147483648 big.hdf
  want_status 1
  want_err "blankide: sectors \`2147483648' is out of range"
  want_no_file big.hdf
  run blankide 1 1 2147483647 fits.hdf
  [[ $err != *"out of range"* ]] || fail "2147483647 was refused as out of range"

  claim "takes one block of disk space until it is written to. With -s every zero is written"
  run blankide 100 16 63 sparse.hdf
  run blankide -s 100 16 63 full.hdf
  cmp -s sparse.hdf full.hdf || fail "the two kinds of image differ"
  local size
  size=$(stat -c %s sparse.hdf)
  [ $(($(stat -c %b sparse.hdf) * $(stat -c %B sparse.hdf))) -lt $((size / 2)) ] ||
    fail "the sparse image takes $(stat -c %b sparse.hdf) blocks"
  [ $(($(stat -c %b full.hdf) * $(stat -c %B full.hdf))) -ge "$size" ] ||
    fail "the written image takes only $(stat -c %b full.hdf) blocks"

  claim "The HDF version to write, 1.0 or 1.1; the default is 1.1. A later -v overrides an earlier one."
  run blankide -v 1.1 -v 1.0 1 1 1 later.hdf
  [ "$(bytes later.hdf 7 1)" == 10 ] || fail "version byte $(bytes later.hdf 7 1)"

  claim "creates file (or cuts an existing one to nothing first)"
  head -c 100000 /dev/zero | tr '\0' x > cut.hdf
  run blankide 1 1 1 cut.hdf
  [ "$(stat -c %s cut.hdf)" -eq $((534 + 512)) ] || fail "size $(stat -c %s cut.hdf)"
  [ "$(tr -d '\0' < cut.hdf | wc -c)" -lt 20 ] || fail "old bytes remain"

  claim "-h, --help Display a help text and exit with status 0. -V, --version Output version information and exit with status 0."
  for option in -h --help -V --version; do
    run blankide "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done

  claim "blankide: version not supported -v was given something other than 1.0 or 1.1."
  run blankide -v 2.0 1 1 1 v2.hdf
  want_status 1
  want_err "blankide: version not supported
Try \`blankide --help' for more information."
  want_no_file v2.hdf

  claim "blankide: usage: blankide [-c] [-s] [-v<version>] <cylinders> <heads> <sectors> <hdf> Not exactly four operands were given."
  for operands in "1 1 1" "1 1 1 a.hdf b.hdf"; do
    # shellcheck disable=SC2086
    run blankide $operands
    want_status 1
    want_err "blankide: usage: blankide [-c] [-s] [-v<version>] <cylinders> <heads> <sectors> <hdf>
Try \`blankide --help' for more information."
  done
  want_no_file a.hdf

  claim "blankide: cylinders, heads and sectors must not be negative A geometry value is negative; nothing is created."
  run blankide -- 1 -1 1 negative.hdf
  want_status 1
  want_err "blankide: cylinders, heads and sectors must not be negative"
  want_no_file negative.hdf

  claim "blankide: an image of C cylinders, H heads and S sectors is too large The image would not fit in a file; nothing is created."
  run blankide 2147483647 2147483647 2147483647 huge.hdf
  want_status 1
  want_err "blankide: an image of 2147483647 cylinders, 2147483647 heads and 2147483647 sectors is too large"
  want_no_file huge.hdf

  claim "blankide: error opening 'FILE': REASON The file could not be created."
  run blankide 1 1 1 missing/disk.hdf
  want_status 1
  want_err "blankide: error opening 'missing/disk.hdf': No such file or directory"

  claim "blankide: error truncating 'FILE': REASON The file could not be extended to its full length (sparse mode)."
  run blankide 1 1 1 /dev/null
  want_status 1
  want_err "blankide: error truncating '/dev/null': Invalid argument"

  if [ -w /dev/full ]; then
    claim "blankide: could write only N header bytes out of M to 'FILE' The header could not be written."
    run blankide -s 1 1 1 /dev/full
    want_status 1
    want_err "blankide: could write only 0 header bytes out of 534 to '/dev/full'"
    claim "blankide: write error: REASON The help or version text could not be written."
    run sh -c 'blankide --version > /dev/full'
    want_status 1
    want_err "blankide: write error: No space left on device"
  fi
}

cartinfo_claims() {
  claim "Every listing begins with two empty lines, the heading and an empty line: Listing of \`games.mdr': Cartridge name: \"GAMES\" Cartridge blocks: 254 Free space: 98304 bytes in 192 blocks Write protected: no"
  run cartinfo sample.mdr
  want_status 0
  [ "$(head -8 <<< "$out")" == $'\n\nListing of `sample.mdr\':\n\nCartridge name: "SAMPLES"\nCartridge blocks: 34\nFree space: 6144 bytes in 12 blocks\nWrite protected: no' ] ||
    fail "the listing begins '$(head -8 <<< "$out")'"

  claim "Without -b, the summary is followed by the number of files and an empty line, then one paragraph per file, each closed by an empty line."
  [ "$(sed -n '9,11p' <<< "$out")" == $'Files: 6\n\n  Program: "loader" LINE 10' ] || fail "after the summary: '$(sed -n '9,11p' <<< "$out")'"
  [ "$(grep -c '^  Status: ' <<< "$out")" -eq 6 ] || fail "not six paragraphs"

  claim "Program: \"run\" LINE 10 Length: 457, includes variable length: 3 in 1 block Status: complete"
  grep -qx '  Length: 300, includes variable length: 40 in 1 block' <<< "$out" || fail "no program paragraph"
  claim "Bytes: \"title\" SCREEN\$ 16384, 6912 in 14 blocks"
  grep -qx '  Bytes: "title" SCREEN\$ 16384, 6912 in 14 blocks' <<< "$out" || fail "no screen paragraph"
  grep -qx '  Bytes: "game code" CODE 32768, 1500 in 3 blocks' <<< "$out" || fail "no code paragraph"
  claim "Number Array: \"scores\" DATA S() Length: 26 in 1 block"
  grep -qx '  Number Array: "scores" DATA S()' <<< "$out" || fail "no number array"
  # shellcheck disable=SC2016  # a literal dollar sign, not an expansion
  grep -qx '  Character Array: "names" DATA A\$()' <<< "$out" || fail "no character array"
  claim "PRINT file: \"notes\" Length: 17 bytes in 1 block"
  grep -qx '  PRINT file: "notes"' <<< "$out" && grep -qx '  Length: 17 bytes in 1 block' <<< "$out" ||
    fail "no PRINT file paragraph"

  claim "The status line reads complete when the record that ends the file was found and missing EOF when it was not, followed by , checksum error when any block of the file fails a checksum."
  cp sample.mdr damaged.mdr
  # A byte of the first block's data: its data checksum fails.
  printf '\x55' | dd of=damaged.mdr bs=1 seek=40 conv=notrunc 2> /dev/null
  run cartinfo damaged.mdr
  grep -qx '  Status: complete, checksum error' <<< "$out" || fail "no checksum error in the status"

  claim "--= Block #0 =-- Header flag: 0x01 (header block) Block number: 254 Header unused: 0x0000 Header checksum: 0x77 Record flags: 0x06 (EOF, non-PRINT) Record number: 0"
  run cartinfo -b sample.mdr
  want_status 0
  [ "$(sed -n '9,18p' <<< "$out")" == $'\n--= Block #0 =--\n  Header flag: 0x01 (header block)\n  Block number: 254\n  Header unused: 0x0000\n  Header checksum: 0x77\n  Record flags: 0x06 (EOF, non-PRINT)\n  Record number: 0\n  Record length: 309 bytes\n  Record name: "loader"' ] ||
    fail "the block listing begins '$(sed -n '9,18p' <<< "$out")'"
  [ "$(grep -c '^--= Block #' <<< "$out")" -eq 34 ] || fail "not 34 blocks"

  claim "cartinfo -b *.mdr | awk -v RS= -v ORS='\\n\\n' '/^Listing of|Checksums: .*failed/'"
  run bash -c "cartinfo -b damaged.mdr sample.mdr | awk -v RS= -v ORS='\n\n' '/^Listing of|Checksums: .*failed/'"
  [ "$(grep -c '^Listing of' <<< "$out") $(grep -c '^--= Block' <<< "$out")" == "2 1" ] ||
    fail "kept '$out'"
  grep -qx '  Checksums: data checksum failed' <<< "$out" || fail "the damaged block's verdict"

  claim "Options and operands may be mixed; long options may be shortened to any unambiguous prefix, and -- ends the options."
  run cartinfo sample.mdr --bl
  want_status 0
  grep -q '^--= Block #33 =--' <<< "$out" || fail "--bl after the operand did not list blocks"
  cp sample.mdr ./-b
  run cartinfo -- -b
  want_status 0
  grep -q "^Listing of \`-b':" <<< "$out" || fail "-- did not end the options"

  claim "-h, --help Display a help text and exit with status 0. -V, --version Output version information and exit with status 0."
  for option in -h --help -V --version; do
    run cartinfo "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done

  claim "an operand that cannot be read adds 1, and so does a file larger than any cartridge image (137923 bytes: 254 blocks and the write-protection byte)"
  head -c 137924 /dev/zero > large.mdr
  run cartinfo large.mdr sample.mdr
  want_status 1
  grep -q "^Listing of \`sample.mdr':" <<< "$out" || fail "the next operand was not listed"
  [[ $err == *"cartinfo: couldn't read \`large.mdr' (libspectrum error "[0-9]*")" ]] || fail "message '$err'"
  head -c 137923 sample.mdr > /dev/null

  claim "an image that libspectrum rejects adds libspectrum's error code (4 for a corrupt image, such as one of fewer than 10 blocks), and nothing is printed for it"
  head -c $((543 * 9)) sample.mdr > short.mdr
  run cartinfo short.mdr
  want_status 4
  want_out ""
  run cartinfo short.mdr missing.mdr
  want_status 5

  claim "cartinfo: couldn't read \`FILE' (libspectrum error N) The file could not be read; libspectrum's own line with the reason comes first."
  run cartinfo missing.mdr
  want_status 1
  want_err "libspectrum error: couldn't open \`missing.mdr': No such file or directory
cartinfo: couldn't read \`missing.mdr' (libspectrum error 3)"

  claim "A bad option, or no operand, gives 1 before any operand is read."
  run cartinfo --bogus missing.mdr
  want_status 1
  want_err "cartinfo: unrecognized option '--bogus'
Try \`cartinfo --help' for more information."
  claim "cartinfo: usage: cartinfo [OPTION] <microdrive files>... No operand was given."
  run cartinfo -b
  want_status 1
  want_err "cartinfo: usage: cartinfo [OPTION] <microdrive files>...
Try \`cartinfo --help' for more information."

  claim "cartinfo: \`DIR' is not a folder to extract into: REASON The folder of -x does not exist or is no folder; nothing is listed."
  run cartinfo -x nowhere sample.mdr
  want_status 1
  want_out ""
  want_err "cartinfo: \`nowhere' is not a folder to extract into: No such file or directory"

  if [ -w /dev/full ]; then
    claim "cartinfo: write error: REASON Standard output could not be written (a full disk, a closed descriptor)."
    run sh -c 'cartinfo sample.mdr > /dev/full'
    want_status 1
    want_err "cartinfo: write error: No space left on device"
  fi

  claim "The listing of a program is the same as tapeinfo(1) gives for the same program on a tape."
  run cartinfo -l basic.mdr
  want_status 0
  listing() { sed -n '/^  Listing:$/,/^$/p' <<< "$1"; }
  [ -n "$(listing "$out")" ] && [ "$(listing "$out")" == "$(listing "$(tapeinfo -l basic.tap)")" ] ||
    fail "listed as '$out'"
  grep -qxF '    40 RANDOMIZE USR 0{=24055}' <<< "$out" || fail "no hidden number in '$out'"

  claim "With -d, in the file listing the paragraph of every file is followed by its bytes as the catalogue joins them (the 9-byte header first, for a file that has one)"
  run cartinfo -d basic.mdr
  want_status 0
  grep -qxF '00000000  00 7c 00 05 5d 6e 00 0a  00 00 0a 28 00 e7 30 0e  |.|..]n.....(..0.|' <<< "$out" &&
    grep -qx '00000085' <<< "$out" || fail "dumped as '$out'"
}

cart2tape_claims() {
  claim "cart2tape games.mdr games.tzx"
  run cart2tape sample.mdr games.tzx
  want_status 0
  claim "(TZX, which opens with an archive-info block whose title is the cartridge's name and whose comment reads \"Made by cart2tape from FILE\", each cut to the 255 bytes that such a text can hold)"
  [ "$(head -c 10 games.tzx | od -An -c | tr -s ' ')" == " Z X T a p e ! 032 001 024" ] || fail "not a TZX"
  [ "$(bytes games.tzx 10 1)" == 32 ] || fail "the first block is $(bytes games.tzx 10 1)"
  grep -qa 'SAMPLES' games.tzx && grep -qa 'Made by cart2tape from sample.mdr' games.tzx ||
    fail "no title or comment"

  claim "Each file becomes a header block (flag 0x00) and a data block (flag 0xFF), each ending in its XOR checksum."
  run cart2tape -f loader sample.mdr loader.tap
  want_status 0
  [ "$(stat -c %s loader.tap)" -eq $((2 + 19 + 2 + 302)) ] || fail "size $(stat -c %s loader.tap)"
  [ "$(bytes loader.tap 0 3)" == "13 00 00" ] || fail "header block $(bytes loader.tap 0 3)"
  [ "$(bytes loader.tap 21 3)" == "2e 01 ff" ] || fail "data block $(bytes loader.tap 21 3)"
  local sum=0 byte
  for byte in $(bytes loader.tap 2 19); do sum=$((sum ^ 16#$byte)); done
  [ "$sum" -eq 0 ] || fail "the header block's checksum"
  sum=0
  for byte in $(bytes loader.tap 23 302); do sum=$((sum ^ 16#$byte)); done
  [ "$sum" -eq 0 ] || fail "the data block's checksum"

  claim "Program parameter 1 is the autostart line (bytes 7-8; 32768 or more: none), parameter 2 the program's length without its variables (bytes 5-6)."
  # loader: LINE 10, 300 bytes of which 40 are variables.
  [ "$(bytes loader.tap 2 18)" == "00 00 6c 6f 61 64 65 72 20 20 20 20 2c 01 0a 00 04 01" ] ||
    fail "header $(bytes loader.tap 2 18)"
  claim "Bytes parameter 1 is the start address (bytes 3-4), parameter 2 is 32768."
  run cart2tape --file="game code" sample.mdr code.tap
  [ "$(bytes code.tap 3 1) $(bytes code.tap 14 6)" == "03 dc 05 00 80 00 80" ] || fail "header $(bytes code.tap 2 18)"
  claim "Number array, Character array the high byte of parameter 1 is the array's name byte (byte 5), its low byte 0; parameter 2 is 32768."
  run cart2tape -f scores sample.mdr scores.tap
  # The name byte: byte 5 of the file's data, in the block whose record is named
  # "scores" (record name at 19 of a 543-byte block, data at 30).
  local block name_byte=
  for ((block = 0; block < 34; block++)); do
    if [ "$(dd if=sample.mdr bs=1 skip=$((block * 543 + 19)) count=6 2> /dev/null)" == scores ]; then
      name_byte=$(bytes sample.mdr $((block * 543 + 30 + 5)) 1)
    fi
  done
  [ -n "$name_byte" ] || fail "no block of scores on the cartridge"
  [ "$(bytes scores.tap 3 1) $(bytes scores.tap 16 4)" == "01 00 $name_byte 00 80" ] ||
    fail "header $(bytes scores.tap 2 18), name byte $name_byte"

  claim "The tape's format follows the extension of tape-file (in any case), and libspectrum writes it: .tap (TAP), .tzx (TZX"
  local extension
  for extension in tap TAP tzx Tzx spc sta ltp; do
    run cart2tape -f loader sample.mdr "copy.$extension"
    want_status 0
    run edgedump "copy.$extension" -
    [ "$status" -eq 0 ] && [ "$(wc -l <<< "$out")" -gt 1000 ] || fail ".$extension does not play"
  done

  claim "A tape-file of - writes a TAP to standard output."
  run bash -c 'cart2tape -f loader sample.mdr - | cmp - loader.tap'
  want_status 0

  claim "Any other name is refused before anything is written."
  run cart2tape sample.mdr games.csw
  want_status 1
  want_err "cart2tape: \`games.csw': unknown tape format; name it .tap, .tzx, .spc, .sta or .ltp"
  want_no_file games.csw

  claim "whatever fails (a cartridge that cannot be read, a full disk, a hang-up, an interrupt or a termination signal during the write) leaves an existing tape-file as it was, and no partial file behind."
  echo keep > kept.tap
  run cart2tape missing.mdr kept.tap
  want_status 1
  [ "$(< kept.tap)" == keep ] || fail "kept.tap was changed"

  claim "A PRINT file has no header that a tape could carry: it is left out, with a notice on standard error"
  run cart2tape sample.mdr all.tap
  want_status 0
  want_err "cart2tape: \"notes\" is a PRINT file, which no tape header describes; left out (cartinfo -x copies it)"
  [ "$(stat -c %s all.tap)" -eq 8916 ] || fail "size $(stat -c %s all.tap)"

  claim "Copy only the file name, written as cartinfo prints it (blanks at its end do not count: they pad every name to 10 characters); may be given more than once. A name that is not on the cartridge is a failure, and nothing is written."
  run cart2tape -f loader -f scores sample.mdr two.tap
  want_status 0
  [ "$(stat -c %s two.tap)" -eq $((325 + 21 + 30)) ] || fail "size $(stat -c %s two.tap)"
  run cart2tape -f loader -f nothere sample.mdr none.tap
  want_status 1
  want_err "cart2tape: \`sample.mdr' holds no file named \"nothere\""
  want_no_file none.tap

  claim "cart2tape: \`FILE' has no file for a tape; nothing written The cartridge holds no file, or only PRINT files."
  run cart2tape -f notes sample.mdr notes.tap
  want_status 1
  [[ $err == *"cart2tape: \`sample.mdr' has no file for a tape; nothing written" ]] || fail "message '$err'"
  want_no_file notes.tap

  claim "0 when every file was written whole, and after -h or -V; 2 when the tape was written but some file on it is damaged"
  cp sample.mdr damaged.mdr
  printf '\x55' | dd of=damaged.mdr bs=1 seek=40 conv=notrunc 2> /dev/null
  run cart2tape -f loader damaged.mdr damaged.tap
  want_status 2
  [[ $err == "cart2tape: warning: \"loader\" is damaged ("*"); written as found" ]] || fail "message '$err'"
  [ -s damaged.tap ] || fail "nothing written"
  for option in -h --help -V --version; do
    run cart2tape "$option"
    want_status 0
  done

  claim "cart2tape: couldn't read \`FILE' (libspectrum error N) The cartridge could not be read; libspectrum's line with the reason comes first."
  run cart2tape missing.mdr out.tap
  want_err "libspectrum error: couldn't open \`missing.mdr': No such file or directory
cart2tape: couldn't read \`missing.mdr' (libspectrum error 3)"

  claim "cart2tape: usage: cart2tape [OPTION]... <microdrive file> <tape file> Not exactly two operands were given."
  for operands in "sample.mdr" "sample.mdr a.tap b.tap"; do
    # shellcheck disable=SC2086
    run cart2tape $operands
    want_status 1
    want_err "cart2tape: usage: cart2tape [OPTION]... <microdrive file> <tape file>
Try \`cart2tape --help' for more information."
  done

  claim "cart2tape -f loader games.mdr loader.tap && edgedump loader.tap - | wc -l"
  cp sample.mdr games.mdr
  run bash -c 'cart2tape -f loader games.mdr loader.tap && edgedump loader.tap - | wc -l'
  want_status 0
  [ "$out" -gt 8000 ] || fail "$out edges"
}

blankcart_claims() {
  claim "blankcart games.mdr && cartinfo games.mdr"
  run bash -c 'blankcart games.mdr && cartinfo games.mdr'
  want_status 0
  want_err ""
  [ "$(sed -n 5,10p <<< "$out")" == $'Cartridge name: "games"\nCartridge blocks: 254\nFree space: 130048 bytes in 254 blocks\nWrite protected: no\nFiles: 0' ] ||
    fail "the listing begins '$(sed -n 5,10p <<< "$out")'"

  claim "The image holds sectors blocks of 543 bytes, then the write-protection byte, which is always written: sectors x 543 + 1 bytes, 137923 for the default 254 sectors. The sectors are numbered sectors down to 1 in the order of the file"
  [ "$(stat -c %s games.mdr)" -eq 137923 ] || fail "size $(stat -c %s games.mdr)"
  run blankcart -b 10 ten.mdr
  want_status 0
  [ "$(stat -c %s ten.mdr)" -eq $((10 * 543 + 1)) ] || fail "size $(stat -c %s ten.mdr)"
  local sector numbers=
  for ((sector = 0; sector < 10; sector++)); do
    numbers+="$(bytes ten.mdr $((sector * 543 + 1)) 1) "
  done
  [ "$numbers" == "0a 09 08 07 06 05 04 03 02 01 " ] || fail "sector numbers $numbers"
  [ "$(bytes games.mdr 1 1) $(bytes games.mdr $((253 * 543 + 1)) 1)" == "fe 01" ] ||
    fail "254 sectors numbered $(bytes games.mdr 1 1) to $(bytes games.mdr $((253 * 543 + 1)) 1)"

  claim "byte 0 (the header flag) is 0x01; byte 1 is the sector's number; bytes 2 and 3 are 0; bytes 4-13 are the cartridge's name, padded with spaces; byte 14 is the header's checksum."
  [ "$(bytes games.mdr 0 14)" == "01 fe 00 00 67 61 6d 65 73 20 20 20 20 20" ] ||
    fail "header $(bytes games.mdr 0 14)"
  for sector in 0 1 100 253; do
    [ "$(bytes games.mdr $((sector * 543 + 14)) 1)" == "$(checksum games.mdr $((sector * 543)) 14)" ] ||
      fail "sector $sector: header checksum $(bytes games.mdr $((sector * 543 + 14)) 1)"
  done

  claim "all zero (no record flags, record number 0, length 0, a name of zero bytes) but for byte 29, its checksum, which is right (0). bytes 30-542, the data 512 zero bytes, and their checksum, 0."
  [ "$(od -An -v -tx1 -j 15 -N 528 games.mdr | tr -s ' \n' '\n' | sort -u | paste -sd ' ')" == " 00" ] ||
    fail "sector 0 holds more than zeros after its header"
  # Every sector but the bytes of its header: all zero, whatever its number.
  [ "$(for ((sector = 0; sector < 10; sector++)); do
    od -An -v -tx1 -j $((sector * 543 + 15)) -N 528 ten.mdr; done | tr -s ' \n' '\n' | sort -u | paste -sd ' ')" == " 00" ] ||
    fail "a sector of ten.mdr holds more than zeros after its header"

  claim "The write-protection byte is 0, or 1 with -w."
  [ "$(bytes games.mdr 137922 1)" == 00 ] || fail "byte $(bytes games.mdr 137922 1)"
  run blankcart -w -n 'DEMO 1' -b 20 demo.mdr
  want_status 0
  [ "$(bytes demo.mdr $((20 * 543)) 1)" == 01 ] || fail "byte $(bytes demo.mdr $((20 * 543)) 1)"
  run cartinfo demo.mdr
  grep -qx 'Write protected: yes' <<< "$out" && grep -qx 'Cartridge name: "DEMO 1"' <<< "$out" ||
    fail "listing '$out'"

  claim "blankcart -n 'DEMO 1' -b 20 -w demo.mdr"
  [ "$(bytes demo.mdr 0 14)" == "01 14 00 00 44 45 4d 4f 20 31 20 20 20 20" ] || fail "header $(bytes demo.mdr 0 14)"

  claim "Without it, the cartridge is named after microdrive-file: its name without the folder and the extension (after the last dot, unless that begins the name), cut to 10 characters, every character that is not printable ASCII made _."
  mkdir named
  run blankcart 'named/Très long name.v2.mdr'
  want_status 0
  [ "$(bytes 'named/Très long name.v2.mdr' 4 10)" == "54 72 5f 73 20 6c 6f 6e 67 20" ] ||
    fail "named '$(bytes 'named/Très long name.v2.mdr' 4 10)'"
  run blankcart named/.hidden
  [ "$(bytes named/.hidden 4 10)" == "2e 68 69 64 64 65 6e 20 20 20" ] || fail "named '$(bytes named/.hidden 4 10)'"

  claim "blankcart: \`FILE' exists already; not overwritten Something of that name exists; it is left as it was."
  echo keep > kept.mdr
  ln -s nowhere.mdr dangling.mdr
  mkdir folder.mdr
  for name in kept.mdr dangling.mdr folder.mdr games.mdr; do
    cp -P "$name" before 2> /dev/null
    run blankcart "$name"
    want_status 1
    want_err "blankcart: \`$name' exists already; not overwritten"
  done
  [ "$(< kept.mdr)" == keep ] || fail "kept.mdr was changed"
  want_no_file nowhere.mdr
  [ "$(stat -c %s games.mdr)" -eq 137923 ] && [ -z "$(ls -A folder.mdr)" ] || fail "changed"

  claim "blankcart: \`NAME' is not a cartridge name: 1 to 10 printable ASCII characters"
  for name in '' 12345678901 $'a\tb'; do
    run blankcart -n "$name" bad.mdr
    want_status 1
    want_err "blankcart: \`${name//$'\t'/?}' is not a cartridge name: 1 to 10 printable ASCII characters
Try \`blankcart --help' for more information."
  done
  claim "It is shown as it was given, as every tool of the suite shows a name or a path: a control character, or a byte that is no part of valid UTF-8, as ?; a character of UTF-8 beyond ASCII (an accented letter) as it is."
  for name in $'\e[1m/?[1m' $'caf\xe9/caf?' 'café/café'; do
    run blankcart -n "${name%/*}" bad.mdr
    want_err "blankcart: \`${name#*/}' is not a cartridge name: 1 to 10 printable ASCII characters
Try \`blankcart --help' for more information."
  done
  want_no_file bad.mdr

  claim "blankcart: \`N' is not a number of sectors from 10 to 254"
  for count in 9 255 +10 1e2 99999999999999999999; do
    run blankcart -b "$count" bad.mdr
    want_status 1
    want_err "blankcart: \`$count' is not a number of sectors from 10 to 254
Try \`blankcart --help' for more information."
  done
  want_no_file bad.mdr

  claim "blankcart: couldn't open \`FILE': REASON The file could not be made: its folder does not exist, or may not be written."
  run blankcart missing/new.mdr
  want_status 1
  want_err "blankcart: couldn't open \`missing/new.mdr': No such file or directory"

  claim "blankcart: usage: blankcart [OPTION]... <microdrive file> Not exactly one operand was given."
  for operands in "" "a.mdr b.mdr"; do
    # shellcheck disable=SC2086
    run blankcart $operands
    want_status 1
    want_err "blankcart: usage: blankcart [OPTION]... <microdrive file>
Try \`blankcart --help' for more information."
  done
  want_no_file a.mdr

  claim "Options and operands may be mixed; long options may be shortened to any unambiguous prefix, and -- ends the options."
  run blankcart mixed.mdr --na=MIXED --bl=12 --wr
  want_status 0
  [ "$(stat -c %s mixed.mdr) $(bytes mixed.mdr 4 5) $(bytes mixed.mdr $((12 * 543)) 1)" == "6517 4d 49 58 45 44 01" ] ||
    fail "made $(stat -c %s mixed.mdr) bytes, name $(bytes mixed.mdr 4 5)"
  run blankcart -- -dash.mdr
  want_status 0
  [ -f ./-dash.mdr ] || fail "-- did not end the options"

  claim "0 when the cartridge was made, and after -h or -V; 1 on every failure, with no file made."
  for option in -h --help -V --version; do
    run blankcart "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done

  if [ -w /dev/full ]; then
    claim "blankcart: write error: REASON The help or version text could not be written."
    run sh -c 'blankcart --help > /dev/full'
    want_status 1
    want_err "blankcart: write error: No space left on device"
  fi

  claim "blankcart -b 100 games.mdr && tape2cart games.tap games.mdr"
  rm games.mdr
  cp sample.tap games.tap
  run bash -c 'blankcart -b 100 games.mdr && tape2cart games.tap games.mdr'
  want_status 0
  run cartinfo games.mdr
  grep -qx 'Cartridge blocks: 100' <<< "$out" && grep -qx '  Program: "hello" LINE 10' <<< "$out" ||
    fail "listing '$out'"
}

tape2cart_claims() {
  # sample.tap: the program "hello", LINE 10, 5 bytes. four.tap: one file of
  # each type, read back below.
  {
    rom_file 0 prog 32768 3 01 02 03
    rom_file 3 code 40000 32768 aa bb
    rom_file 1 nums $((0x81 << 8)) 32768 01 00 01 00 00 00 00
    rom_file 2 chars $((0xc1 << 8)) 32768 01 02 00 41 42
  } > four.tap

  claim "tape2cart games.tap games.mdr && cartinfo games.mdr"
  cp sample.tap games.tap
  run bash -c 'tape2cart games.tap games.mdr && cartinfo games.mdr'
  want_status 0
  want_err ""
  [ "$(sed -n 5,15p <<< "$out")" == $'Cartridge name: "games"\nCartridge blocks: 254\nFree space: 129536 bytes in 253 blocks\nWrite protected: no\nFiles: 1\n\n  Program: "hello" LINE 10\n  Length: 5, includes variable length: 0 in 1 block\n  Status: complete' ] ||
    fail "listing '$out'"

  claim "A microdrive-file that does not exist is made blank: 254 sectors (or those of -b), named after the file (or -n), as blankcart(1) lays it out."
  # The blank image of that name, but for the one file's record in its first
  # sector.
  mkdir fresh
  run blankcart fresh/games.mdr
  [ -z "$(cmp -l fresh/games.mdr games.mdr | awk '$1 <= 15 || $1 > 543')" ] ||
    fail "games.mdr differs from a blank cartridge elsewhere than in its first record"
  run tape2cart -n MYCART -b 12 sample.tap small.mdr
  want_status 0
  [ "$(stat -c %s small.mdr) $(bytes small.mdr 0 14)" == "6517 01 0c 00 00 4d 59 43 41 52 54 20 20 20 20" ] ||
    fail "made $(stat -c %s small.mdr) bytes, header $(bytes small.mdr 0 14)"

  claim "Each is the 9-byte Microdrive header, made from the tape header as the Interface 1 makes it, followed by the data; that is cut into records of 512 bytes (the last holding the rest, 1 to 512 bytes), which are marked as a SAVEd file (record flags 0x04, and 0x06 with the end-of-file flag on the last), numbered from 0 and named with the file's 10-byte name."
  # hello: record descriptor, then 14 bytes (9 + 5) of data and checksums.
  [ "$(bytes games.mdr 15 14)" == "06 00 0e 00 68 65 6c 6c 6f 20 20 20 20 20" ] ||
    fail "descriptor $(bytes games.mdr 15 14)"
  [ "$(bytes games.mdr 29 1) $(bytes games.mdr 542 1)" == "$(checksum games.mdr 15 14) $(checksum games.mdr 30 512)" ] ||
    fail "checksums $(bytes games.mdr 29 1) $(bytes games.mdr 542 1)"
  # 1024 bytes of code: 1033 with the header, in records of 512, 512 and 9.
  # shellcheck disable=SC2046
  rom_file 3 big 32768 0 $(zeros 1024) > big.tap
  run tape2cart big.tap big.mdr
  want_status 0
  local sector
  for sector in 0 1 2; do
    [ "$(bytes big.mdr $((sector * 543 + 15)) 4)" == "$(sed -n "$((sector + 1))p" <<< $'04 00 00 02\n04 01 00 02\n06 02 09 00')" ] ||
      fail "record in sector $sector: $(bytes big.mdr $((sector * 543 + 15)) 4)"
  done

  claim "Program bytes 3-4: 23813, where a program starts with the Interface 1's variables; bytes 5-6: the program's length without its variables (tape parameter 2); bytes 7-8: the autostart line (tape parameter 1) as the tape has it, where a line of 32768 or more (0xFFFF, say) means none."
  [ "$(bytes games.mdr 30 9)" == "00 05 00 05 5d 05 00 0a 00" ] || fail "hello's header $(bytes games.mdr 30 9)"
  run tape2cart four.tap four.mdr
  want_status 0
  [ "$(bytes four.mdr 30 12)" == "00 03 00 05 5d 03 00 00 80 01 02 03" ] || fail "prog's header $(bytes four.mdr 30 12)"
  claim "Bytes bytes 3-4: the start address (tape parameter 1); bytes 5-6 and 7-8: 0xFFFF."
  [ "$(bytes four.mdr $((543 + 30)) 11)" == "03 02 00 40 9c ff ff ff ff aa bb" ] ||
    fail "code's header $(bytes four.mdr $((543 + 30)) 11)"
  claim "Number array, Character array bytes 3-4: 0; byte 5: the array's name byte (the high byte of tape parameter 1); byte 6: 0xFF; bytes 7-8: 0xFFFF."
  [ "$(bytes four.mdr $((2 * 543 + 30)) 9)" == "01 07 00 00 00 81 ff ff ff" ] ||
    fail "nums' header $(bytes four.mdr $((2 * 543 + 30)) 9)"
  [ "$(bytes four.mdr $((3 * 543 + 30)) 9)" == "02 05 00 00 00 c1 ff ff ff" ] ||
    fail "chars' header $(bytes four.mdr $((3 * 543 + 30)) 9)"
  run cartinfo four.mdr
  # shellcheck disable=SC2016  # a literal dollar sign, not an expansion
  grep -qx '  Number Array: "nums" DATA A()' <<< "$out" && grep -qx '  Character Array: "chars" DATA A\$()' <<< "$out" &&
    grep -qx '  Bytes: "code" CODE 40000, 2 in 1 block' <<< "$out" && grep -qx '  Program: "prog"' <<< "$out" ||
    fail "listing '$out'"

  claim "tape2cart game.tap game.mdr && cart2tape game.mdr back.tap && diff <(tapeinfo game.tap | grep '\"') <(tapeinfo back.tap | grep '\"')"
  # Parameter 2 of code 0, as on many tapes: the bytes differ, the files not.
  rom_file 3 code 40000 0 aa bb > game.tap
  run bash -c "tape2cart game.tap game.mdr && cart2tape game.mdr back.tap &&
    diff <(tapeinfo game.tap | grep '\"') <(tapeinfo back.tap | grep '\"')"
  want_status 0
  want_out ""
  cmp -s game.tap back.tap && fail "the bytes are the same: no parameter 2 was lost"
  run tapeinfo back.tap
  grep -qx '  Bytes: "code" CODE 40000, 2' <<< "$out" || fail "listing '$out'"
  rm game.tap game.mdr back.tap
  claim "cart2tape(1) writes such a file back as the same two tape blocks, when the tape header holds what the ROM writes where the Microdrive header keeps nothing: parameter 2 of code and arrays 32768, the low byte of an array's parameter 1 zero. Other values there (some tapes hold the bytes of a former header) are not kept."
  cp four.tap game.tap
  run bash -c 'tape2cart game.tap game.mdr && cart2tape game.mdr back.tap && cmp game.tap back.tap'
  want_status 0
  # Parameter 2 of code: 0 on the tape, 32768 after the round trip.
  rom_file 3 other 40000 0 aa > other.tap
  run bash -c 'tape2cart other.tap other.mdr && cart2tape other.mdr other-back.tap'
  want_status 0
  [ "$(bytes other-back.tap 18 2)" == "00 80" ] || fail "parameter 2 $(bytes other-back.tap 18 2)"
  # And the other way: the sample cartridge's files, through a tape, come back
  # as the same tape.
  run cart2tape sample.mdr files.tap
  run tape2cart files.tap files.mdr
  want_status 0
  run cart2tape files.mdr files-again.tap
  cmp -s files.tap files-again.tap || fail "the sample cartridge's files changed on the way"

  claim "Each record goes into the next free sector in the order of the image file, file after file"
  # sample.mdr: its first free sector is block 21 (see cartinfo -b).
  cp sample.mdr onto.mdr
  run tape2cart sample.tap onto.mdr
  want_status 0
  local changed
  changed=$(cmp -l sample.mdr onto.mdr 2> /dev/null | awk '{ o = $1 - 1; print int(o / 543), (o % 543 >= 15) }' | sort -u | paste -sd ' ')
  [ "$changed" == "21 1" ] || fail "changed (sector, past the header): $changed"
  run cartinfo -b sample.mdr
  [ "$(awk '/^--= Block #/ { block = $3 } /Record: empty/ { print block; exit }' <<< "$out")" == "#21" ] ||
    fail "block 21 is not the first free one"

  claim "Only bytes 15 to 542 (record descriptor, data and their checksums) of the sectors written change; every other byte of the image stays as it was, but that the image is always written with its write-protection byte (an image of 543-byte blocks only gains it)."
  [ "$(stat -c %s sample.mdr) $(stat -c %s onto.mdr) $(bytes onto.mdr 18462 1)" == "18462 18463 00" ] ||
    fail "sizes $(stat -c %s sample.mdr) and $(stat -c %s onto.mdr)"

  claim "A sector that FORMAT found bad (end-of-file flag, length 0) is never written, nor is a record of 1 to 511 bytes without the end-of-file flag"
  # A 12-sector cartridge: sector 0 a preset bad block, sector 1 a stray
  # record of 5 bytes, then free ones.
  run blankcart -b 12 marked.mdr
  printf '\x02' | dd of=marked.mdr bs=1 seek=15 conv=notrunc 2> /dev/null
  printf '\x02' | dd of=marked.mdr bs=1 seek=29 conv=notrunc 2> /dev/null
  printf '\x00\x00\x05\x00strayzzzzz' | dd of=marked.mdr bs=1 seek=$((543 + 15)) conv=notrunc 2> /dev/null
  printf '%b' "\\x$(checksum marked.mdr $((543 + 15)) 14)" | dd of=marked.mdr bs=1 seek=$((543 + 29)) conv=notrunc 2> /dev/null
  cp marked.mdr marked-before.mdr
  run tape2cart sample.tap marked.mdr
  want_status 0
  cmp -s <(head -c 1086 marked.mdr) <(head -c 1086 marked-before.mdr) || fail "the bad or the stray sector was written"
  [ "$(bytes marked.mdr $((2 * 543 + 15)) 4)" == "06 00 0e 00" ] || fail "sector 2 holds $(bytes marked.mdr $((2 * 543 + 15)) 4)"

  claim "When the files need more sectors than are free, nothing is written, and the message says how many are free and how many are needed."
  # 5200 bytes of code: 5209 with the header, 11 records.
  # shellcheck disable=SC2046
  rom_file 3 large 32768 0 $(zeros 5200) > large.tap
  run blankcart -b 10 full.mdr
  cp full.mdr full-before.mdr
  run tape2cart large.tap full.mdr
  want_status 1
  want_err "tape2cart: \`full.mdr' has 10 free sectors, and the files need 11; nothing written"
  cmp -s full.mdr full-before.mdr || fail "full.mdr was changed"
  run tape2cart -b 10 large.tap new-full.mdr
  want_status 1
  want_no_file new-full.mdr

  claim "An existing cartridge is read whole first; its name, its number of sectors and its write protection are kept, and -n and -b are ignored, with a line that says so."
  cp sample.mdr kept.mdr
  run tape2cart -n OTHER -b 20 sample.tap kept.mdr
  want_status 0
  want_err "tape2cart: \`kept.mdr' exists; -n and -b are for a new cartridge, and ignored"
  run cartinfo kept.mdr
  grep -qx 'Cartridge name: "SAMPLES"' <<< "$out" && grep -qx 'Cartridge blocks: 34' <<< "$out" || fail "listing '$out'"

  claim "tape2cart: \`CART' is write-protected; nothing written"
  run blankcart -w protected.mdr
  cp protected.mdr protected-before.mdr
  run tape2cart sample.tap protected.mdr
  want_status 1
  want_err "tape2cart: \`protected.mdr' is write-protected; nothing written"
  cmp -s protected.mdr protected-before.mdr || fail "protected.mdr was changed"

  claim "Turbo and pure data blocks count as well as standard-speed ones."
  # A header in a turbo block (ID 0x11), a pause, the data in a pure data
  # block (ID 0x14): the blocks' bytes as a TAP holds them, less the length.
  # shellcheck disable=SC2046
  {
    tzx '\x11\x78\x08\x9b\x02\xdf\x02\x57\x03\xae\x06\x97\x0c\x08\xe8\x03\x13\x00\x00'
    tap_block 00 03 $(printf '%-10s' turbo | od -An -tx1) 02 00 40 9c 00 80 | tail -c +3
    printf '\x20\xe8\x03\x14\x57\x03\xae\x06\x08\xe8\x03\x04\x00\x00'
    tap_block ff 01 02 | tail -c +3
  } > turbo.tzx
  run tape2cart turbo.tzx turbo.mdr
  want_status 0
  want_err ""
  run cartinfo turbo.mdr
  grep -qx '  Bytes: "turbo" CODE 40000, 2 in 1 block' <<< "$out" || fail "listing '$out'"

  claim "tape2cart: \`CART' holds a file \"NAME\" already; block N left out (-r replaces it) The exit status is 2."
  cp four.mdr twice.mdr
  { cat four.tap sample.tap; } > more.tap
  cp twice.mdr twice-before.mdr
  run tape2cart more.tap twice.mdr
  want_status 2
  want_err "tape2cart: \`twice.mdr' holds a file \"prog\" already; block 1 left out (-r replaces it)
tape2cart: \`twice.mdr' holds a file \"code\" already; block 3 left out (-r replaces it)
tape2cart: \`twice.mdr' holds a file \"nums\" already; block 5 left out (-r replaces it)
tape2cart: \`twice.mdr' holds a file \"chars\" already; block 7 left out (-r replaces it)"
  run cartinfo twice.mdr
  grep -qx 'Files: 5' <<< "$out" && grep -qx '  Program: "hello" LINE 10' <<< "$out" ||
    fail "hello was not saved: '$out'"

  claim "tape2cart: no file left to save; \`CART' not written Every file was left out."
  cp games.mdr again.mdr
  run tape2cart sample.tap again.mdr
  want_status 1
  want_err "tape2cart: \`again.mdr' holds a file \"hello\" already; block 1 left out (-r replaces it)
tape2cart: no file left to save; \`again.mdr' not written"
  cmp -s again.mdr games.mdr || fail "again.mdr was changed"

  claim "Replace a file of the same name on the cartridge: its sectors, and any block of its name that belongs to no file, are freed first (left as a blank cartridge's free sectors) and may take the new file"
  # The 1033-byte "big" (3 sectors) replaced by a 9-byte one: sector 0 takes
  # it, sectors 1 and 2 are free again, as on a blank cartridge.
  rom_file 3 big 32768 0 > small-big.tap
  run tape2cart -r small-big.tap big.mdr
  want_status 0
  [ "$(bytes big.mdr 15 4)" == "06 00 09 00" ] || fail "sector 0 holds $(bytes big.mdr 15 4)"
  mkdir fresh-big
  run blankcart fresh-big/big.mdr
  cmp -s <(tail -c +544 big.mdr) <(tail -c +544 fresh-big/big.mdr) || fail "the old file's sectors are not blank"
  run cartinfo big.mdr
  grep -qx 'Files: 1' <<< "$out" && grep -qx '  Bytes: "big" CODE 32768, 0 in 1 block' <<< "$out" ||
    fail "listing '$out'"

  claim "tape2cart: \`TAPE' block N: a second file named \"NAME\" (the first in block M); left out (-r saves the last) The exit status is 2."
  { rom_file 3 same 1 0 01; rom_file 3 same 2 0 02 02; } > same.tap
  run tape2cart same.tap same.mdr
  want_status 2
  want_err "tape2cart: \`same.tap' block 3: a second file named \"same\" (the first in block 1); left out (-r saves the last)"
  run cartinfo same.mdr
  grep -qx '  Bytes: "same" CODE 1, 1 in 1 block' <<< "$out" || fail "listing '$out'"
  claim "Of two files of one name on the tape, the second is left out (status 2), or with -r the last one is saved."
  run tape2cart -r same.tap same-r.mdr
  want_status 0
  want_err ""
  run cartinfo same-r.mdr
  grep -qx '  Bytes: "same" CODE 2, 2 in 1 block' <<< "$out" && grep -qx 'Files: 1' <<< "$out" ||
    fail "listing '$out'"

  claim "tape2cart: \`TAPE' block N: REASON; left out"
  # One block of each kind that is left out, and one file.
  # shellcheck disable=SC2046
  {
    tap_block 00 04 $(printf '%-10s' t4 | od -An -tx1) 01 00 00 80 00 00
    tap_block 00 03 $(printf '%-10s' lone | od -An -tx1) 01 00 00 80 00 00
    tap_block ff 01 02
    tap_block 44 01
    tap_block 00 01 02
    rom_file 3 kept 1 0 01
  } > odd.tap
  run tape2cart odd.tap odd.mdr
  want_status 0
  want_err "tape2cart: \`odd.tap' block 1: a header of type 4, which no ROM file has; left out
tape2cart: \`odd.tap' block 2: the header of \"lone\", without its data after it; left out
tape2cart: \`odd.tap' block 3: data without a header (4 bytes); left out
tape2cart: \`odd.tap' block 4: a block of flag 0x44 (3 bytes); left out
tape2cart: \`odd.tap' block 5: a block of flag 0x00 (4 bytes); left out"
  run cartinfo odd.mdr
  grep -qx 'Files: 1' <<< "$out" || fail "listing '$out'"

  claim "a header whose checksum is wrong the data of \"NAME\" (header in block M), whose checksum is wrong The file is damaged: the exit status is 2."
  # shellcheck disable=SC2046
  {
    rom_file 3 good 1 0 01
    tap_block 00 03 $(printf '%-10s' bad | od -An -tx1) 01 00 00 80 00 00 | head -c 20
    printf '\x77'
    tap_block 00 03 $(printf '%-10s' worse | od -An -tx1) 01 00 00 80 00 00
    printf '\x03\x00\xff\x01\x00'
  } > damaged.tap
  run tape2cart damaged.tap damaged.mdr
  want_status 2
  want_err "tape2cart: \`damaged.tap' block 3: a header whose checksum is wrong; left out
tape2cart: \`damaged.tap' block 5: the data of \"worse\" (header in block 4), whose checksum is wrong; left out"
  run cartinfo damaged.mdr
  grep -qx 'Files: 1' <<< "$out" && grep -q '"good"' <<< "$out" || fail "listing '$out'"

  claim "generalised data, which no ROM loader reads a sampled recording, which holds pulses, not bytes"
  # A generalised-data block of no symbols.
  tzx '\x19\x0e\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' > symbols.tzx
  run tape2cart symbols.tzx symbols.mdr
  want_status 1
  want_err "tape2cart: \`symbols.tzx' block 1: generalised data, which no ROM loader reads; left out
tape2cart: \`symbols.tzx' holds no ROM file; nothing written"
  want_no_file symbols.mdr
  claim "tape2cart: \`TAPE' holds no ROM file: a sampled recording holds pulses, not bytes; nothing written"
  tzx '\x15\x4f\x00\x00\x00\x08\x02\x00\x00\xff\x00' > sampled.tzx
  run tape2cart sampled.tzx sampled.mdr
  want_status 1
  want_err "tape2cart: \`sampled.tzx' block 1: a sampled recording, which holds pulses, not bytes; left out
tape2cart: \`sampled.tzx' holds no ROM file: a sampled recording holds pulses, not bytes; nothing written"
  want_no_file sampled.mdr

  claim "Save only the file name, written as cartinfo prints it (keywords spelled out); blanks at its end do not count, as a name is padded with them to 10 characters. May be given more than once. A name that is not among the tape's files is a failure, and nothing is written; blocks that concern other files are not mentioned."
  run tape2cart -f code -f 'chars   ' four.tap picked.mdr
  want_status 0
  run cartinfo picked.mdr
  [ "$(grep -c '^  [A-Z].*: "' <<< "$out")" -eq 2 ] && grep -q '"code"' <<< "$out" && grep -q '"chars"' <<< "$out" ||
    fail "listing '$out'"
  run tape2cart -f code -f nothere four.tap none.mdr
  want_status 1
  want_err "tape2cart: \`four.tap' holds no file named \"nothere\""
  want_no_file none.mdr

  claim "tape2cart -r -f loader loader.tzx games.mdr"
  cart2tape -f loader sample.mdr loader.tzx 2> /dev/null
  cp sample.mdr games.mdr
  run tape2cart -r -f loader loader.tzx games.mdr
  want_status 0
  run cartinfo games.mdr
  [ "$(grep -c '"loader"' <<< "$out")" -eq 1 ] || fail "listing '$out'"

  claim "A TAP, TZX or PZX image whose last block is cut short: the files before it are saved"
  head -c $(($(stat -c %s four.tap) - 3)) four.tap > cut.tap
  run tape2cart cut.tap cut.mdr
  want_status 2
  want_err "tape2cart: \`cut.tap' block 7: the header of \"chars\", without its data after it; left out
tape2cart: \`cut.tap' block 8: cut short, the image holds 6 of its 9 bytes; left out"
  run cartinfo cut.mdr
  [ "$(grep -c '^  [A-Z].*: "' <<< "$out")" -eq 3 ] || fail "listing '$out'"

  claim "tape2cart: \`CART' is the tape \`TAPE' itself; not replaced"
  cp sample.tap self.tap
  ln -s self.tap self-link.mdr
  for name in self.tap self-link.mdr; do
    run tape2cart self.tap "$name"
    want_status 1
    want_err "tape2cart: \`$name' is the tape \`self.tap' itself; not replaced"
  done
  cmp -s self.tap sample.tap || fail "the tape was changed"
  claim "tape2cart: a cartridge is not written to standard output; name an MDR file"
  run tape2cart sample.tap -
  want_status 1
  want_err "tape2cart: a cartridge is not written to standard output; name an MDR file"
  want_out ""

  claim "tape2cart: couldn't read \`FILE' (libspectrum error N) The tape or the cartridge could not be read; libspectrum's line with the reason comes first."
  run tape2cart missing.tap new.mdr
  want_status 1
  want_err "libspectrum error: couldn't open \`missing.tap': No such file or directory
tape2cart: couldn't read \`missing.tap' (libspectrum error 3)"
  want_no_file new.mdr
  head -c 137924 /dev/zero > huge.mdr
  run tape2cart sample.tap huge.mdr
  want_status 1
  [[ $err == *"tape2cart: couldn't read \`huge.mdr' (libspectrum error "[0-9]*")" ]] || fail "message '$err'"

  claim "tape2cart: \`TAPE' never ends: block N jumps back forever"
  tzx '\x23\x00\x00' > loop.tzx
  run tape2cart loop.tzx loop.mdr
  want_status 1
  want_err "tape2cart: \`loop.tzx' never ends: block 1 jumps back forever"
  want_no_file loop.mdr

  claim "tape2cart: \`NAME' is not a cartridge name: 1 to 10 printable ASCII characters tape2cart: \`N' is not a number of sectors from 10 to 254"
  run tape2cart -n 12345678901 sample.tap bad.mdr
  want_status 1
  want_err "tape2cart: \`12345678901' is not a cartridge name: 1 to 10 printable ASCII characters
Try \`tape2cart --help' for more information."
  run tape2cart -b 9 sample.tap bad.mdr
  want_status 1
  want_err "tape2cart: \`9' is not a number of sectors from 10 to 254
Try \`tape2cart --help' for more information."
  want_no_file bad.mdr

  claim "tape2cart: couldn't open \`CART': REASON The cartridge could not be created"
  run tape2cart sample.tap missing/new.mdr
  want_status 1
  want_err "tape2cart: couldn't open \`missing/new.mdr': No such file or directory"

  claim "tape2cart: usage: tape2cart [OPTION]... <tape file> <microdrive file> Not exactly two operands were given."
  for operands in "sample.tap" "sample.tap a.mdr b.mdr"; do
    # shellcheck disable=SC2086
    run tape2cart $operands
    want_status 1
    want_err "tape2cart: usage: tape2cart [OPTION]... <tape file> <microdrive file>
Try \`tape2cart --help' for more information."
  done
  want_no_file a.mdr

  claim "Options and operands may be mixed; long options may be shortened to any unambiguous prefix, and -- ends the options."
  run tape2cart sample.tap mixed.mdr --na=MIXED --bl=10
  want_status 0
  [ "$(stat -c %s mixed.mdr) $(bytes mixed.mdr 4 5)" == "5431 4d 49 58 45 44" ] || fail "made $(stat -c %s mixed.mdr) bytes"

  claim "0 when every file of the tape (or every one that -f names) was saved, and after -h or -V"
  for option in -h --help -V --version; do
    run tape2cart "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done
  if [ -w /dev/full ]; then
    claim "tape2cart: write error: REASON The help or version text could not be written."
    run sh -c 'tape2cart --version > /dev/full'
    want_status 1
    want_err "tape2cart: write error: No space left on device"
  fi
}

tapeinfo_claims() {
  # paragraph N: block N's paragraph in $out, its lines joined by '|'.
  paragraph() { awk -v n="Block $1: " 'index($0, n) == 1 { on = 1 } on && $0 == "" { exit } on' <<< "$out" | paste -sd '|'; }
  # durations: the sum of the listing's block durations, in T-states.
  durations() { sed -n 's/^  Duration: [0-9:.]* (\([0-9]*\) T-states.*/\1/p' <<< "$out" | awk '{ t += $1 } END { printf "%.0f", t }'; }
  # total: the T-states of the listing's playing time.
  total() { sed -n 's/^Playing time: .* (\([0-9]*\) T-states)$/\1/p' <<< "$out"; }
  # shellcheck disable=SC2046
  {
    rom_file 0 prog 32768 3 01 02 03
    rom_file 3 code 40000 32768 aa bb
    rom_file 1 nums $((0x81 << 8)) 32768 01 00 01 00 00 00 00
    rom_file 2 chars $((0xc1 << 8)) 32768 01 02 00 41 42
    rom_file 3 scr 16384 32768 $(zeros 6912)
  } > files.tap
  # A jump over a text, a tone played three times in a loop, a select, a
  # message, archive info with a line break, hardware and a glue block.
  tzx '\x23\x02\x00\x30\x07skipped\x24\x03\x00\x12\xe8\x03\x02\x00\x25\x28\x09\x00\x01\x01\x00\x05Start\x31\x05\x04wait\x32\x0d\x00\x02\x00\x05Games\xff\x03a\rb\x33\x01\x00\x01\x03\x5aXTape!\x1a\x01\x14\x21\x04side\x22\x2b\x01\x00\x00\x00\x01' > control.tzx

  claim "The listing of each operand begins with two empty lines, the line Listing of \`FILE': and an empty line, then four summary lines, which scripts may rely on:"
  run tapeinfo sample.tap
  want_status 0
  want_err ""
  [ "$(head -n 9 <<< "$out")" == $'\n\nListing of `sample.tap\':\n\nFormat: TAP\nBlocks: 2\nFiles: 1\nPlaying time: 0:09.11 (31918872 T-states)' ] ||
    fail "listing '$out'"
  claim "An empty line follows, then one paragraph for every block, in the order of the image, each followed by an empty line. A paragraph begins with the line Block N: KIND"
  [ "$(paragraph 1)" == 'Block 1: standard speed data|  Start: 0:00.00 (T-state 0)|  Duration: 0:06.08 (21300046 T-states)|  Data: 19 bytes, flag 0x00|  Checksum: ok|  Program: "hello" LINE 10|  Length: 5, includes variable length: 0|  Its data follows in block 2|  Pause: 1000 ms' ] ||
    fail "block 1: '$(paragraph 1)'"
  [ "$(paragraph 2)" == 'Block 2: standard speed data|  Start: 0:06.08 (T-state 21300046)|  Duration: 0:03.03 (10618826 T-states)|  Data: 7 bytes, flag 0xFF|  Checksum: ok|  The data of "hello", whose header is block 1|  Pause: 1000 ms' ] ||
    fail "block 2: '$(paragraph 2)'"
  # The empty line after the last paragraph, which $(...) would drop.
  [ "$(tapeinfo sample.tap | tail -c 16 | od -An -c | tr -s ' ')" == ' P a u s e : 1 0 0 0 m s \n \n' ] &&
    [ "$(grep -c '^$' <<< "$out")" -eq 5 ] || fail "the empty lines of '$out'"

  claim "With -l, the paragraph of the data block of every program (the data of a header of type 0, its checksum right or bad) is followed by an empty line and the program's listing, a paragraph of its own that ends with an empty line:"
  run tapeinfo -l basic.tap
  want_status 0
  [ "$(sed -n '/^  Listing:$/,/^$/p' <<< "$out")" == $'  Listing:\n    10 BORDER 0: PAPER 0: INK 7: CLEAR 24999\n    20 PRINT AT 10,4;"{0x10}{0x06}Loading..."\n    30 LOAD ""SCREEN$ : LOAD ""CODE \n    40 RANDOMIZE USR 0{=24055}\n  Variables:\n    t = 3\n    n$ = "Quill"' ] &&
    [ "$(grep -B2 -x '  Listing:' <<< "$out")" == $'  Pause: 1000 ms\n\n  Listing:' ] || fail "listing '$out'"
  claim "where its value is not the one typed (a common protection: USR 0 that runs USR 24055), the value that runs follows the digits as {=24055}."
  [ "$(tapeinfo -l basic.tap | grep -c '{=')" -eq 1 ] || fail "not one hidden number shown"

  claim "With -d, the paragraph of every block that carries bytes (standard speed, turbo speed, pure data and PZX data blocks) is followed by all its bytes, the flag first and the checksum last, in the layout of hexdump -C -v"
  run tapeinfo -d sample.tap
  want_status 0
  [ "$(grep -c '^00000000  ' <<< "$out")" -eq 2 ] || fail "not two dumps in '$out'"
  if command -v hexdump > /dev/null; then
    [ "$(awk '/^Block 2:/ { on = 1 } on && /^0000/' <<< "$out")" == "$(tail -c 7 sample.tap | hexdump -C -v)" ] ||
      fail "block 2 dumped as '$out'"
  fi

  claim "Playing time: how long the whole tape plays, as m:ss.cc (minutes, without bound, seconds and hundredths of a second, cut rather than rounded) and in T-states"
  # 31918872 T-states are 9.1196 seconds: 0:09.11. 70 pauses of 65.535
  # seconds are 76 minutes and 27.45 seconds.
  tzx "$(for _ in $(seq 70); do printf '\\x20\\xff\\xff'; done)" > long.tzx
  run tapeinfo long.tzx
  want_status 0
  grep -qx 'Playing time: 76:27.45 (16056075000 T-states)' <<< "$out" || fail "listing '$out'"

  claim "TAP, TZX (a CDT file too), PZX, CSW, WAV, SPC, STA, LTP, Warajevo or Z80Em, followed by (gzip), (bzip2) or (ZIP) when the image was compressed or archived so: for example TAP (gzip)."
  gzip -c sample.tap > sample.tap.gz
  cp control.tzx control.cdt
  bzip2 -c control.tzx > control.tzx.bz2
  local operand format
  for operand in sample.tap.gz:'TAP (gzip)' control.cdt:TZX control.tzx.bz2:'TZX (bzip2)'; do
    run tapeinfo "${operand%%:*}"
    format=$(sed -n 's/^Format: //p' <<< "$out")
    [ "$format" == "${operand#*:}" ] || fail "${operand%%:*}: format '$format'"
  done

  claim "A TAP, TZX or PZX image whose last block is cut short (a download that stopped, a copy that ran out of room) is listed up to the damage"
  head -c $(($(stat -c %s files.tap) - 100)) files.tap > cut.tap
  bzip2 -c cut.tap > cut.tap.bz2
  for operand in cut.tap cut.tap.bz2; do
    run tapeinfo "$operand"
    want_status 2
    want_err "tapeinfo: \`$operand' is damaged: block 10 is cut short, the image holds 6816 of its 6916 bytes"
    grep -qx 'Blocks: 10, the last cut short' <<< "$out" &&
      [ "$(paragraph 10)" == 'Block 10: standard speed data|  Cut short: the image holds 6816 of its 6916 bytes|  Data: 6814 of 6914 bytes, flag 0xFF|  The data of "scr", whose header is block 9' ] &&
      [[ "$(paragraph 9)" == *'|  Its data follows in block 10, cut short|'* ]] || fail "$operand: listing '$out'"
  done
  claim "it counts as cut short only when a whole block before the cut passes its checksum or, with no block whole, when the cut block starts with the flag 0x00 or 0xFF; any other is refused as before."
  printf '\x10\x00\x16\x16\x16' > oric.tap
  run tapeinfo oric.tap
  want_status 1
  want_out ""
  edgedump cut.tap - > /dev/null 2>&1 && fail "edgedump played a cut tape"

  claim "Every ROM file (see Files) is copied as its data (without flag and checksum), under its name made safe as cartinfo makes a cartridge file's name safe, with an extension by its kind:"
  mkdir out
  run tapeinfo -x out files.tap
  want_status 0
  [ "$(cd out && echo *)" == "chars.car code.bin nums.nar prog.bas scr.png scr.scr" ] && [ "$(bytes out/code.bin 0 2)" == "aa bb" ] ||
    fail "files '$(ls out)'"
  claim "Beside every file whose data is exactly 6912 bytes (a screen: the bitmap and the attributes), whatever its kind (for a block, the bytes between its flag and its checksum), its picture is written as a PNG file of the same name with .png for its extension"
  [ "$(bytes out/scr.png 0 8)" == "89 50 4e 47 0d 0a 1a 0a" ] || fail "picture '$(bytes out/scr.png 0 8)'"
  claim "A damaged file is copied as far as it goes, after tapeinfo: warning: \"NAME\" is damaged (REASON); copied to \`FILE', and the exit status is 2"
  mkdir cut
  run tapeinfo -x cut cut.tap
  want_status 2
  [[ $err == *"tapeinfo: warning: \"scr\" is damaged (its data is cut short); copied to \`cut/scr.scr'" ]] &&
    [ "$(stat -c %s cut/scr.scr)" -eq 6813 ] || fail "message '$err'"
  claim "No file is ever written over, nor through a link: a name that is taken gives \`FILE' exists already; not overwritten"
  run tapeinfo -x out files.tap
  want_status 1
  [[ $err == "tapeinfo: \`out/prog.bas' exists already; not overwritten"* ]] || fail "message '$err'"

  claim "a TZX glue block (ID 0x5A), which only joins two images, is no block and is not counted."
  run tapeinfo control.tzx
  want_status 0
  grep -qx 'Blocks: 12' <<< "$out" && grep -qx 'Block 10: group start' <<< "$out" || fail "listing '$out'"

  claim "(the second as Duration: m:ss.cc (D T-states, in P plays) when the block played P times, more than once), or, for a block that the tape's jumps pass over, the single line Not played."
  [ "$(paragraph 2)" == 'Block 2: text description|  Not played|  Text: "skipped"' ] || fail "block 2: '$(paragraph 2)'"
  [ "$(paragraph 4)" == 'Block 4: pure tone|  Start: 0:00.00 (T-state 0)|  Duration: 0:00.00 (6000 T-states, in 3 plays)|  Pulses: 2 of 1000 T-states' ] ||
    fail "block 4: '$(paragraph 4)'"
  claim "Control blocks (texts, groups, jumps, loops, archive info) take no time of their own."
  [ "$(grep -c '^  Duration: 0:00.00 (0 T-states' <<< "$out")" -eq 10 ] || fail "listing '$out'"

  claim "jump Jumps to block M, or Jumps outside the tape, by N blocks for a jump that leads nowhere. loop start Repeats: N times (1 time). select One line Option: \"TEXT\" jumps to block M (or jumps outside the tape, by N blocks) for every option."
  [ "$(paragraph 1)" == 'Block 1: jump|  Start: 0:00.00 (T-state 0)|  Duration: 0:00.00 (0 T-states)|  Jumps to block 3' ] ||
    fail "block 1: '$(paragraph 1)'"
  grep -qx '  Repeats: 3 times' <<< "$out" && grep -qx '  Option: "Start" jumps to block 7' <<< "$out" ||
    fail "listing '$out'"
  claim "message Text: \"TEXT\" and Shown for: N ms."
  [ "$(paragraph 7)" == 'Block 7: message|  Start: 0:00.00 (T-state 6000)|  Duration: 0:00.00 (0 T-states)|  Text: "wait"|  Shown for: 5000 ms' ] ||
    fail "block 7: '$(paragraph 7)'"
  claim "archive info One line for every text, labelled Title, Publisher, Author, Year, Language, Type, Price, Loader, Origin or Comment after its ID (0 to 8, 255)"
  claim "Texts are shown between double quotes as they are, but that every byte that could steer a terminal (a control code, a line break among them, or a byte that is no part of printable UTF-8) is shown as ?."
  [ "$(paragraph 8)" == 'Block 8: archive info|  Start: 0:00.00 (T-state 6000)|  Duration: 0:00.00 (0 T-states)|  Title: "Games"|  Comment: "a?b"' ] ||
    fail "block 8: '$(paragraph 8)'"
  claim "hardware type One line for every entry, Hardware: type T, id I: USE, where USE is runs on it, uses its special features, runs on it but does not use its special features or does not run on it"
  grep -qx '  Hardware: type 0, id 1: does not run on it' <<< "$out" || fail "listing '$out'"
  claim "group start Name: \"NAME\"."
  [ "$(paragraph 10)" == 'Block 10: group start|  Start: 0:00.00 (T-state 6000)|  Duration: 0:00.00 (0 T-states)|  Name: "side"' ] ||
    fail "block 10: '$(paragraph 10)'"

  claim "With -s, each block takes one line instead: its first line, then each of the others after \"; \", with no empty line between blocks; the heading and the summary stay as they are."
  local long
  for operand in sample.tap control.tzx files.tap; do
    run tapeinfo "$operand"
    long=$(awk '/^Block [0-9]+: / { line = $0; on = 1; next } on && /^  / { line = line "; " substr($0, 3); next } on && $0 == "" { print line; on = 0; next } { print } END { if (on) print line }' <<< "$out")
    run tapeinfo -s "$operand"
    want_status 0
    [ "$out" == "$long" ] || fail "$operand: -s gave '$out', the paragraphs joined '$long'"
  done

  claim "Program: \"NAME\" LINE L Bytes: \"NAME\" CODE START, LENGTH Bytes: \"NAME\" SCREEN\$ 16384, 6912 Number Array: \"NAME\" DATA A() Character Array: \"NAME\" DATA A\$()"
  claim "a program's autostart line is shown when it has one (a line below 32768); a program is followed by the line Length: L, includes variable length: V (or, when the header's program length P, its parameter 2, is more than its length, which no ROM saves, Length: L, program length P exceeds it) and an array by Length: L."
  rom_file 0 long 10 50 01 02 03 > long.tap
  run tapeinfo -s long.tap
  grep -qF '; Program: "long" LINE 10; Length: 3, program length 50 exceeds it; ' <<< "$out" ||
    fail "listing '$out'"
  run tapeinfo files.tap
  want_status 0
  grep -qx 'Files: 5' <<< "$out" || fail "listing '$out'"
  # shellcheck disable=SC2016  # a literal dollar sign, not an expansion
  [ "$(grep -A1 '^  \(Program\|Bytes\|Number Array\|Character Array\): ' <<< "$out" | grep -v '^  Its data\|^--' | paste -sd '|')" == '  Program: "prog"|  Length: 3, includes variable length: 0|  Bytes: "code" CODE 40000, 2|  Number Array: "nums" DATA A()|  Length: 7|  Character Array: "chars" DATA A$()|  Length: 5|  Bytes: "scr" SCREEN$ 16384, 6912' ] ||
    fail "listing '$out'"
  claim "The header of a file gets Its data follows in block M, and its data block The data of \"NAME\", whose header is block M."
  grep -qx '  Its data follows in block 8' <<< "$out" && grep -qx '  The data of "chars", whose header is block 7' <<< "$out" ||
    fail "listing '$out'"

  claim "Data: N bytes, flag 0xXX The number of bytes, flag and checksum included (\"1 byte\" for one), and the first of them, the flag. A block whose last byte has fewer than 8 bits used gets Data: N bytes, flag 0xXX, B bits used of the last instead, and no checksum line; a block of no bytes gets Data: none."
  claim "A block whose last byte is not whole, or that has no bytes, gets no checksum line and never counts as bad."
  # A ROM block of no bytes, one of 1 byte, and a pure data block of 3 bytes
  # whose last has 6 bits used (and whose XOR is not 0).
  tzx '\x10\xe8\x03\x00\x00\x10\xe8\x03\x01\x00\x00\x14\x57\x03\xae\x06\x06\x00\x00\x03\x00\x00\xff\x12\x34' > sizes.tzx
  run tapeinfo -s sizes.tzx
  want_status 0
  [ "$(grep -o 'Data: [^;]*\(; Checksum: [a-z]*\)\?' <<< "$out" | paste -sd '|')" == 'Data: none|Data: 1 byte, flag 0x00; Checksum: ok|Data: 3 bytes, flag 0xFF, 6 bits used of the last' ] ||
    fail "listing '$out'"

  claim "pure data The bytes' lines; Timings: bits B0 B1 (T-states) when they are not 855 and 1710; then Pause: N ms."
  tzx '\x14\xf4\x01\xe8\x03\x08\x64\x00\x03\x00\x00\x00\x01\x01' > fast.tzx
  run tapeinfo fast.tzx
  want_status 0
  [ "$(paragraph 1 | cut -d'|' -f4-)" == '  Data: 3 bytes, flag 0x00|  Checksum: ok|  Timings: bits 500 1000 (T-states)|  Pause: 100 ms' ] ||
    fail "block 1: '$(paragraph 1)'"
  run tapeinfo sizes.tzx
  [ "$(paragraph 3 | cut -d'|' -f4-)" == '  Data: 3 bytes, flag 0xFF, 6 bits used of the last|  Pause: 0 ms' ] ||
    fail "block 3: '$(paragraph 3)'"

  claim "turbo speed data The bytes' lines; then, when any of its timings is not the ROM's (pilot pulses of 2168 T-states, 8063 of them before a block of flag below 0x80 and 3223 before the others, sync pulses of 667 and 735, bits of 855 and 1710), Timings: pilot P x N, sync S1 S2, bits B0 B1 (T-states); then Pause: N ms."
  # A header block with the ROM's timings but a data block's 3223 pilot
  # pulses, then the data block so.
  # shellcheck disable=SC2046
  {
    tzx '\x11\x78\x08\x9b\x02\xdf\x02\x57\x03\xae\x06\x97\x0c\x08\xe8\x03\x13\x00\x00'
    tap_block 00 03 $(printf '%-10s' turbo | od -An -tx1) 02 00 40 9c 00 80 | tail -c +3
    printf '\x11\x78\x08\x9b\x02\xdf\x02\x57\x03\xae\x06\x97\x0c\x08\xe8\x03\x04\x00\x00'
    tap_block ff 01 02 | tail -c +3
  } > turbo.tzx
  run tapeinfo turbo.tzx
  want_status 0
  [ "$(paragraph 1 | cut -d'|' -f4-)" == '  Data: 19 bytes, flag 0x00|  Checksum: ok|  Bytes: "turbo" CODE 40000, 2|  Its data follows in block 2|  Timings: pilot 2168 x 3223, sync 667 735, bits 855 1710 (T-states)|  Pause: 1000 ms' ] ||
    fail "block 1: '$(paragraph 1)'"
  [ "$(paragraph 2 | cut -d'|' -f4-)" == '  Data: 4 bytes, flag 0xFF|  Checksum: ok|  The data of "turbo", whose header is block 1|  Pause: 1000 ms' ] ||
    fail "block 2: '$(paragraph 2)'"

  claim "A header of a type above 3 gets A header of type T, which no ROM file has instead."
  claim "A header whose data follows with a wrong checksum gets Its data follows in block M, whose checksum is bad, and that data block names its header all the same; a header that no data block of its length follows gets No data block of its length follows. A block of flag 0xFF that no header announces gets No header announces it. Only whole files count in Files:."
  claim "Checksum: ok when that is 0, Checksum: bad when it is not, and the exit status is then 2."
  # shellcheck disable=SC2046
  {
    rom_file 3 good 1 0 01
    tap_block 00 04 $(printf '%-10s' t4 | od -An -tx1) 01 00 00 80 00 00
    tap_block 00 03 $(printf '%-10s' bad | od -An -tx1) 01 00 00 80 00 00 | head -c 20
    printf '\x77'
    tap_block 00 03 $(printf '%-10s' worse | od -An -tx1) 01 00 00 80 00 00
    printf '\x03\x00\xff\x01\x00'
    tap_block 00 03 $(printf '%-10s' lost | od -An -tx1) 09 00 00 80 00 00
    tap_block ff 01 02
  } > damaged.tap
  run tapeinfo -s damaged.tap
  want_status 2
  want_err ""
  [ "$(grep '^Block \|^Files' <<< "$out" | sed 's/; Start: [^;]*; Duration: [^;]*//; s/; Pause: 1000 ms$//' | paste -sd '|')" == 'Files: 1|Block 1: standard speed data; Data: 19 bytes, flag 0x00; Checksum: ok; Bytes: "good" CODE 1, 1; Its data follows in block 2|Block 2: standard speed data; Data: 3 bytes, flag 0xFF; Checksum: ok; The data of "good", whose header is block 1|Block 3: standard speed data; Data: 19 bytes, flag 0x00; Checksum: ok; A header of type 4, which no ROM file has|Block 4: standard speed data; Data: 19 bytes, flag 0x00; Checksum: bad; Bytes: "bad" CODE 32768, 1|Block 5: standard speed data; Data: 19 bytes, flag 0x00; Checksum: ok; Bytes: "worse" CODE 32768, 1; Its data follows in block 6, whose checksum is bad|Block 6: standard speed data; Data: 3 bytes, flag 0xFF; Checksum: bad; The data of "worse", whose header is block 5|Block 7: standard speed data; Data: 19 bytes, flag 0x00; Checksum: ok; Bytes: "lost" CODE 32768, 9; No data block of its length follows|Block 8: standard speed data; Data: 4 bytes, flag 0xFF; Checksum: ok; No header announces it' ] ||
    fail "listing '$out'"

  claim "The durations add up to the total of Playing time, which equals the sum of the durations that edgedump writes for the same tape plus any time after its last edge"
  cart2tape sample.mdr sample-files.tzx 2> /dev/null
  local pulses
  for operand in sample.tap control.tzx files.tap turbo.tzx sizes.tzx sample-files.tzx; do
    run tapeinfo "$operand"
    [ "$(durations)" == "$(total)" ] || fail "$operand: the durations add up to $(durations), the total is $(total)"
    pulses=$(edgedump "$operand" - | awk '{ t += $1 } END { printf "%.0f", t }')
    [ "$pulses" == "$(total)" ] || fail "$operand: edgedump's durations add up to $pulses, the total is $(total)"
  done
  claim "edgedump game.tap - | awk '{ t += \$1 } END { printf \"%.0f\\n\", t }'"
  cp sample.tap game.tap
  run bash -c "edgedump game.tap - | awk '{ t += \$1 } END { printf \"%.0f\\n\", t }'"
  want_out 31918872

  claim "0 when every operand was listed and every checksum is right, and after -h or -V; 2 when every operand was listed but some block's checksum is bad, a tape is cut short (see Tapes cut short), or, with -x, a damaged file was copied; 1 when an operand could not be read or parsed (the others are still listed)"
  printf 'junk' > junk.tap
  local operands
  for operands in "sample.tap files.tap:0" "sample.tap damaged.tap files.tap:2" "damaged.tap missing.tap sample.tap:1" "junk.tap sample.tap:1"; do
    # shellcheck disable=SC2086
    run tapeinfo ${operands%:*}
    want_status "${operands#*:}"
    [ "$(grep -c '^Listing of ' <<< "$out")" -eq "$(wc -w <<< "${operands%:*}" | awk '{ print $1 - ('"${operands#*:}"' == 1) }')" ] ||
      fail "$operands: listed $(grep '^Listing of ' <<< "$out" | paste -sd ' ')"
  done
  for option in -h --help -V --version; do
    run tapeinfo "$option"
    want_status 0
    [ -n "$out" ] || fail "$option printed nothing"
  done
  claim "tapeinfo *.tzx > /dev/null"
  mkdir collection
  cp control.tzx turbo.tzx collection/
  run bash -c 'cd collection && tapeinfo *.tzx > /dev/null'
  want_status 0
  want_out ""
  tzx '\x10\xe8\x03\x02\x00\xff\x01' > collection/bad.tzx
  run bash -c 'cd collection && tapeinfo *.tzx > /dev/null'
  want_status 2
  claim "for t in *.tzx; do tapeinfo \"\$t\" > /dev/null 2>&1 || echo \"\$t\"; done"
  cp junk.tap collection/junk.tzx
  run bash -c 'cd collection && for t in *.tzx; do tapeinfo "$t" > /dev/null 2>&1 || echo "$t"; done'
  want_out $'bad.tzx\njunk.tzx'
  claim "tapeinfo -s game.tap | grep 'Checksum: bad'"
  cp damaged.tap game.tap
  run bash -c "tapeinfo -s game.tap | grep 'Checksum: bad' | cut -d';' -f1"
  want_out $'Block 4: standard speed data\nBlock 6: standard speed data'

  claim "tapeinfo: couldn't read \`FILE' (libspectrum error N) The file could not be read (it does not exist, is a folder, or is larger than 4 GiB); libspectrum's line with the reason comes first."
  run tapeinfo missing.tap
  want_status 1
  want_out ""
  want_err "libspectrum error: couldn't open \`missing.tap': No such file or directory
tapeinfo: couldn't read \`missing.tap' (libspectrum error 3)"
  run tapeinfo collection
  want_status 1
  want_err "libspectrum error: couldn't read \`collection': Is a directory
tapeinfo: couldn't read \`collection' (libspectrum error 3)"
  claim "libspectrum error: \`FILE': ... libspectrum could not parse the image; this line is then the only one."
  run tapeinfo junk.tap
  want_status 1
  want_out ""
  want_err "libspectrum error: \`junk.tap': libspectrum_tap_read: not enough data in buffer"

  claim "tapeinfo: \`FILE' never ends: block N jumps back forever"
  claim "The tape is refused, as edgedump(1) refuses it; nothing of it is listed."
  tzx '\x23\x00\x00' > loop.tzx
  tzx '\x30\x01a\x23\x05\x00' > outside.tzx
  tzx '\x20\xe8\x03' | bzip2 | head -c 30 > cut.tzx.bz2
  for operands in "loop.tzx:never ends: block 1 jumps back forever" "outside.tzx:is damaged: block 2 jumps outside the tape" \
      "cut.tzx.bz2:is damaged: its compressed data is cut short or expands past 1 GiB"; do
    run tapeinfo "${operands%%:*}"
    want_status 1
    want_out ""
    want_err "tapeinfo: \`${operands%%:*}' ${operands#*:}"
    run edgedump "${operands%%:*}" -
    want_err "edgedump: \`${operands%%:*}' ${operands#*:}"
  done

  claim "tapeinfo: usage: tapeinfo [OPTION]... <tape file>... No operand was given."
  run tapeinfo -s
  want_status 1
  want_err "tapeinfo: usage: tapeinfo [OPTION]... <tape file>...
Try \`tapeinfo --help' for more information."

  claim "Options and operands may be mixed; long options may be shortened to any unambiguous prefix, and -- ends the options."
  run tapeinfo sample.tap --sh
  want_status 0
  grep -q '^Block 1: standard speed data; Start: ' <<< "$out" || fail "listing '$out'"
  cp sample.tap ./-s
  run tapeinfo -- -s
  want_status 0
  grep -qx "Listing of \`-s':" <<< "$out" && grep -qx 'Block 1: standard speed data' <<< "$out" || fail "listing '$out'"

  if [ -w /dev/full ]; then
    claim "tapeinfo: write error: REASON The listing, or the help or version text, could not be written (a full disk, a closed standard output); the exit status is 1."
    for operands in "sample.tap" "--version"; do
      run sh -c "tapeinfo $operands > /dev/full"
      want_status 1
      want_err "tapeinfo: write error: No space left on device"
    done
  fi
}

tapedub_claims() {
  claim "The format written follows the extension of output-file (in any case), or -t, which must then agree with the extension when it names a format"
  # Each format by its first bytes; the TAP is the sample again, block for block.
  for operands in "out.tap:13 00 00 00 68 65 6c 6c 6f" "out.TZX:5a 58 54 61 70 65 21 1a 01" \
      "out.csw:43 6f 6d 70 72 65 73 73 65" "out.Wav:52 49 46 46" "out.flac:66 4c 61 43"; do
    run tapedub sample.tap "${operands%%:*}"
    want_status 0
    want_err ""
    want_bytes=${operands#*:}
    [ "$(bytes "${operands%%:*}" 0 $(($(wc -w <<< "$want_bytes"))))" == "$want_bytes" ] ||
      fail "${operands%%:*} begins $(bytes "${operands%%:*}" 0 9)"
  done
  cmp -s sample.tap out.tap || fail "out.tap is not the sample tape"
  [ "$(bytes out.Wav 8 4)" == "57 41 56 45" ] || fail "out.Wav is no WAVE file"
  run tapeinfo out.TZX
  grep -qx '  Program: "hello" LINE 10' <<< "$out" || fail "tapeinfo of out.TZX: '$out'"
  run tapedub -t csw sample.tap out.raw
  want_status 0
  cmp -s out.csw out.raw || fail "-t csw wrote another image than the name .csw"
  run tapedub -t wav sample.tap out.tap
  want_status 1
  want_err "tapedub: \`out.tap' is named as a TAP file, but -t asks for WAV"
  run tapedub sample.tap out.snd
  want_status 1
  want_err "tapedub: \`out.snd': unknown tape format; name it .tap, .tzx, .csw, .wav or .flac, or give -t"
  want_no_file out.snd

  claim "An output-file of - writes to standard output, and then needs -t."
  run tapedub sample.tap -
  want_status 1
  want_err "tapedub: give the format of standard output with -t"
  run sh -c "tapedub -t TZX sample.tap - > piped.tzx"
  want_status 0
  cmp -s piped.tzx out.TZX || fail "the TZX on standard output differs from out.TZX"
  # Through a pipe, the sound is the same as in a file.
  run sh -c "tapedub --type=wav sample.tap - | cat > piped.wav"
  want_status 0
  cmp -s piped.wav out.Wav || fail "the WAV through a pipe differs from out.Wav"

  claim "Every other block (a pure tone, a pause, a text, a recording, a block of no bytes, a block whose last byte has fewer than 8 bits) is left out, with a line on standard error that gives its number and kind, and the exit status is then 2."
  {
    tzx '\x30\x02hi\x10\xe8\x03'
    tap_block ff 01 02
    printf '\x20\xe8\x03\x12\x78\x08\x02\x00'
  } > mixed.tzx
  run tapedub mixed.tzx mixed.tap
  want_status 2
  want_err "tapedub: block 1 (text description) left out: a TAP holds data blocks only
tapedub: block 3 (pause) left out: a TAP holds data blocks only
tapedub: block 4 (pure tone) left out: a TAP holds data blocks only"
  tap_block ff 01 02 > wanted.tap
  cmp -s mixed.tap wanted.tap || fail "mixed.tap holds $(bytes mixed.tap 0 20)"

  claim "A tape of which no block can go into a TAP is a failure, and nothing is written."
  tzx '\x30\x02hi\x20\xe8\x03' > nodata.tzx
  run tapedub nodata.tzx nodata.tap
  want_status 1
  want_err "tapedub: block 1 (text description) left out: a TAP holds data blocks only
tapedub: block 2 (pause) left out: a TAP holds data blocks only
tapedub: \`nodata.tzx' holds no data block for a TAP; nothing written"
  want_no_file nodata.tap
  echo keep > kept.tap
  run tapedub nodata.tzx kept.tap
  want_status 1
  [ "$(< kept.tap)" == keep ] || fail "kept.tap was changed"

  claim "an input that cannot be read or parsed leaves an existing output-file as it was."
  echo "not a tape" > notes.txt
  for operand in missing.tap notes.txt; do
    run tapedub "$operand" kept.tap
    want_status 1
    [ "$(< kept.tap)" == keep ] || fail "kept.tap was changed by $operand"
  done

  if command -v script > /dev/null; then
    claim "tapedub: a tape is not written to a terminal; name an output file or redirect standard output The output file was - and standard output is a terminal."
    run script -qec "tapedub -t tap sample.tap -" /dev/null
    want_status 1
    [ "$(tr -d '\r' <<< "$out")" == "tapedub: a tape is not written to a terminal; name an output file or redirect standard output" ] ||
      fail "the terminal showed '$out'"
  fi

  claim "tapedub never writes over the tape it reads: an output-file that is tape-file under any name, hard link or symbolic link, or a standard output that is that file, is a failure, and nothing is written."
  cp sample.tap own.tap
  ln own.tap hard.tap
  ln -s own.tap soft.tap
  for operand in own.tap ./own.tap hard.tap soft.tap; do
    run tapedub -t tap own.tap "$operand"
    want_status 1
    want_err "tapedub: \`$operand' is the tape \`own.tap' itself; not replaced"
  done
  run sh -c "tapedub -t tzx own.tap - >> own.tap"
  want_status 1
  want_err "tapedub: standard output is the tape \`own.tap' itself; nothing written"
  cmp -s own.tap sample.tap || fail "own.tap was changed"
}

case $tool in
  edgedump | blankide | cartinfo | cart2tape | tape2cart | blankcart | tapeinfo | tapedub) "${tool}_claims" ;;
  *) echo "no claims for $page"; exit 1 ;;
esac
finish
echo "$((claims - failures)) passed, $failures failed ($tool: $claims claims of the page checked)"
[ "$failures" -eq 0 ]
