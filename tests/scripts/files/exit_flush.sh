#!/usr/bin/env bash
# The exit sequence writes out what File objects still hold: a File kept alive by a cycle (never
# released) and one open at an ExitApp from a function. Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brmexitflush.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail() { echo "FAIL: $*"; echo "--- output:"; cat out.txt 2>/dev/null; exit 1; }
cat > flush.brm <<'BRM'
kept := FileOpen("cycle.txt", "w")
kept.Write("held by a cycle")
kept.self := kept
kept := ""
Leave() {
    local f := FileOpen("local.txt", "w")
    f.Write("open at ExitApp")
    ExitApp 3
}
Leave()
BRM
timeout -k 5 30 "$wine" "$exe" /ErrorStdOut=UTF-8 flush.brm > out.txt 2>&1 < /dev/null
code=$?
[ $code = 3 ] || fail "exit code $code"
[ "$(cat cycle.txt 2>/dev/null)" = "held by a cycle" ] || fail "cycle.txt holds [$(cat cycle.txt 2>/dev/null)]"
[ "$(cat local.txt 2>/dev/null)" = "open at ExitApp" ] || fail "local.txt holds [$(cat local.txt 2>/dev/null)]"
echo ok
