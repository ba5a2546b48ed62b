#!/usr/bin/env bash
# The main window from outside: its menu bar (read from the program's resources: a live menu belongs to
# its process), Pause from the menu, minimising and closing through the system menu only hide it,
# WM_CLOSE and WM_ENDSESSION end the script with their reasons.
# Arguments: wine loader, program, window probe.
set -uo pipefail
wine=$1 exe=$2 probe=$3
dir=$(mktemp -d /tmp/brmmainwin.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "FAIL: $*"; exit 1; }

cat > ticks.brm <<'BRM'
Persistent
OnExit (reason, code) => FileAppend("exit: " reason " " code "`n", "log.txt")
tick() {
    static n := 0
    FileAppend ++n "`n", "ticks.txt"
}
SetTimer tick, 50
FileAppend "ready`n", "log.txt"
BRM
cp ticks.brm logoff.brm
cat > shown.brm <<'BRM'
OnExit (reason, code) => FileAppend("exit: " reason " " code "`n", "log.txt")
ListVars  ; a shown main window keeps the script running
FileAppend "ready`n", "log.txt"
BRM
cat > paused.brm <<'BRM'
Persistent
class Noisy {
    __Delete() => FileAppend("deleted`n", "log.txt")
}
kept := Noisy()
FileAppend "ready`n", "log.txt"
BRM
start() {  # script: starts it in the background, waits for "ready"; sets $last
  rm -f log.txt ticks.txt
  "$wine" "$exe" /ErrorStdOut=UTF-8 "$1" > "$1.out" 2>&1 &
  last=$!; pids+=("$last")
  for _ in $(seq 1 100); do grep -q ready log.txt 2>/dev/null && return 0; sleep 0.1; done
  fail "$1 did not start"
}
probe() { "$wine" "$probe" "$@" | tr -d '\r'; }
ticks() { if [ -f ticks.txt ]; then wc -l < ticks.txt; else echo 0; fi; }
gone() { for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; return 1; }

start ticks.brm; script=$last
[ "$(probe ticks.brm shown)" = hidden ] || fail "the main window is shown at start"
expected='&File
  &Reload Script\tCtrl+R [65400]
  &Edit Script\tCtrl+E [65401]
  &Frame Peek [65402]
  ----
  &Pause Script\tPause [65403]
  &Suspend Hotkeys [65404]
  ----
  E&xit (Terminate Script) [65405]
&View
  &Lines most recently executed\tCtrl+L [65406]
  &Variables and their contents\tCtrl+V [65407]
  &Hotkeys and their methods\tCtrl+H [65408]
  &Key history and script info\tCtrl+K [65409]
  ----
  &Refresh\tF5 [65410]
&Help
  &User Manual\tF1 [65411]
  &Web Site [65412]'
menu=$(probe --menu-resource "$(printf 'Z:%s' "$exe" | sed 's|/|\\|g')" 211)
[ "$menu" = "$expected" ] || { echo "menu bar:"; echo "$menu"; fail "menu bar differs"; }

# Pause Script from the menu bar stops the timer until it is chosen again (the tray menu's twin too);
# the menu loop and Suspend Hotkeys leave the script running.
probe ticks.brm command 65403
sleep 0.3; before=$(ticks); sleep 0.5
[ "$(ticks)" = "$before" ] || fail "the timer ran while the script was paused"
probe ticks.brm send 0x211 0 0 > /dev/null  # WM_ENTERMENULOOP
probe ticks.brm send 0x212 0 0 > /dev/null  # WM_EXITMENULOOP
probe ticks.brm command 65306  # the tray menu's twin
sleep 0.5
[ "$(ticks)" -gt "$before" ] || fail "the timer did not resume"
probe ticks.brm command 65404
probe ticks.brm command 65305
sleep 0.2; kill -0 "$script" 2>/dev/null || fail "Suspend Hotkeys ended the script"

# Minimising or closing through the system menu hides the window; the script keeps running.
probe ticks.brm post 0x112 0xF020 0  # WM_SYSCOMMAND SC_MINIMIZE
probe ticks.brm post 0x112 0xF060 0  # SC_CLOSE
sleep 0.3
kill -0 "$script" 2>/dev/null || fail "SC_CLOSE ended the script"
[ "$(probe ticks.brm shown)" = hidden ] || fail "the main window is shown after SC_CLOSE"

# WM_CLOSE runs the exit with reason Close.
probe ticks.brm post 0x10 0 0
gone "$script" || fail "WM_CLOSE did not end the script"
grep -q '^exit: Close 0$' log.txt || { cat log.txt; fail "no Close exit"; }

# WM_ENDSESSION with ENDSESSION_LOGOFF is a log-off; without it a shutdown.
start logoff.brm; script=$last
probe logoff.brm send 0x16 1 0x80000000 > /dev/null
gone "$script" || fail "WM_ENDSESSION did not end the script"
grep -q '^exit: Logoff 0$' log.txt || { cat log.txt; fail "no Logoff exit"; }
start ticks.brm; script=$last
probe ticks.brm send 0x16 1 0 > /dev/null
gone "$script" || fail "WM_ENDSESSION did not end the script"
grep -q '^exit: Shutdown 0$' log.txt || { cat log.txt; fail "no Shutdown exit"; }
# Open (the tray menu's default item, here by a double click on the icon) shows the main window.
start ticks.brm; script=$last
probe ticks.brm post 1028 0 0x203  # the icon's message, WM_LBUTTONDBLCLK
sleep 0.5
[ "$(probe ticks.brm shown)" = shown ] || fail "a double click on the icon did not show the main window"
probe ticks.brm post 0x10 0 0
gone "$script" || fail "WM_CLOSE did not end the script"

# A script kept running only by its shown main window ends when the window is hidden.
start shown.brm; script=$last
[ "$(probe shown.brm shown)" = shown ] || fail "ListVars did not show the main window"
probe shown.brm post 0x112 0xF060 0  # SC_CLOSE hides it
gone "$script" || fail "hiding the main window did not end the script"
grep -q '^exit: Close 0$' log.txt || { cat log.txt; fail "no Close exit on hiding"; }

# A script paused from the menu while idle still ends on WM_CLOSE, and its objects' destructors run.
start paused.brm; script=$last
probe paused.brm command 65403
sleep 0.2
probe paused.brm post 0x10 0 0
gone "$script" || fail "a paused script did not end on WM_CLOSE"
grep -q '^deleted$' log.txt || { cat log.txt; fail "the destructor did not run"; }
echo "main window: passed"
