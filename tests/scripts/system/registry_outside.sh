#!/usr/bin/env bash
# What RegWrite stores and what RegDeleteKey removes, seen from outside with the system's reg tool: the data
# of each type, and that deleting a key leaves its parent and its sibling whose name it begins.
# Arguments: wine loader, program.
set -uo pipefail
wine=$1 exe=$2
key='HKCU\Software\BrindlemarTestregistry_outside'
dir=$(mktemp -d /tmp/brmregout.XXXXXX)
cleanup() { "$wine" reg delete "$key" /f >/dev/null 2>&1; rm -rf "$dir"; }
trap cleanup EXIT
cleanup; mkdir -p "$dir"
cd "$dir"
cat > write.brm <<'BRM'
k := "HKCU\Software\BrindlemarTestregistry_outside"
RegWrite "text value", "REG_SZ", k, "sz"
RegWrite "a`nb`n", "REG_MULTI_SZ", k, "multi"
RegWrite "00aBff", "REG_BINARY", k, "bin"
RegWrite 305419896, "REG_DWORD", k, "dword"
RegWrite "x", "REG_SZ", k "\gone\deeper", "v"
RegWrite "x", "REG_SZ", k "\gone2", "v"
RegWrite "x", "REG_SZ", k "\gone", "v"
try RegWrite "zz", "REG_BINARY", k "\never", "v"
RegDeleteKey k "\gone"
BRM
"$wine" "$exe" /ErrorStdOut=UTF-8 write.brm > write.out 2>&1 || { echo "FAIL: the script failed"; cat write.out; exit 1; }
[ -s write.out ] && { echo "FAIL: the script wrote:"; cat write.out; exit 1; }
got=$("$wine" reg query "$key" /s 2>/dev/null | tr -d '\r' | sed 's/[[:space:]]\+/ /g; s/^ //; /^$/d')
want='HKEY_CURRENT_USER\Software\BrindlemarTestregistry_outside
bin REG_BINARY 00ABFF
dword REG_DWORD 0x12345678
multi REG_MULTI_SZ a\0b
sz REG_SZ text value
HKEY_CURRENT_USER\Software\BrindlemarTestregistry_outside\gone2
v REG_SZ x'
if [ "$got" != "$want" ]; then
  echo "FAIL: reg query shows"; printf '%s\n' "$got"; echo "expected"; printf '%s\n' "$want"; exit 1
fi
echo "registry_outside: passed"
