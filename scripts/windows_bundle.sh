#!/usr/bin/env bash
# make windows-bundle: one zip for a plant's Windows machine. Each DLL build
# is installed (the DLL and the headers), the example host is built with
# mingw-w64 against the installed headers, and both go into the zip with
# register.cmd and a short README. The zip's list is checked at the end.
# Usage: scripts/windows_bundle.sh X64_BUILD_DIR I686_BUILD_DIR OUT_DIR
set -euo pipefail

usage="usage: scripts/windows_bundle.sh X64_BUILD_DIR I686_BUILD_DIR OUT_DIR"
declare -A builds=([x64]=$(realpath "${1:?$usage}") [x86]=$(realpath "${2:?$usage}"))
declare -A compilers=([x64]=x86_64-w64-mingw32-gcc-posix [x86]=i686-w64-mingw32-gcc-posix)
out=$(realpath -m "${3:?$usage}")
source=$(realpath "$(dirname "$0")/..")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${builds[x64]}/CMakeCache.txt")
name=tarvo-$version-windows
stage="$out/$name"

rm -rf "$stage" "$out/install" "$out/$name.zip"
mkdir -p "$stage"
for arch in x64 x86; do
  installed="$out/install/$arch"
  cmake --install "${builds[$arch]}" --prefix "$installed" --strip >/dev/null
  mkdir "$stage/$arch"
  cp "$installed/bin/Tarvo.dll" "$stage/$arch/"
  # Static: the host needs no compiler runtime DLL beside it.
  "${compilers[$arch]}" -std=c11 -Wall -Wextra -Werror -O2 -s -I "$installed/include" \
    "$source/examples/tarvo_host.c" -o "$stage/$arch/tarvo_host.exe" -lole32 -static
done
cp -r "$out/install/x64/include" "$stage/"
cp "$source/examples/tarvo_host.c" "$stage/"
# Text files with Windows line ends; cmd needs them for its labels.
sed 's/$/\r/' "$source/packaging/windows/register.cmd" >"$stage/register.cmd"
sed "s/@VERSION@/$version/; s/\$/\r/" "$source/packaging/windows/README.txt" >"$stage/README.txt"
(cd "$out" && zip -qrX "$name.zip" "$name")

listed=$(unzip -Z1 "$out/$name.zip" | grep -v '/$' | sort)
expected=$( (
  printf "$name/%s\n" README.txt register.cmd tarvo_host.c x64/Tarvo.dll x64/tarvo_host.exe \
    x86/Tarvo.dll x86/tarvo_host.exe
  find "$source/include/tarvo" -name '*.h' -printf "$name/include/tarvo/%f\n"
) | sort)
if [[ "$listed" != "$expected" ]]; then
  echo "windows_bundle: the zip holds:" >&2
  diff <(echo "$expected") <(echo "$listed") >&2 || true
  exit 1
fi
echo "$out/$name.zip"
