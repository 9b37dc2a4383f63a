#!/usr/bin/env bash
# Runs the Windows tests of the mingw-w64 builds under Wine: each DLL given
# (the x86-64 one, the i686 one) with the test programs built beside it, one
# after the other in one private prefix: registration with the regsvr32 of
# its architecture (in that architecture's registry view), a C++ host, the
# script host of the same bitness, the type library and version resource,
# hosts driving simulated modules over COM5 and COM12 (the records in the
# host's own layout and, on i686, the stack pointer across every slot), and
# a COM port mapped to a pseudo-terminal. The simulator is a Linux program of
# the linux preset's build. A machine that cannot run 32-bit programs
# reports the i686 steps as skipped. The prefix and Wine's log live in the
# folder "wine" beside the first Windows build.
# Usage: tests/windows/run.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR...
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
(($# >= 2)) || { echo "usage: run.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR..."; exit 2; }
linux_build=$(realpath "$1")
shift
sim_peer="$linux_build/tests/windows/tarvo_sim_peer"
source "$here/wine_env.sh"
wine_env_init "$(dirname "$(realpath "$1")")/wine"

peer_pid=
cleanup() {
  [[ -n "$peer_pid" ]] && kill "$peer_pid" 2>/dev/null
  wine_stop
}
trap cleanup EXIT
trap "exit 130" INT TERM

# The architecture a build's DLL is for: x86-64 or i686.
dll_arch() {
  case "$(x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format //p')" in
    pei-x86-64) echo x86-64 ;;
    pei-i386) echo i686 ;;
    *) echo "cannot tell the architecture of $1" >&2; return 1 ;;
  esac
}

# Per architecture: the steps passed, failed and skipped, in run order.
archs=()
warnings=()
declare -A passed failed skipped
arch= build= programs= dll= unable=
# step NAME COMMAND...: runs one step of the current architecture, shows its
# output, counts the result. When the architecture cannot run here, says why
# and counts the step as skipped.
step() {
  local name=$1
  shift
  if [[ -n "$unable" ]]; then
    echo "--- $arch: $name: skipped"
    skipped[$arch]=$((skipped[$arch] + 1))
    return
  fi
  echo "--- $arch: $name"
  if "$@"; then
    passed[$arch]=$((passed[$arch] + 1))
  else
    echo "FAILED: $arch: $name"
    failed[$arch]=$((failed[$arch] + 1))
  fi
}

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
# count test and the host's binary interface test on COM5; the simulator's
# log of the commands it received must then be win32_device_exchanges.txt,
# serial_host_exchanges.txt once per host run, handle_count_exchanges.txt
# once per round and host_abi_exchanges.txt.
serial_ports=(5 12)
unmapped_port=200
handle_rounds=20
expected_exchanges() {
  grep -v '^#' "$here/win32_device_exchanges.txt"
  for _ in "${serial_ports[@]}"; do grep -v '^#' "$here/serial_host_exchanges.txt"; done
  for _ in $(seq "$handle_rounds"); do grep -v '^#' "$here/handle_count_exchanges.txt"; done
  grep -v '^#' "$here/host_abi_exchanges.txt"
}

# The simulator logs the bytes no module took as they reach it: commands to
# absent modules that arrive together make one line. Runs of such lines
# are joined on both sides of the comparison, which stays exact about the
# bytes and their order.
join_dropped() {
  awk '/^dropped / { run = run substr($0, 9); next }
       { if (run != "") print "dropped " run; run = ""; print }
       END { if (run != "") print "dropped " run }'
}

