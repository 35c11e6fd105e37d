#!/usr/bin/env bash
# Checks a manual page: mandoc finds nothing to warn about, and every option
# that the program's --help text lists is documented in the page; and the
# README's help text of the program.
# Usage: check_manpage.sh <program> <page>
set -u
program=$1
page=$2
failures=0

lint=$(mandoc -T lint -W warning "$page" 2>&1)
if [ -n "$lint" ]; then
  echo "mandoc: $lint"
  failures=$((failures + 1))
fi

text=$(mandoc -T ascii "$page" | col -b)
options=$("$program" --help | grep -oE '^ +-[A-Za-z](, --[a-z-]+)?' | tr -d ' ' | tr ',' '\n')
[ -n "$options" ] || { echo "no options found in $program --help"; exit 1; }
for option in $options; do
  if ! grep -qE -- "(^|[^-a-z])$option([^-a-z]|$)" <<< "$text"; then
    echo "$page does not document $option"
    failures=$((failures + 1))
  fi
done
# The README shows the help text word for word where its block of the tool
# lists every option (the other tools' blocks are a shorter synopsis).
readme=$(dirname "$page")/../README.md
tool=$(basename "$page" .1)
block=$(awk -v heading="## $tool" '$0 == heading { on = 1; next }
  on && /^```/ { if (inside) exit; inside = 1; next } inside' "$readme")
help=$("$program" --help | sed "1s|^Usage: [^ ]*|Usage: $tool|; /^Report /,\$d")
listed=1
for option in $options; do
  grep -qE -- "(^|[^-a-z])$option([^-a-z]|$)" <<< "$block" || listed=0
done
if ((listed)) && [ "$block" != "$help" ]; then
  echo "README.md shows the options of $tool, but not as its help text has them:"
  diff <(echo "$help") <(echo "$block")
  failures=$((failures + 1))
fi
echo "$(wc -w <<< "$options") options checked, $failures failed"
[ "$failures" -eq 0 ]
