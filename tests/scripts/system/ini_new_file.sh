#!/usr/bin/env bash
# IniWrite on a missing file first creates it as UTF-16 with a byte-order mark and the section header, then
# lets the system add the key line in the same encoding; a section written whole goes the same way.
# Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brminiwrite.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
cat > write.brm <<'BRM'
IniWrite "v", "key.ini", "sec", "k"
IniWrite "a=1`nb=2", "section.ini", "whole"
BRM
"$wine" "$exe" /ErrorStdOut=UTF-8 write.brm > write.out 2>&1 || { echo "FAIL: the script failed"; cat write.out; exit 1; }
check() {  # file, expected text (converted to UTF-16 with a byte-order mark)
  local want got
  want=$(printf '\xff\xfe' | od -An -tx1 | tr -d ' \n')$(printf '%b' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')
  got=$(od -An -tx1 "$1" | tr -d ' \n')
  [ "$got" = "$want" ] || { echo "FAIL: $1 holds"; od -c "$1"; exit 1; }
}
check key.ini '[sec]\r\nk=v\r\n'
check section.ini '[whole]\r\na=1\r\nb=2\r\n'
echo "ini_new_file: passed"
