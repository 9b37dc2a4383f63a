#!/usr/bin/env bash
# Runs the Windows tests of the mingw-w64 x86-64 build under Wine, in a
# private prefix inside the build folder: registration with regsvr32, a C++
# host, a script host, the type library and version resource, a COM port
# mapped to a pseudo-terminal, and a host driving simulated modules over COM5
# and COM12. The simulator is a Linux program of the linux preset's build
# (LINUX_BUILD_DIR, by default build/linux beside BUILD_DIR).
# Usage: tests/windows/run.sh BUILD_DIR [LINUX_BUILD_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:?usage: run.sh BUILD_DIR [LINUX_BUILD_DIR]}")
linux_build=$(realpath -m "${2:-$build/../linux}")
programs="$build/tests/windows"
sim_peer="$linux_build/tests/windows/tarvo_sim_peer"
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

# stop_peer PID: asks a peer started here to stop, kills it when it has not
# within 10 s, and gives its exit status.
stop_peer() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    grep -qs '^State:[[:space:]]*[^Z]' "/proc/$pid/status" || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid"
}

# The simulator serves one pty that COM5 and COM12 both lead to. The serial
# device test runs on COM5, the host test once on each port, then the handle
# count test on COM5; the simulator's log of the commands it received must
# then be win32_device_exchanges.txt, serial_host_exchanges.txt once per host
# run and handle_count_exchanges.txt once per round.
serial_ports=(5 12)
unmapped_port=200
handle_rounds=20
expected_exchanges() {
  grep -v '^#' "$here/win32_device_exchanges.txt"
  for _ in "${serial_ports[@]}"; do grep -v '^#' "$here/serial_host_exchanges.txt"; done
  for _ in $(seq "$handle_rounds"); do grep -v '^#' "$here/handle_count_exchanges.txt"; done
}

serial_io() {
  local log="$build/sim-exchanges.log" path port status=0
  [[ -x "$sim_peer" ]] || { echo "no simulator at $sim_peer: build the linux preset"; return 1; }
  rm -f "$log"
  # Its standard input is a pipe from this script: should the script die
  # without its trap, the simulator sees the pipe close and stops.
  coproc SIM_PEER { exec "$sim_peer" "$log" 60; }
  peer_pid=$SIM_PEER_PID
  if ! read -r -t 10 -u "${SIM_PEER[0]}" path; then
    echo "the simulator did not start"
    stop_peer "$peer_pid" || true
    peer_pid=
    return 1
  fi
  local pairs=()
  for port in "${serial_ports[@]}"; do pairs+=("$port" "$path"); done
  wine_map_com_port "${pairs[@]}"
  echo "serial device on COM${serial_ports[0]} -> $path"
  run win32_device_test "${serial_ports[0]}" || status=1
  for port in "${serial_ports[@]}"; do
    echo "host on COM$port -> $path"
    run serial_host_test "$port" "$unmapped_port" || status=1
  done
  echo "handles over $handle_rounds rounds on COM${serial_ports[0]}"
  run handle_count_test "${serial_ports[0]}" "$unmapped_port" "$handle_rounds" || status=1
  stop_peer "$peer_pid" || { echo "the simulator failed"; status=1; }
  peer_pid=
  wine_unmap_com_port "${serial_ports[@]}"
  echo "commands the simulator received:"
  if diff -u --label expected --label received <(expected_exchanges) "$log"; then
    echo "as expected, $(wc -l <"$log") commands"
  else
    status=1
  fi
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
step "serial I/O with simulated modules on COM5 and COM12" serial_io
step "regsvr32 /u" regsvr32 /u "$dll"
step "nothing registered after regsvr32 /u" run registry_test "$dll" absent
step "COM port mapped to a pty" port_smoke

echo "Wine tests took $((SECONDS - start)) s"
echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
