#!/usr/bin/env bash
# The shipped program stands alone: a 64-bit GUI executable that imports only DLLs that
# every Windows 10 has (no libstdc++, libgcc or winpthread DLL of ours), and of those only
# the known DLLs, which the loader never takes from the program's own folder. Everything
# else (WinHTTP, CryptoAPI's crypt32, WinTrust, version, dwmapi, Media Foundation) is
# loaded at run time from System32.
# Usage: imports_test.sh <TavroInstaller.exe>
set -uo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }
failures=0 passed=0
check() { if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: $1: expected $2, got $3"; fi; }

check "format" "PE32+" "$(awk '/^Magic/ {print $3}' <<<"$headers" | tr -d '()')"
check "subsystem" "(Windows GUI)" "$(awk '/^Subsystem/ {print $3, $4}' <<<"$headers")"
# Windows 10's known DLLs (HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs).
system_dlls="advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll
rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll"
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers")
[ -n "$imports" ] || { echo "FAIL: no imports found"; exit 1; }
for dll in $imports; do
  if grep -qw "$dll" <<<"$system_dlls"; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL: imports $dll"; fi
done
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
