#!/usr/bin/env bash
# Loads the bash completions with bash-completion, as an interactive shell does,
# and checks what they offer in a folder of sample files: first by calling the
# completion functions with the COMP_* variables that bash sets, then by typing
# lines into an interactive shell and reading what TAB made of them.
# Usage: completion_test.sh <completions folder> [<cartinfo> <make_fixtures>]
# (with the last two, the names that cart2tape -f is offered are checked too).
set -u
completions=$(cd "$1" && pwd)
cartinfo=${2:+$(realpath "$2")}
make_fixtures=${3:+$(realpath "$3")}
helpers=/usr/share/bash-completion/bash_completion
if [ ! -f "$helpers" ]; then
  echo "bash-completion is not installed ($helpers); skipped"
  exit 77
fi
# shellcheck source=/dev/null
source "$helpers"
# shellcheck source=/dev/null
source "$completions/quillkit"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir disks 'dir one'
touch a.mdr B.MDR notes.txt game.tzx msx.tsx old.TAP.gz song.wav song.wav.gz image.hdf BIG.HDF raw.csw \
  'my games.mdr' "it's.mdr" -- -dash.mdr -dash.tap a:b.mdr box.Zip

failures=0
total=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# split_line LINE: COMP_WORDS, COMP_CWORD, COMP_LINE and COMP_POINT as bash sets
# them for LINE with the cursor at its end: words end at blanks outside quotes,
# and "=" and ":" (of COMP_WORDBREAKS) are words of their own.
split_line() {
  local line=$1 i c word='' quote='' inword=0
  COMP_WORDS=()
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [[ -n $quote ]]; then
      if [[ $c == "\\" && $quote == '"' ]]; then
        word+=${line:i:2}
        ((i++))
        continue
      fi
      word+=$c
      [[ $c == "$quote" ]] && quote=
      continue
    fi
    case $c in
      "\\") word+=${line:i:2}; ((i++)); inword=1 ;;
      \" | \') quote=$c; word+=$c; inword=1 ;;
      ' ')
        ((inword)) && COMP_WORDS+=("$word")
        word='' inword=0
        ;;
      [=:])
        ((inword)) && COMP_WORDS+=("$word")
        COMP_WORDS+=("$c")
        word='' inword=0
        ;;
      *) word+=$c; inword=1 ;;
    esac
  done
  if ((inword)); then
    COMP_WORDS+=("$word")
  elif [[ $line == *' ' ]]; then
    COMP_WORDS+=("")
  fi
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
}

