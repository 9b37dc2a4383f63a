#!/usr/bin/env bash
# Runs the Windows tests of the mingw-w64 x86-64 build under Wine, in a
# private prefix inside the build folder: registration with regsvr32, a C++
# host, a script host, the type library and version resource, and a COM port
# mapped to a pseudo-terminal. Usage: tests/windows/run.sh BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:?usage: run.sh BUILD_DIR}")
programs="$build/tests/windows"
source "$here/wine_env.sh"
wine_env_init "$build"

peer_pid=
cleanup() {
  [[ -n "$peer_pid" ]] && kill "$peer_pid" 2>/dev/null
  wine_stop
}
trap cleanup EXIT
trap "exit 130" INT TERM

passed=0
failed=0
# step NAME COMMAND...: runs one step, shows its output, counts the result.
step() {
  local name=$1
  shift
  echo "--- $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

start=$SECONDS
wine_start

# The DLL is copied into the prefix alone, as onto a host machine: it must
# load without any compiler runtime DLL beside it.
mkdir -p "$WINEPREFIX/drive_c/tarvo"
cp "$build/src/Tarvo.dll" "$WINEPREFIX/drive_c/tarvo/Tarvo.dll"
dll='C:\tarvo\Tarvo.dll'

run() { wine_run 60 "$programs/$1.exe" "${@:2}"; }

regsvr32() { wine_run 60 regsvr32 /s "$@"; }

offered_progids() {
  run registry_test "$dll" offered | tr -d '\r'
}

script_host() {
  local progids
  mapfile -t progids < <(offered_progids)
  echo "classes offered by this build: ${progids[*]}"
  wine_run 60 cscript //nologo "$(wine_path "$here/create_classes.js")" "${progids[@]}"
}

port_smoke() {
  local path_file="$build/pty-path" port=5 status=0
  rm -f "$path_file"
  python3 "$here/pty_peer.py" "$path_file" 60 &
  peer_pid=$!
  for _ in $(seq 100); do [[ -s "$path_file" ]] && break; sleep 0.1; done
  [[ -s "$path_file" ]] || { echo "the pty peer did not start"; return 1; }
  echo "COM$port -> $(cat "$path_file")"
  wine_map_com_port "$port" "$(cat "$path_file")"
  run port_smoke_test "$port" || status=$?
  kill "$peer_pid" 2>/dev/null || true
  wait "$peer_pid" 2>/dev/null || true
  peer_pid=
  wine_unmap_com_port "$port"
  return "$status"
}

run registry_test "$dll" clean
step "nothing registered before regsvr32" run registry_test "$dll" absent
step "DllRegisterServer and DllUnregisterServer called directly" run registry_test "$dll" direct
step "regsvr32" regsvr32 "$dll"
step "registry entries after regsvr32" run registry_test "$dll" present
step "C++ host" run com_host_test "$dll"
step "script host" script_host
step "type library" run type_library_test "$dll"
step "version resource" run version_resource_test "$dll"
step "regsvr32 /u" regsvr32 /u "$dll"
step "nothing registered after regsvr32 /u" run registry_test "$dll" absent
step "COM port mapped to a pty" port_smoke

echo "Wine tests took $((SECONDS - start)) s"
echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
