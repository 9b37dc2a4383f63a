#!/usr/bin/env bash
# Static checks of built Tarvo.dll files (x86-64 or i686): the entry points
# are exported by their plain names, no compiler runtime DLL is imported (the
# DLL must work when copied alone), and the type library and version
# resource are embedded. Usage: tests/windows/check_dll.sh DLL...
set -euo pipefail

objdump=x86_64-w64-mingw32-objdump  # reads both pei-x86-64 and pei-i386
windres=x86_64-w64-mingw32-windres

expected_exports="DllCanUnloadNow
DllGetClassObject
DllRegisterServer
DllUnregisterServer
TarvoSetPortDevice
TarvoSetTraceHandler"

failed=0
fail() {
  echo "FAIL: $1"
  failed=1
}

for dll in "$@"; do
  echo "--- $dll"
  headers=$("$objdump" -p "$dll")
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
  [[ "$exports" == "$expected_exports" ]] || fail "exports are: $(tr '\n' ' ' <<<"$exports")"

  imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
  runtime=$(grep -Ei 'libgcc|libstdc|winpthread|libssp|libatomic|libgomp|quadmath|mingw' \
    <<<"$imports" || true)
  [[ -z "$runtime" ]] || fail "imports compiler runtime DLLs: $(tr '\n' ' ' <<<"$runtime")"

  resources=$("$windres" -i "$dll" -O rc 2>/dev/null | grep -E '^[0-9A-Z_]+ ' || true)
  grep -qx '1 "TYPELIB"' <<<"$resources" || fail "no TYPELIB resource 1"
  grep -q '^1 VERSIONINFO' <<<"$resources" || fail "no version resource"
done
exit "$failed"