# expect LINE OFFERS [REST]: TAB at the end of LINE, followed by REST on the
# line, offers OFFERS, the words sorted and joined with "|" (so that a name
# holding a blank is seen as one word).
expect() {
  local line=$1 want=$2 rest=${3-} got function cword
  total=$((total + 1))
  split_line "$line"
  cword=$COMP_CWORD
  if [[ -n $rest ]]; then
    split_line "$line$rest"
    COMP_CWORD=$cword
    COMP_POINT=${#line}
  fi
  COMPREPLY=()
  function=$(complete -p "${COMP_WORDS[0]}" | sed 's/.*-F \([^ ]*\) .*/\1/')
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|')
  [[ $got == "$want" ]] || fail "'$line' offered '$got', expected '$want'"
}

mdr='-dash.mdr|B.MDR|a.mdr|a:b.mdr|dir one|disks|it'"'"'s.mdr|my games.mdr'
folders='dir one|disks'
tapes='-dash.tap|dir one|disks|game.tzx'
# Operands and options of cartinfo; the argument of -x in all its spellings.
expect "cartinfo " "$mdr"
expect "cartinfo --b" "--blocks"
expect "cartinfo -" "--blocks|--dump|--extract=|--help|--list|--version|-V|-b|-d|-h|-l|-x"
expect "cartinfo --li" "--list"
expect "cartinfo -l -d " "$mdr"
expect "cartinfo --ext" "--extract="
expect "cartinfo -x " "$folders"
expect "cartinfo -x d" "$folders"
expect "cartinfo -bx " "$folders"
expect "cartinfo --extract " "$folders"
expect "cartinfo --ext " "$folders"
expect "cartinfo --extract=" "$folders"
expect "cartinfo --extract=di" "$folders"
expect "cartinfo --e=dir" "dir one"
expect "cartinfo -x disks " "$mdr"
expect "cartinfo -xdisks " "$mdr"
expect "cartinfo a.mdr " "$mdr"
expect "cartinfo my" "my games.mdr"
expect "cartinfo it" "it's.mdr"
expect "cartinfo a:" "b.mdr"
expect "cartinfo -- -" "-dash.mdr"
expect "cartinfo -- a.mdr -" "-dash.mdr"
# edgedump: tapes first, any file second, nothing third.
expect "edgedump " "-dash.tap|box.Zip|dir one|disks|game.tzx|old.TAP.gz|raw.csw|song.wav"
expect "edgedump --v" "--version"
expect "edgedump --" "--help|--version"
expect "edgedump -- -" "-dash.tap"
expect "edgedump -- -dash.tap -" "-dash.mdr|-dash.tap"
expect "edgedump game.tzx " "-dash.mdr|-dash.tap|B.MDR|BIG.HDF|a.mdr|a:b.mdr|box.Zip|dir one|disks|game.tzx|image.hdf|it's.mdr|msx.tsx|my games.mdr|notes.txt|old.TAP.gz|raw.csw|song.wav|song.wav.gz"
expect "edgedump game.tzx out " ""
# blankide: the version after -v however it is bundled, .hdf for the fourth operand.
expect "blankide -" "--help|--version|-V|-c|-h|-s|-v"
expect "blankide -v " "1.0|1.1"
expect "blankide -cv " "1.0|1.1"
expect "blankide 1024 " ""
expect "blankide -c -v 1.0 1024 16 63 " "BIG.HDF|dir one|disks|image.hdf"
expect "blankide -cv 1.0 1024 16 63 " "BIG.HDF|dir one|disks|image.hdf"
expect "blankide -v1.0 1024 16 63 i" "image.hdf"
expect "blankide 1024 16 63 i" "image.hdf"
expect "blankide 1024 16 63 image.hdf " ""
# cart2tape: the argument of -f is no operand, in any spelling.
expect "cart2tape " "$mdr"
expect "cart2tape -f loader a.mdr " "$tapes"
expect "cart2tape --file loader a.mdr " "$tapes"
expect "cart2tape --fi loader a.mdr " "$tapes"
expect "cart2tape --file=loader a.mdr " "$tapes"
expect "cart2tape --file loader " "$mdr"
expect "cart2tape a:b.mdr " "$tapes"
expect "cart2tape -- -dash.mdr -" "-dash.tap"
expect "cart2tape --f" "--file="
expect "cart2tape a.mdr x.tap " ""
# tape2cart: tapes as edgedump's first operand, then .mdr; nothing for the
# arguments of -f, -n and -b.
tape_images='-dash.tap|box.Zip|dir one|disks|game.tzx|old.TAP.gz|raw.csw|song.wav'
expect "tape2cart " "$tape_images"
expect "tape2cart -" "--blocks=|--file=|--help|--name=|--replace|--version|-V|-b|-f|-h|-n|-r"
expect "tape2cart --rep" "--replace"
expect "tape2cart game.tzx " "$mdr"
expect "tape2cart -r -f loader game.tzx " "$mdr"
expect "tape2cart --name DEMO -b 20 game.tzx " "$mdr"
expect "tape2cart --na=DEMO game.tzx " "$mdr"
expect "tape2cart -f " ""
expect "tape2cart -rn " ""
expect "tape2cart --blocks=" ""
expect "tape2cart game.tzx a.mdr " ""
expect "tape2cart -- -" "-dash.tap"
# blankcart: .mdr for its one operand.
expect "blankcart " "$mdr"
expect "blankcart -" "--blocks=|--help|--name=|--version|--write-protect|-V|-b|-h|-n|-w"
expect "blankcart --w" "--write-protect"
expect "blankcart -wn " ""
expect "blankcart -n DEMO -b 20 " "$mdr"
expect "blankcart --name=" ""
expect "blankcart a.mdr " ""
# tapeinfo: tapes as edgedump's first operand, for every operand.
expect "tapeinfo " "$tape_images"
expect "tapeinfo -" "--dump|--extract=|--help|--list|--short|--version|-V|-d|-h|-l|-s|-x"
expect "tapeinfo --du" "--dump"
expect "tapeinfo -ld game.tzx " "$tape_images"
expect "tapeinfo -x " "$folders"
expect "tapeinfo --extract=" "$folders"
expect "tapeinfo -x disks " "$tape_images"
expect "tapeinfo --sh" "--short"
expect "tapeinfo -s game.tzx raw.csw " "$tape_images"
expect "tapeinfo game.tzx -s o" "old.TAP.gz"
expect "tapeinfo -- -" "-dash.tap"
expect "tapeinfo -- game.tzx -" "-dash.tap"
# tapedub: tapes first, any file second, nothing third; the formats after -t
# and the sizes after -b in every spelling, the common rates after -r.
all_files="-dash.mdr|-dash.tap|B.MDR|BIG.HDF|a.mdr|a:b.mdr|box.Zip|dir one|disks|game.tzx|image.hdf|it's.mdr|msx.tsx|my games.mdr|notes.txt|old.TAP.gz|raw.csw|song.wav|song.wav.gz"
expect "tapedub " "$tape_images"
expect "tapedub -" "--bits=|--help|--invert|--keep-pulses|--no-decode|--rate=|--type=|--version|-V|-b|-h|-r|-t"
expect "tapedub --inv" "--invert"
expect "tapedub -t " "csw|flac|tap|tzx|wav"
expect "tapedub --type=w" "wav"
expect "tapedub --ty " "csw|flac|tap|tzx|wav"
expect "tapedub -b " "16|8"
expect "tapedub --bits=1" "16"
expect "tapedub -r " "11025|22050|44100|48000|96000"
expect "tapedub --rate=4" "44100|48000"
expect "tapedub -r 22050 --invert game.tzx " "$all_files"
expect "tapedub -t wav -b 8 " "$tape_images"
expect "tapedub game.tzx song.wav " ""
expect "tapedub -- -" "-dash.tap"

# The argument of -f: the names that cartinfo lists for the cartridge operand,
# quoted as the word is, when that operand is a plain name of an image.
if [[ -n $cartinfo && -n $make_fixtures ]]; then
  carts=$(mktemp -d)
  trap 'rm -rf "$work" "$carts"' EXIT
  mkdir "$carts/bin"
  ln -s "$cartinfo" "$carts/bin/cartinfo"
  PATH=$carts/bin:$PATH
  "$make_fixtures" "$carts" || exit 1
  cp "$carts/sample.mdr" "$carts/my cart.mdr"
  cp "$carts/sample.mdr" "$carts/c\$(touch hit).mdr"
  head -c 137924 /dev/zero > "$carts/large.mdr"
  mkfifo "$carts/pipe.mdr"
  names='game\ code|loader|names|scores|title'
  expect "cart2tape $carts/sample.mdr -f " "$names"
  expect "cart2tape $carts/sample.mdr --file " "$names"
  expect "cart2tape $carts/sample.mdr --file=" "$names"
  expect "cart2tape $carts/sample.mdr --fi=g" 'game\ code'
  expect "cart2tape -- $carts/sample.mdr x.tap -f " ""
  expect "cart2tape $carts/sample.mdr -f \"game" "game code"
  expect "cart2tape $carts/sample.mdr -f 'sc" "scores"
  expect "cart2tape -f " "$names" " $carts/sample.mdr x.tap"
  expect "cart2tape -f l" "loader" " -f title $carts/sample.mdr x.tap"
  expect "cart2tape --file=" "$names" " -- $carts/sample.mdr"
  expect "cart2tape '$carts/my cart.mdr' -f " "$names"
  expect "cart2tape $carts/my\\ cart.mdr -f " "$names"
  expect "cart2tape -f " "" " $carts/missing.mdr"
  expect "cart2tape -f " ""
  expect "cart2tape $carts/large.mdr -f " ""
  expect "cart2tape $carts/pipe.mdr -f " ""
  expect "cart2tape $carts/*.mdr -f " ""
  expect "cart2tape '$carts/c\$(touch hit).mdr' -f " "$names"
  expect "cart2tape \"$carts/c\$(touch hit).mdr\" -f " ""
  expect "cart2tape \$HOME/sample.mdr -f " ""
  total=$((total + 1))
  [[ ! -e hit && ! -e $carts/hit ]] || fail "completing ran a command of the line"
fi

# typed LINE WANT [REST]: LINE typed into an interactive bash, followed by REST
# with the cursor left before it, and completed with one TAB reads WANT. Only
# here does readline's quoting take part.
typed_lines=()
typed_rests=()
typed_wants=()
typed() {
  typed_lines+=("$1")
  typed_wants+=("$2")
  typed_rests+=("${3-}")
}
typed 'cartinfo -x dir\ o' 'cartinfo -x dir\ one/'
typed 'cartinfo -x "dir o' 'cartinfo -x "dir one"/'
typed "cartinfo -x 'dir o" "cartinfo -x 'dir one'/"
typed 'cartinfo --extract=dir\ o' 'cartinfo --extract=dir\ one/'
typed 'cartinfo --extract="dir o' 'cartinfo --extract="dir one"/'
typed 'cartinfo -x dir\ one my' 'cartinfo -x dir\ one my\ games.mdr '
typed 'cartinfo my\ g' 'cartinfo my\ games.mdr '
typed 'cartinfo "my g' 'cartinfo "my games.mdr" '
typed "cartinfo it\\'" "cartinfo it\\'s.mdr "
typed 'cartinfo -- -d' 'cartinfo -- -dash.mdr '
typed 'cart2tape "my games.mdr" -- -' 'cart2tape "my games.mdr" -- -dash.tap '
typed 'cart2tape --file "a b" a.mdr g' 'cart2tape --file "a b" a.mdr game.tzx '
typed 'tape2cart -n "A B" g' 'tape2cart -n "A B" game.tzx '
typed 'tape2cart game.tzx my\ g' 'tape2cart game.tzx my\ games.mdr '
typed 'blankcart -w "my g' 'blankcart -w "my games.mdr" '
typed 'tapeinfo game.tzx "dir o' 'tapeinfo game.tzx "dir one"/'
if [[ -n ${carts-} ]]; then
  typed "cart2tape $carts/sample.mdr -f gam" "cart2tape $carts/sample.mdr -f game\\ code "
  typed "cart2tape $carts/sample.mdr --file=gam" "cart2tape $carts/sample.mdr --file=game\\ code "
  typed "cart2tape $carts/sample.mdr -f \"gam" "cart2tape $carts/sample.mdr -f \"game code\" "
  typed "cart2tape $carts/sample.mdr -f 'gam" "cart2tape $carts/sample.mdr -f 'game code' "
  typed "cart2tape -f sc" "cart2tape -f scores $carts/sample.mdr" " $carts/sample.mdr"
fi

if ! command -v script > /dev/null; then
  echo "script (bsdutils) is not installed: ${#typed_lines[@]} typed lines skipped"
else
  cat > rc << EOF
source $helpers
source "$completions/quillkit"
PS1='' PS2=''
bind 'set bell-style none'
bind -x '"\C-t": printf "\n@@%s@@\n" "\$READLINE_LINE"'
EOF
  keys=
  for i in "${!typed_lines[@]}"; do
    rest=${typed_rests[i]}
    keys+=${typed_lines[i]}$rest
    for ((j = 0; j < ${#rest}; j++)); do
      keys+=$'\x02'
    done
    keys+=$'\t\x14\x01\x0b'
  done
  keys+=$'exit\r'
  screen=$(printf '%s' "$keys" | INPUTRC=/dev/null TERM=dumb timeout 30 \
    script -q -e -c "bash --noprofile --rcfile rc -i" /dev/null 2>&1 | tr -d '\r')
  mapfile -t shown < <(sed -n 's/^@@\(.*\)@@$/\1/p' <<< "$screen")
  for i in "${!typed_lines[@]}"; do
    total=$((total + 1))
    if [[ ${shown[i]-} != "${typed_wants[i]}" ]]; then
      fail "typing '${typed_lines[i]}${typed_rests[i]}' and TAB gave '${shown[i]-(nothing)}', expected '${typed_wants[i]}'"
    fi
  done
fi

echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
