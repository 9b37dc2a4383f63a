#!/usr/bin/env bash
# What a host vendor gets, checked from the outside. The release build is
# installed under a temporary DESTDIR; the example host is built against the
# installed files (with pkg-config, then with find_package) and run against
# the installed pxrsim, and so is tarvo-gateway, once, with the example
# plant file; the library's soname and exports, the tools' versions (and
# the DLL's version resource), their man pages and run paths are checked.
# Then the Debian package is built, listed and checked the same way (files,
# soname, dependencies, no build paths), and lintian reads it.
# Usage: scripts/check_install.sh RELEASE_BUILD_DIR [TARVO_DLL]
set -euo pipefail

build=$(realpath "${1:?usage: scripts/check_install.sh RELEASE_BUILD_DIR [TARVO_DLL]}")
dll=${2:-}
source=$(realpath "$(dirname "$0")/..")
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
libdir=$(cache CMAKE_INSTALL_LIBDIR)

# shellcheck source=scripts/background_pxrsim.sh
source "$source/scripts/background_pxrsim.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-install.XXXXXX")
cleanup() {
  stop_pxrsim 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
# check WHAT EXPECTED ACTUAL
check() {
  if [[ "$2" == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed -n 's/^[<>]/  &/p'
    failures=$((failures + 1))
  fi
}

# The files a prefix holds, one a line; a symlink with its target.
expected_files() {
  local prefix=$1 lib="$1/$libdir"
  printf '%s\n' "$prefix/bin/pxrsim" "$prefix/bin/tarvo-poll" "$prefix/bin/tarvo-gateway" \
    "$lib/cmake/Tarvo/TarvoConfig-release.cmake" "$lib/cmake/Tarvo/TarvoConfig.cmake" \
    "$lib/cmake/Tarvo/TarvoConfigVersion.cmake" "$lib/libtarvo.so -> libtarvo.so.1" \
    "$lib/libtarvo.so.$version" "$lib/libtarvo.so.1 -> libtarvo.so.$version" \
    "$lib/pkgconfig/tarvo.pc" "$prefix/lib/systemd/system/tarvo-gateway@.service" \
    "$prefix/share/doc/tarvo/changelog.gz" "$prefix/share/doc/tarvo/copyright" \
    "$prefix/share/doc/tarvo/examples/boiler.yaml" "$prefix/share/man/man1/pxrsim.1.gz" \
    "$prefix/share/man/man1/tarvo-poll.1.gz" "$prefix/share/man/man1/tarvo-gateway.1.gz"
  find "$source/include/tarvo" -name '*.h' -printf "$prefix/include/tarvo/%f\n"
}
listed_files() {
  find "$1" \( -type l -printf '%P -> %l\n' \) -o \( ! -type d -printf '%P\n' \)
}

# check_tree WHAT ROOT PREFIX: the files, soname, exports, tools and their
# run path, man pages, and no path of the source or build folders inside.
check_tree() {
  local what=$1 root=$2 prefix=$3
  local lib="$root/$prefix/$libdir" bin="$root/$prefix/bin"
  check "$what: files" "$(expected_files "${prefix#/}" | sort)" "$(listed_files "$root" | sort)"
  check "$what: soname" "libtarvo.so.1" \
    "$(readelf -d "$lib/libtarvo.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
  check "$what: exports" "$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer \
    DllUnregisterServer TarvoSetPortDevice TarvoSetTraceHandler)" \
    "$(nm -D --defined-only "$lib/libtarvo.so.1" | awk '{ print $3 }' | sort)"
  for tool in tarvo-poll tarvo-gateway; do
    check "$what: $tool's run path" "\$ORIGIN/../$libdir" \
      "$(readelf -d "$bin/$tool" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
  done
  check "$what: tarvo.pc" "$prefix" "$(sed -n 's/^prefix=//p' "$lib/pkgconfig/tarvo.pc")"
  for tool in tarvo-poll pxrsim tarvo-gateway; do
    check "$what: $tool --version" "$tool $version" "$("$bin/$tool" --version)"
    # Every option of --help is in the man page, which man renders without
    # a warning.
    local page="$root/$prefix/share/man/man1/$tool.1.gz"
    local options missing
    options=$("$bin/$tool" --help | grep -oE '^ +-[^ ]+' | tr ',' '\n' | tr -d ' ' | sort -u)
    missing=$(for option in $options; do
      zcat "$page" | grep -qE -- "${option//-/\\\\-}([^[:alnum:]_-]|\$)" || echo "$option"
    done)
    check "$what: $tool.1 has every option of --help" "" "$missing"
    check "$what: $tool.1 renders cleanly" "" \
      "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
  done
  check "$what: no path of the source or build folder inside" "" \
    "$(grep -rlF -e "$source" -e "$build" "$root" || true)"
}

echo "== cmake --install into a temporary DESTDIR"
root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr/local >"$work/install.log"
check_tree installed "$root" /usr/local
prefix="$root/usr/local"

echo "== the example host, built against the installed files"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$root"
check "pkg-config --modversion tarvo" "$version" "$(pkg-config --modversion tarvo)"
flags=(-std=c11 -Wall -Wextra -Werror -pedantic)
# shellcheck disable=SC2046
cc "${flags[@]}" "$source/examples/tarvo_host.c" $(pkg-config --cflags --libs tarvo) \
  -o "$work/host-pkg-config"
cmake -S "$source/examples" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="${flags[*]}" >"$work/example.log"
cmake --build "$work/example" >>"$work/example.log"

echo "== the hosts against the installed pxrsim"
PATH="$prefix/bin:$PATH" start_pxrsim "$work/pxrsim" "$work/pxrsim.log"
for host in "$work/host-pkg-config" "$work/example/tarvo_host"; do
  status=0
  output=$(LD_LIBRARY_PATH="$prefix/$libdir" "$host" "$work/pxrsim" pxr5700 TB4.2 WI4.2 TA4.9) ||
    status=$?
  check "${host##*/}: two reads and a refused address" \
    $'TB4.2 = 12.5\nWI4.2 = -1\nTA4.9: 错误的通道号\nexit 1' "$output"$'\n'"exit $status"
done
# The installed tarvo-poll loads the installed library by default.
loaded=$(env -u TARVO_LIBRARY LD_DEBUG=libs "$prefix/bin/tarvo-poll" -p "$work/pxrsim" -1 \
  pxr5700 TB4.2 2>&1 >/dev/null | sed -n 's/.*calling init: \(.*libtarvo.*\)/\1/p' | head -1)
check "tarvo-poll loads the installed library" "$(realpath "$prefix/$libdir/libtarvo.so.1")" \
  "$(realpath "$loaded")"
# So does tarvo-gateway, which polls the example plant file's items once
# (the simulator's, behind its link) and prints the messages it would
# publish: every item read, the constant ones with their values.
sed "s|/dev/ttyUSB0|$work/pxrsim|" "$prefix/share/doc/tarvo/examples/boiler.yaml" >"$work/boiler.yaml"
status=0
env -u TARVO_LIBRARY LD_DEBUG=libs "$prefix/bin/tarvo-gateway" --once "$work/boiler.yaml" \
  >"$work/gateway.json" 2>"$work/gateway.log" || status=$?
loaded=$(sed -n 's/.*calling init: \(.*libtarvo.*\)/\1/p' "$work/gateway.log" | head -1)
check "tarvo-gateway loads the installed library" "$(realpath "$prefix/$libdir/libtarvo.so.1")" \
  "$(realpath "$loaded")"
check "tarvo-gateway --once: the example plant's messages" \
  "tarvo/boiler/flow ok
tarvo/boiler/return ok
tarvo/boiler/outside ok
tarvo/boiler/pump ok 1
tarvo/boiler/valve ok 0
tarvo/boiler/tank ok 12.5
exit 0" "$(python3 -c '
import json, sys
for message in json.load(open(sys.argv[1])):
    payload = message["payload"]
    constant = message["topic"].rsplit("/", 1)[1] in ("pump", "valve", "tank")
    print(message["topic"], "ok" if payload["ok"] else "failed: %s" % payload["error"],
          *([payload["value"]] if constant else []))
' "$work/gateway.json" 2>&1)
exit $status"

if [[ -n "$dll" ]]; then
  resource=$(x86_64-w64-mingw32-windres -i "$dll" -O rc)
  check "the DLL's version resource" "FILEVERSION ${version//./, }
VALUE \"FileVersion\", \"${version//./, }\"" \
    "$(grep -oE 'FILEVERSION .*|VALUE "FileVersion", ".*"' <<<"$resource")"
fi

echo "== the Debian package"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log"
deb="$work/package/tarvo_${version}_$(dpkg --print-architecture).deb"
dpkg-deb -c "$deb"
dpkg-deb -x "$deb" "$work/deb"
check_tree "package" "$work/deb" /usr
# Dependencies: the C and C++ runtimes; fmt and yaml-cpp (plant files) for
# the tools, libmosquitto, cpp-httplib, libmodbus and OpenSSL's libcrypto
# (the page's basic authentication) for tarvo-gateway.
check "package: dependencies" "" \
  "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' |
    grep -vxE 'libc6|libgcc-s1|libstdc\+\+6|libfmt[0-9]+|libyaml-cpp[0-9.]+|libmosquitto1|libcpp-httplib[0-9.]+|libmodbus5|libssl3' ||
    true)"
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || failures=$((failures + 1))
echo "lintian:"
sed 's/^/  /' "$work/lintian.log"

if [[ $failures -ne 0 ]]; then
  echo "check_install: $failures checks failed"
  exit 1
fi
echo "check_install: all checks passed"
