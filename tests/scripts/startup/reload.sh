#!/usr/bin/env bash
# Reload starts the script again with /restart; the new instance closes the old one, which exits with 0.
# Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brmreload.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
cat > again.brm <<'BRM'
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
Reload
BRM
"$wine" "$exe" /ErrorStdOut=UTF-8 again.brm > first.out 2>&1 &
first=$!
for _ in $(seq 1 150); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$first" 2>/dev/null; then kill "$first"; echo "FAIL: the first instance was not closed by the reloaded one"; exit 1; fi
wait "$first"; code=$?
[ $code = 0 ] || { echo "FAIL: the first instance exited with $code"; cat first.out; exit 1; }
for _ in $(seq 1 100); do grep -q second log.txt 2>/dev/null && break; sleep 0.1; done
[ "$(cat log.txt)" = "$(printf 'first\nsecond')" ] || { echo "FAIL: log was:"; cat log.txt; exit 1; }
echo "reload: passed"
