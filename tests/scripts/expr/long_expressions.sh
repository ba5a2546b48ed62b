#!/usr/bin/env bash
# Generated scripts hold very long expressions: a 100,000-item array literal, a 100,000-term sum and a
# 100,000-term concatenation each load and run (once these were quadratic to load, crashed past 50,000
# items, and kept every intermediate string of a chain until the expression ended).
# Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
dir=$(mktemp -d /tmp/brmlong.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
n=100000
{ printf 'a := ['; seq -s, 1 $n | tr -d '\n'; printf ']\nFileAppend a.Length " " a[1] " " a[%d] "`n", "*"\n' $n; } > array.brm
{ printf 'x := 1'; for _ in $(seq 2 $n); do printf ' + 1'; done; printf '\nFileAppend x "`n", "*"\n'; } > sum.brm
{ printf 'x := ""'; for _ in $(seq 1 $n); do printf ' . "ab"'; done; printf '\nFileAppend StrLen(x) " " SubStr(x, -4) "`n", "*"\n'; } > concat.brm
# Float literals go through the number reader, which once rescanned the rest of the line for each one.
{ printf 'x := 0.5'; for _ in $(seq 2 $n); do printf ' + 0.5'; done; printf '\nFileAppend x "`n", "*"\n'; } > floats.brm
fail=0
check() {
  local script=$1 want=$2 got
  got=$(timeout -k 5 25 "$wine" "$exe" /ErrorStdOut=UTF-8 "$script" 2>&1)
  local code=$?
  if [ $code != 0 ] || [ "$got" != "$want" ]; then
    echo "FAIL: $script exited with $code and printed: ${got:0:300}"; fail=1
  fi
}
check array.brm "$n 1 $n"
check sum.brm "$n"
check concat.brm "$((2 * n)) abab"
check floats.brm "50000.0"
[ $fail = 0 ] && echo "long expressions: passed"
exit $fail
