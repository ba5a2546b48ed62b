#!/usr/bin/env bash
# FileRecycle moves files to the recycle bin, which Wine keeps as the XDG trash: here one inside the test's
# own folder (same filesystem), so nothing of the user's is touched. Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brmrecycle.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail() { echo "FAIL: $*"; echo "--- output:"; cat out.txt 2>/dev/null; exit 1; }
mkdir -p data
cat > recycle.brm <<'BRM'
FileAppend "x", "one.txt"
FileAppend "y", "two.log"
FileRecycle "one.txt"
FileAppend "recycled: [" FileExist("one.txt") "]`n", "*"
try
    FileRecycle "missing.txt"
catch as e
    FileAppend "missing: " Type(e) " " e.Message "`n", "*"
try
    FileRecycle ""
catch as e
    FileAppend "empty: " Type(e) "`n", "*"
FileAppend "untouched: " FileExist("two.log") "`n", "*"
BRM
XDG_DATA_HOME="$dir/data" timeout -k 5 30 "$wine" "$exe" /ErrorStdOut=UTF-8 recycle.brm > out.txt 2>&1 < /dev/null
code=$?
[ $code = 0 ] || fail "exit code $code"
expected='recycled: []
missing: Error Failed
empty: ValueError
untouched: A'
[ "$(tr -d '\r' < out.txt)" = "$expected" ] || fail "unexpected output"
ls data/Trash/files 2>/dev/null | grep -qx 'one.txt' || fail "one.txt is not in the trash: $(find data)"
[ -f data/Trash/info/one.txt.trashinfo ] || fail "no trash info for one.txt"
echo ok
