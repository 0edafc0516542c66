#!/usr/bin/env bash
# The package's documents as plain text with Windows line ends (CR LF), so
# that any editor on Windows shows them as they are meant to look.
#   text-doc.sh page SOURCE.scd OUTPUT   a manual page, formatted as man shows it
#   text-doc.sh text SOURCE OUTPUT       a text file as it is
# The output is written whole or not at all.
set -euo pipefail
kind=$1 source=$2 output=$3
partial=$output.partial
case $kind in
page)
  # No hyphenation; overstrike rather than terminal escapes (-P-c), which col -bx
  # then drops along with the tabs.
  scdoc <"$source" | groff -man -rHY=0 -Tascii -P-c 2>/dev/null | col -bx | sed 's/$/\r/' >"$partial"
  ;;
text) sed 's/\r$//; s/$/\r/' "$source" >"$partial" ;;
*)
  echo "text-doc.sh: unknown kind $kind" >&2
  exit 2
  ;;
esac
mv "$partial" "$output"
