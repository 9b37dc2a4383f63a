#!/usr/bin/env bash
# Static checks of built Tarvo.dll files (x86-64 or i686): the entry points
# are exported by their plain names and lead into the DLL's code (a symbol
# the linker dropped is exported at address 0), no compiler runtime DLL is
# imported (the DLL must work when copied alone), and the type library and
# version resource are embedded. Usage: tests/windows/check_dll.sh DLL...
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

  # Export RVAs against the .text section's, both relative to the image base.
  image_base=$(sed -n 's/^ImageBase\s*//p' <<<"$headers")
  read -r text_size text_vma < <("$objdump" -h "$dll" | awk '$2 == ".text" { print $3, $4 }')
  text_start=$((0x$text_vma - 0x$image_base))
  text_end=$((text_start + 0x$text_size))
  for rva in $(sed -n 's/^\s*\[ *[0-9]*\] +base\[ *[0-9]*\] *\([0-9a-f]*\) Export RVA$/\1/p' <<<"$headers"); do
    ((0x$rva >= text_start && 0x$rva < text_end)) ||
      fail "an export's address (RVA 0x$rva) lies outside the code"
  done

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