serial_io() {
  local log="$build/sim-exchanges.log" path port status=0
  [[ -x "$sim_peer" ]] || { echo "no simulator at $sim_peer: build the linux preset"; return 1; }
  rm -f "$log"
  # Its standard input is a pipe from this script: should the script die
  # without its trap, the simulator sees the pipe close and stops.
  coproc SIM_PEER { exec "$sim_peer" "$log" 90; }
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
  echo "the host's binary interface on COM${serial_ports[0]}"
  run host_abi_test "$dll" "${serial_ports[0]}" || status=1
  stop_peer "$peer_pid" || { echo "the simulator failed"; status=1; }
  peer_pid=
  wine_unmap_com_port "${serial_ports[@]}"
  echo "commands the simulator received:"
  if diff -u --label expected --label received <(expected_exchanges | join_dropped) \
    <(join_dropped <"$log"); then
    echo "as expected, $(wc -l <"$log") commands"
  else
    status=1
  fi
  return "$status"
}

# suite BUILD_DIR: every step for the DLL of that build.
suite() {
  build=$(realpath "$1")
  programs="$build/tests/windows"
  arch=$(dll_arch "$build/src/Tarvo.dll")
  archs+=("$arch")
  passed[$arch]=0 failed[$arch]=0 skipped[$arch]=0
  unable=
  if [[ "$arch" == i686 ]]; then
    local status=0
    unable=$(wine_32bit_refusal) || status=$?
    # Without 32-bit Wine the machine could run the tests but cannot:
    # that is a failure, not a skip, unless make deps could not install it
    # (the archive in the middle of a mirror sync): then apt's reason is
    # shown and the steps are skipped.
    local note="$here/../../build/wine32-missing"
    if ((status == 2)) && [[ -f "$note" ]]; then
      unable="wine32 could not be installed: $(tr '\n' ' ' < "$note")"
      warnings+=("$arch: every step skipped: $unable")
    elif ((status == 2)); then
      echo "FAILED: $arch: $unable"
      failed[$arch]=1
      return
    fi
  fi
  echo "=== $arch: $build/src/Tarvo.dll${unable:+ ($unable)}"
  # The DLL is copied into the prefix alone, as onto a host machine: it must
  # load without any compiler runtime DLL beside it.
  dll="C:\\tarvo\\$arch\\Tarvo.dll"
  if [[ -z "$unable" ]]; then
    wine_use "$arch"
    mkdir -p "$WINEPREFIX/drive_c/tarvo/$arch"
    cp "$build/src/Tarvo.dll" "$WINEPREFIX/drive_c/tarvo/$arch/Tarvo.dll"
    run registry_test "$dll" clean
  fi
  # The compiler's wrong-code case, built with this build's flags.
  step "the compiler zeroes nested arrays of std::optional" \
    wine_run 60 "$build/tests/toolchain/toolchain_check.exe"
  step "nothing registered before regsvr32" run registry_test "$dll" absent
  step "DllRegisterServer and DllUnregisterServer called directly" run registry_test "$dll" direct
  step "regsvr32" regsvr32 "$dll"
  step "registry entries after regsvr32, in this architecture's view only" \
    run registry_test "$dll" present
  step "C++ host" run com_host_test "$dll"
  step "script host" script_host
  step "type library" run type_library_test "$dll"
  step "version resource" run version_resource_test "$dll"
  step "serial I/O with simulated modules on COM5 and COM12" serial_io
  step "regsvr32 /u" regsvr32 /u "$dll"
  step "nothing registered after regsvr32 /u" run registry_test "$dll" absent
  step "COM port mapped to a pty" port_smoke
}

start=$SECONDS
wine_start
for windows_build in "$@"; do suite "$windows_build"; done

echo "Wine tests took $((SECONDS - start)) s"
total_passed=0 total_failed=0 total_skipped=0
for arch in "${archs[@]}"; do
  echo "$arch: ${passed[$arch]} passed, ${failed[$arch]} failed, ${skipped[$arch]} skipped"
  total_passed=$((total_passed + passed[$arch]))
  total_failed=$((total_failed + failed[$arch]))
  total_skipped=$((total_skipped + skipped[$arch]))
done
for warning in "${warnings[@]}"; do echo "WARNING: $warning"; done
echo "wine: $total_passed passed, $total_failed failed, $total_skipped skipped"
[[ $total_failed -eq 0 ]]
