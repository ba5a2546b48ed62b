#!/usr/bin/env bash
# Clicks on the tray icon, as the shell reports them (message 1028 with the mouse message): with the
# default ClickCount of 2 only a double click runs the default item; with 1 each single click does and a
# double click adds nothing; a right click opens the tray menu, whose items can be chosen.
# Arguments: wine loader, program, window probe.
set -uo pipefail
wine=$1 exe=$2 probe=$3
dir=$(mktemp -d /tmp/brmtray.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "FAIL: $*"; [ -f log.txt ] && { echo "log:"; cat log.txt; }; exit 1; }

cat > clicks.brm <<'BRM'
Persistent
log(s) => FileAppend(s "`n", "log.txt")
A_TrayMenu.Add("Greet", (name, pos, menu) => log("greet " name " " pos " " (menu = A_TrayMenu)))
A_TrayMenu.Default := "Greet"
; Message 0x5555 writes "sync" once every message posted before it, and the commands and item threads
; those post in turn, have been handled: each hop goes behind what is queued by then.
sync(hop, *) {
    if hop < 2
        PostMessage 0x5555, hop + 1, 0, , A_ScriptHwnd
    else
        log("sync")
}
OnMessage 0x5555, sync
OnMessage 0x5556, (count, *) => (A_TrayMenu.ClickCount := count, log("clicks " count))
OnMessage 0x5557, (*) => log("suspended " A_IsSuspended)
log("ready")
BRM

probe() { "$wine" "$probe" "$@" | tr -d '\r'; }
waitfor() {  # pattern, count: waits until log.txt has that many lines matching
  for _ in $(seq 1 100); do
    [ "$(grep -c -- "$1" log.txt 2>/dev/null)" -ge "$2" ] && return 0; sleep 0.1
  done
  return 1
}
click() { probe clicks.brm post 1028 0 "$1"; }  # WM_LBUTTONUP 0x202, WM_LBUTTONDBLCLK 0x203, WM_RBUTTONUP 0x205
syncs=0
sync() { syncs=$((syncs + 1)); probe clicks.brm post 0x5555 0 0; waitfor '^sync$' $syncs || fail "no sync $syncs"; }
greets() { grep -c '^greet' log.txt; }

"$wine" "$exe" /ErrorStdOut=UTF-8 clicks.brm > clicks.out 2>&1 &
pids+=($!)
waitfor '^ready$' 1 || { cat clicks.out; fail "the script did not start"; }

# ClickCount 2: a single click does nothing, a double click runs the default item.
click 0x202; sync
[ "$(greets)" = 0 ] || fail "a single click ran the default item with ClickCount 2"
click 0x203; sync
[ "$(greets)" = 1 ] || fail "a double click did not run the default item once"
grep -q '^greet Greet 11 1$' log.txt || fail "the item's callback got other parameters"

# ClickCount 1: the clicks of a double click (up, double click, up) run it twice, once per click.
probe clicks.brm post 0x5556 1 0; waitfor '^clicks 1$' 1 || fail "ClickCount was not set"
click 0x202; click 0x203; click 0x202; sync
[ "$(greets)" = 3 ] || fail "with ClickCount 1 a double click did not count as two clicks"

# A right click opens the tray menu; the ninth item that can be chosen (after the standard items) is ours.
click 0x205
probe clicks.brm popup 9 > /dev/null || fail "the tray menu did not open"
waitfor '^greet' 4 || fail "the item chosen from the tray menu did not run"
# The menu can be opened again after it closed.
click 0x205
probe clicks.brm popup > /dev/null || fail "the tray menu did not open a second time"
sync
[ "$(greets)" = 4 ] || fail "a cancelled tray menu ran an item"
# The standard items run their commands: the sixth item that can be chosen suspends the hotkeys.
click 0x205
probe clicks.brm popup 6 > /dev/null || fail "the tray menu did not open a third time"
for _ in $(seq 1 50); do
  probe clicks.brm post 0x5557 0 0; sleep 0.1
  grep -q '^suspended 1$' log.txt && break
done
grep -q '^suspended 1$' log.txt || fail "Suspend Hotkeys from the tray menu did not suspend"
echo "tray clicks: passed"
