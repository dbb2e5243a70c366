#!/usr/bin/env bash
# The shipped program stands alone: a 64-bit GUI executable that imports only DLLs that
# every Windows 10 has (no libstdc++, libgcc or winpthread DLL of ours). Media Foundation
# is not among them: Windows N editions lack it, so it is loaded at run time instead.
# Usage: imports_test.sh <TavroInstaller.exe>
set -uo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }
failures=0 passed=0
check() { if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: $1: expected $2, got $3"; fi; }

check "format" "PE32+" "$(awk '/^Magic/ {print $3}' <<<"$headers" | tr -d '()')"
check "subsystem" "(Windows GUI)" "$(awk '/^Subsystem/ {print $3, $4}' <<<"$headers")"
system_dlls="advapi32.dll crypt32.dll gdi32.dll gdiplus.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
shell32.dll shlwapi.dll user32.dll version.dll winhttp.dll wintrust.dll dwmapi.dll
comctl32.dll uxtheme.dll bcrypt.dll ntdll.dll"
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers")
[ -n "$imports" ] || { echo "FAIL: no imports found"; exit 1; }
for dll in $imports; do
  if grep -qw "$dll" <<<"$system_dlls"; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: imports $dll"; fi
done
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
