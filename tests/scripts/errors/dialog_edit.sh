#!/usr/bin/env bash
# &Edit in the error dialog opens the failing line's file in an editor (here Notepad, since nothing is
# registered to edit the script's type) and leaves the dialog open. Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
tool=$(dirname "$exe")/tests/DialogTool.exe
[ -f "$tool" ] || { echo "FAIL: no dialog tool at $tool"; exit 1; }
dir=$(mktemp -d /tmp/brmdlgedit.XXXXXX)
# The editor is not this script's child: it is found by the unique folder in its command line.
editors() { pgrep -f -- "$(basename "$dir")\\\\edit me\\.brm" | grep -vx "$$"; }
cleanup() { for p in $(editors); do kill -9 "$p" 2>/dev/null; done; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
winpath() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }
fail() { echo "FAIL: $*"; echo "--- dialogs:"; cat dialogs.txt 2>/dev/null; exit 1; }

# case: the script's text; the editor must be started once on "edit me.brm", then it is closed.
edit_case() {
  printf '%s\n' "$1" > 'edit me.brm'
  timeout -k 5 30 "$wine" "$tool" "$(winpath "$dir")\\dialogs.txt" '&Edit (stays open)|&Abort' \
    "$(winpath "$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")")" 'edit me.brm' > out.txt 2>&1 < /dev/null
  local code=$?
  [ $code = 124 ] || [ $code = 137 ] && fail "the script did not end within 30 s"
  [ $code = 2 ] || fail "the script exited with $code: $(cat out.txt)"
  [ "$(grep -c '^> press' dialogs.txt)" = 2 ] || fail "the dialog did not stay open after &Edit"
  local found=
  for _ in $(seq 1 100); do
    found=$(editors)
    [ -n "$found" ] && break
    sleep 0.1
  done
  [ -n "$found" ] || fail "no editor was started on the script"
  [ "$(echo "$found" | wc -l)" = 1 ] || fail "more than one editor was started: $found"
  for p in $found; do kill -9 "$p" 2>/dev/null; done
  for _ in $(seq 1 50); do [ -z "$(editors)" ] && break; sleep 0.1; done
}

edit_case $'x := 1\nthrow Error("edit me")'   # a failing line: its file
edit_case 'x := (1'                             # a load error, no line: the Edit Script command
echo "dialog edit: passed"
