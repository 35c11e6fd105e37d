#!/usr/bin/env bash
# Checks a manual page: mandoc finds nothing to warn about, and every option
# that the program's --help text lists is documented in the page.
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
echo "$(wc -w <<< "$options") options checked, $failures failed"
[ "$failures" -eq 0 ]
