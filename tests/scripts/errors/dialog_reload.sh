#!/usr/bin/env bash
# &Reload in the error dialog starts the script again with /restart and closes the dialog as Abort; the
# new instance then closes this one (reason "Reload") and runs. Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
tool=$(dirname "$exe")/tests/DialogTool.exe
[ -f "$tool" ] || { echo "FAIL: no dialog tool at $tool"; exit 1; }
dir=$(mktemp -d /tmp/brmdlgreload.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
winpath() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }
fail() { echo "FAIL: $*"; echo "--- dialogs:"; cat dialogs.txt 2>/dev/null; echo "--- log:"; cat log.txt 2>/dev/null; exit 1; }

# The reloaded instance runs without /ErrorStdOut: it must not fail, or its error would wait in a dialog.
cat > again.brm <<'BRM'
logExit(reason, code) {
    FileAppend "exit: " reason " " code "`n", "log.txt"
}
OnExit logExit
found := 0
Loop Files "marker.txt"
    found := 1
if found {
    FileAppend "second`n", "log.txt"
    ExitApp
}
FileAppend "first`n", "log.txt"
FileAppend "", "marker.txt"
Persistent
throw Error("reload me")
BRM
timeout -k 5 30 "$wine" "$tool" "$(winpath "$dir")\\dialogs.txt" '&Reload' "$(winpath "$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")")" again.brm \
  > first.out 2>&1 < /dev/null
code=$?
[ $code = 124 ] || [ $code = 137 ] && fail "the first instance did not end within 30 s"
[ $code = 0 ] || fail "the first instance exited with $code: $(cat first.out)"
grep -qx '> press &Reload' dialogs.txt || fail "the dialog was not shown or &Reload not pressed"
# The first instance ends when the second has loaded; wait for the second to finish too, so that
# nothing outlives the test directory.
for _ in $(seq 1 100); do grep -q 'exit: Exit' log.txt 2>/dev/null && break; sleep 0.1; done
expected=$(printf 'first\nexit: Reload 0\nsecond\nexit: Exit 0')
[ "$(cat log.txt)" = "$expected" ] || fail "unexpected log"
# The second instance is not this script's child: it is found by the unique folder in its command line.
second() { pgrep -f -- "$(basename "$dir")\\\\again.brm" | grep -vx "$$"; }
for _ in $(seq 1 50); do [ -z "$(second)" ] && break; sleep 0.1; done
left=$(second)
if [ -n "$left" ]; then
  for p in $left; do kill -9 "$p" 2>/dev/null; done
  fail "the reloaded instance did not end after its ExitApp"
fi
echo "dialog reload: passed"
