#!/usr/bin/env bash
# The main window's text pane, read from outside while the script runs: the lines executed last (statement
# texts rebuilt from the loaded lines, file changes, ListLines off and on), the variables (globals, and the
# locals and statics of the running function), the hotkey list, the key-history view, a view chosen from
# the menu while the script waits, and the menu refused by A_AllowMainWindow.
# Arguments: wine loader, program, window probe.
set -uo pipefail
wine=$1 exe=$2 probe=$3
dir=$(mktemp -d /tmp/brmviews.XXXXXX)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
cd "$dir"
failed=0

# Times in parentheses, the folder of the script files, object addresses and the foreground window vary.
normalise() {
  sed -e 's/ ([0-9]*\.[0-9][0-9])$//' -e 's/^STILL WAITING ([0-9]*\.[0-9][0-9]): /STILL WAITING: /' \
      -e 's/^---- .*\\/---- /' -e 's/{address: 0x[0-9A-F]*}/{address: 0x...}/' -e 's/^Window: .*/Window: .../'
}

# run_case <name> [command id]: runs <name>.brm, which shows a view (or leaves that to the menu command
# given) and then writes ready.txt, and compares the pane with <name>.expected.
run_case() {
  local name=$1 command=${2:-}
  rm -f ready.txt
  "$wine" "$exe" /ErrorStdOut=UTF-8 "$name.brm" > "$name.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 150); do [ -e ready.txt ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if [ ! -e ready.txt ]; then
    echo "FAIL $name: the script did not get ready"; cat "$name.log"; failed=1
  else
    if [ -n "$command" ]; then
      "$wine" "$probe" "$name.brm" command "$command" >/dev/null
      sleep 0.5
    fi
    "$wine" "$probe" "$name.brm" pane | tr -d '\r' > "$name.raw"
    normalise < "$name.raw" > "$name.actual"
    if ! diff -u "$name.expected" "$name.actual"; then echo "FAIL $name"; failed=1; fi
  fi
  "$wine" "$probe" "$name.brm" post 16 0 0 >/dev/null 2>&1  # WM_CLOSE: the script exits
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
}

cat > views_inc.brm <<'BRM'
Included() {
    return "from the include"
}
BRM
cat > lines.brm <<'BRM'
#Include views_inc.brm
x := 5
s := "text"
if x > 1
    y := x * 2
Loop 2
    z := A_Index
for k, v in [7]
    n := v
for v in [8]
    n := v
switch x {
case 5:
    w := 1
}
switch "other" {
case 1:
    w := 1
default:
    w := 2
}
r := Included()
ListLines 0
hidden := 1
ListLines 1
Sleep 300
Persistent
ListLines
FileAppend "ready", "ready.txt"
BRM
printf '%s\n' 'Script lines most recently executed (oldest first).  Press [F5] to refresh.  The seconds elapsed between a line and the one after it is in parentheses to the right (if not 0).  The bottommost line'\''s elapsed time is the number of seconds since it executed.

---- lines.brm
002: x := 5
003: s := "text"
004: If x > 1
005: y := x * 2
006: Loop 2
007: z := A_Index
007: z := A_Index
008: For k, v in [7]
009: n := v
010: For v in [8]
011: n := v
012: Switch x
013: Case 5:
014: w := 1
015: }
016: Switch "other"
019: Default:
020: w := 2
021: }
022: r := Included()
---- views_inc.brm
002: Return "from the include"
---- lines.brm
026: Sleep(300)
027: Persistent()
028: ListLines()

Press [F5] to refresh.' > lines.expected
run_case lines
# The one time that does not vary: a Sleep's line shows at least its delay.
grep -q '^026: Sleep(300) (\(0\.29\|0\.[3-9][0-9]\|[1-9][0-9]*\.[0-9][0-9]\))$' lines.raw ||
  { echo "FAIL lines: no elapsed time of 0.29 s or more after the Sleep"; grep Sleep lines.raw; failed=1; }

cat > vars.brm <<'BRM'
num := 42
flt := 1.5
str := "short"
long := "0123456789012345678901234567890123456789012345678901234567890123456789"
empty := ""
obj := Map()
Persistent
Outer(3)
Outer(p) {
    static calls := 10
    Inner()
    Inner() {
        static depth := 2
        innerLocal := "inner"
        ListVars
        FileAppend "ready", "ready.txt"
    }
}
BRM
cat > vars.expected <<'EOF'
Local Variables for Inner()
--------------------------------------------------
innerLocal[5 of 7]: inner


Static Variables for Inner()
--------------------------------------------------
depth: 2


Static Variables for Outer()
--------------------------------------------------
calls: 10


Global Variables (alphabetical)
--------------------------------------------------
A_Args: Array object {address: 0x...}
empty[0 of 0]: 
flt: 1.5
long[70 of 259]: 012345678901234567890123456789012345678901234567890123456789...
num: 42
obj: Map object {address: 0x...}
str[5 of 7]: short

EOF
run_case vars

cat > globals.brm <<'BRM'
g := 1
Persistent
ListVars
g := 2
FileAppend "ready", "ready.txt"
BRM
cat > globals.expected <<'EOF'
Global Variables (alphabetical)
--------------------------------------------------
A_Args: Array object {address: 0x...}
g: 2

EOF
run_case globals 65410  # Refresh rebuilds the view shown

cat > keyhistory.brm <<'BRM'
SetTimer Tick, 100000
SetTimer Tock, 100000
Tick() {
}
Tock() {
}
KeyHistory
FileAppend "ready", "ready.txt"
BRM
printf '%s\n' 'Window: ...
Keybd hook: no
Mouse hook: no
Enabled Timers: 2 of 2 (Tick Tock)
Interrupted threads: 0
Paused threads: 0 of 1 (0 layers)
Modifiers (GetKeyState() now) = unsupported

Hooks and KeyHistory were disabled at compile time.' > keyhistory.expected
run_case keyhistory

cat > hotkeys.brm <<'BRM'
Persistent
ListHotkeys
FileAppend "ready", "ready.txt"
BRM
cat > hotkeys.expected <<'EOF'
Type	Off?	Level	Running	Name
-------------------------------------------------------------------

EOF
run_case hotkeys

# From the menu, the auto-execute section is still waiting in its Sleep.
cat > waiting.brm <<'BRM'
a := 1
FileAppend "ready", "ready.txt"
Sleep 30000
BRM
printf '%s\n' 'Script lines most recently executed (oldest first).  Press [F5] to refresh.  The seconds elapsed between a line and the one after it is in parentheses to the right (if not 0).  The bottommost line'\''s elapsed time is the number of seconds since it executed.

---- waiting.brm
001: a := 1
002: FileAppend("ready", "ready.txt")
STILL WAITING: 003: Sleep(30000)

Press [F5] to refresh.' > waiting.expected
run_case waiting 65406

# A_AllowMainWindow false: the menu shows no view.
cat > forbidden.brm <<'BRM'
A_AllowMainWindow := false
Persistent
FileAppend "ready", "ready.txt"
BRM
printf '%s\n' '' > forbidden.expected
run_case forbidden 65407
exit $failed
