#!/usr/bin/env bash
# Two instances of one script: #SingleInstance Force replaces the older, Ignore keeps it, /force and
# Off skip the check, /restart closes the older even when Off. Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brmsingle.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "FAIL: $*"; exit 1; }

start() {  # name script [switches...]: starts an instance writing to name.out; sets $last
  local name=$1 script=$2; shift 2
  "$wine" "$exe" /ErrorStdOut=UTF-8 "$@" "$script" > "$name.out" 2> "$name.err" &
  last=$!; pids+=("$last")
}
started() { for _ in $(seq 1 100); do grep -q started "$1.out" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
gone() { for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; return 1; }
alive() { sleep "${2:-1}"; kill -0 "$1" 2>/dev/null; }

for mode in Force Ignore Off; do
  printf '#SingleInstance %s\nPersistent\nFileAppend "started`n", "*"\n' "$mode" > "$mode.brm"
done

# Force: the newer instance closes the older one and runs.
start a1 Force.brm; a1=$last; started a1 || fail "Force: first instance did not start"
start b1 Force.brm; b1=$last
gone "$a1" || fail "Force: the older instance was not closed"
wait "$a1"; code=$?; [ $code = 0 ] || fail "Force: the older instance exited with $code"
started b1 || fail "Force: the newer instance did not run"
kill "$b1"

# Ignore: the newer instance quits quietly with 0; the older one keeps running.
start a2 Ignore.brm; a2=$last; started a2 || fail "Ignore: first instance did not start"
start b2 Ignore.brm; b2=$last
gone "$b2" || fail "Ignore: the newer instance did not quit"
wait "$b2"; code=$?; [ $code = 0 ] || fail "Ignore: the newer instance exited with $code"
[ -s b2.out ] && fail "Ignore: the newer instance ran the script"
alive "$a2" || fail "Ignore: the older instance was closed"

# /force skips the check: both run.
start c2 Ignore.brm /force; c2=$last; started c2 || fail "/force: the newer instance did not run"
alive "$a2" 0 || fail "/force: the older instance was closed"
kill "$a2" "$c2"

# Off skips the check, but /restart still closes the older instance.
start a3 Off.brm; a3=$last; started a3 || fail "Off: first instance did not start"
start b3 Off.brm; b3=$last; started b3 || fail "Off: the newer instance did not run"
alive "$a3" 0 || fail "Off: the older instance was closed"
kill "$b3"
start c3 Off.brm /restart; c3=$last
gone "$a3" || fail "/restart: the older instance was not closed"
started c3 || fail "/restart: the newer instance did not run"
echo "single-instance rule: all cases passed"
