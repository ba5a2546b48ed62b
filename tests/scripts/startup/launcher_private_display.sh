#!/usr/bin/env bash
# ./brindlemar without a display the user can see: errors must reach standard error (the launcher adds
# /ErrorStdOut among the switches, before the script's name) instead of a dialog no one can answer, and
# a switch the user gave wins. Runs inside the session ./test holds, on its private display; when ./test
# runs on the caller's display there is no private one to reuse, and starting one would outlive the test,
# so then it checks nothing. Arguments: wine loader, program.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
state=/tmp/brindlemar-resident.$UID
if [ -z "${DISPLAY:-}" ] || ! read -r n _ < "$state/display" 2>/dev/null || [ "$DISPLAY" != ":$n" ]; then
  echo "launcher_private_display: ./test runs on the caller's display; nothing to check"; exit 0
fi
dir=$(mktemp -d /tmp/brmlauncher.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
printf 'x := \n' > bad.brm
printf 'for a in A_Args\n    FileAppend a "`n", "*"\n' > args.brm
fail=0
# case: arguments | expected exit code | expected standard output | expected standard error
check() {
  local out err code
  timeout -k 5 30 env -u DISPLAY "$root/brindlemar" "${@:4}" > out 2> err; code=$?
  grep -v '^brindlemar: no display' err > err2
  if [ "$code" != "$1" ] || [ "$(cat out)" != "$2" ] || [ "$(cat err2)" != "$3" ]; then
    echo "FAIL: ${*:4}: exit $code (expected $1)"; echo "  stdout: $(cat out)"; echo "  stderr: $(cat err)"; fail=1
  fi
}
bad="Z:${dir//\//\\}\\bad.brm (1) : ==> Missing operand."$'\n'"     Specifically: :="
check 2 "" "$bad" bad.brm
check 2 "" "$bad" /validate bad.brm
check 2 "" "$bad" /include args.brm bad.brm
check 2 "" "$bad" /ERRORSTDOUT=utf-8 bad.brm
# After the script's name a switch is the script's argument: the launcher still adds its own.
check 0 "$(printf '/ErrorStdOut\nx')" "" args.brm /ErrorStdOut x
check 2 "" "brindlemar: /include needs a file name after it" /include
[ $fail = 0 ] && echo "launcher_private_display: passed"
exit $fail
