#!/usr/bin/env bash
# FileRecycle moves files to the recycle bin, which Wine keeps as the XDG trash: here one inside the test's
# own folder (same filesystem), so nothing of the user's is touched; FileRecycleEmpty empties it, and an
# empty bin is no error. Arguments: wine loader, program.
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
cat > empty.brm <<'BRM'
FileRecycleEmpty
FileRecycleEmpty
FileAppend "emptied twice`n", "*"
BRM
# Only this test's own processes may see the private trash: were one of them the first of the Wine
# session, the desktop and services it starts would keep that environment for every later program. So a
# helper started with the ordinary environment holds the session up while they run.
cat > hold.brm <<'BRM'
FileAppend "", "ready"
while !FileExist("stop")
    Sleep 50
BRM
timeout -k 5 60 "$wine" "$exe" /ErrorStdOut=UTF-8 hold.brm > hold.txt 2>&1 < /dev/null &
holder=$!
for _ in $(seq 1 300); do [ -f ready ] && break; sleep 0.1; done
release() { touch "$dir/stop"; wait "$holder" 2>/dev/null; }
trap 'release; rm -rf "$dir"' EXIT
[ -f ready ] || fail "the helper did not start"
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
XDG_DATA_HOME="$dir/data" timeout -k 5 30 "$wine" "$exe" /ErrorStdOut=UTF-8 empty.brm > out.txt 2>&1 < /dev/null
code=$?
[ $code = 0 ] || fail "emptying: exit code $code"
[ "$(tr -d '\r' < out.txt)" = "emptied twice" ] || fail "emptying: unexpected output"
[ -z "$(ls data/Trash/files 2>/dev/null)" ] || fail "the trash still holds $(ls data/Trash/files)"
echo ok
