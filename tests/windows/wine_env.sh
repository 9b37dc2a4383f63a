# Wine for the Windows tests: a private prefix, quiet, with every invocation
# time-limited. The prefix is a 64-bit one with its 32-bit half (WoW64):
# 32-bit programs run in it through the 32-bit loader, and the programs of
# C:\windows\system32 they start (regsvr32, cscript) are the 32-bit ones
# of C:\windows\syswow64. Source this file, then:
#
#   wine_env_init DIR           set up the environment (prefix: DIR/prefix, log: DIR/wine.log)
#   wine_start                  create the prefix on first use, start its wineserver
#   wine_use x86-64|i686        the architecture wine_run runs programs as
#   wine_32bit_refusal          prints why this machine runs no 32-bit program and
#                               fails with 1 when it cannot, with 2 when 32-bit Wine is
#                               missing; silent, status 0, when it can
#   wine_run SECONDS PROGRAM... run a Windows program (its stdout and stderr pass through)
#   wine_stop                   stop the wineserver and every Wine process of the prefix
#   wine_map_com_port N DEVICE [N DEVICE]...
#                               map COMn to a device path (e.g. a pty), effective at once
#   wine_unmap_com_port N [N]...
#                               remove those mappings again
#   wine_path UNIX-PATH         the path as Windows programs see it
#
# Wine writes the dosdevices links of the COM ports from the registry key
# HKLM\Software\Wine\Ports when its services start, so the mapping functions
# restart the wineserver. Callers should `trap wine_stop EXIT`.

WINE_BIN_DIR=${WINE_BIN_DIR:-/usr/lib/wine}
WINE_LOADER="$WINE_BIN_DIR/wine64"

wine_env_init() {
  export WINEPREFIX
  WINEPREFIX="$(realpath -m "$1")/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export DISPLAY=
  export WINEDLLOVERRIDES="mscoree,mshtml="
  WINE_LOG="$(realpath -m "$1")/wine.log"
  mkdir -p "$1"
  : > "$WINE_LOG"
}

# Wine's own noise (and that of the services it starts, which outlive the
# call) goes to the log, never to the caller's pipes.
_wine_quiet() {
  local seconds=$1
  shift
  timeout -k 5 "$seconds" "$WINE_BIN_DIR/wine64" "$@" </dev/null >>"$WINE_LOG" 2>&1
}

# A prefix made while 32-bit Wine was missing lacks its 32-bit half: the
# mark it gets when made says which kind it is.
_wine_prefix_kind() { [[ -x "$WINE_BIN_DIR/wine" ]] && echo wow64 || echo win64; }

wine_start() {
  local ready="$WINEPREFIX/.tarvo-prefix-ready"
  if [[ "$(cat "$ready" 2>/dev/null)" != "$(_wine_prefix_kind)" ]]; then
    rm -rf "$WINEPREFIX"
    echo "Creating the Wine prefix $WINEPREFIX"
    _wine_quiet 180 wineboot -i || { echo "wineboot -i failed; see $WINE_LOG" >&2; return 1; }
    # Let the new prefix's registry reach the disk before it counts as made.
    timeout 60 "$WINE_BIN_DIR/wineserver" -w 2>/dev/null || true
    _wine_prefix_kind >"$ready"
  fi
  _wine_quiet 120 wineboot || { echo "wineboot failed; see $WINE_LOG" >&2; return 1; }
}

wine_use() {
  case "$1" in
    x86-64) WINE_LOADER="$WINE_BIN_DIR/wine64" ;;
    i686) WINE_LOADER="$WINE_BIN_DIR/wine" ;;
    *) echo "wine_use: unknown architecture $1" >&2; return 1 ;;
  esac
}

# A kernel built without 32-bit support refuses to execute the 32-bit
# loader (the shell reports status 126).
wine_32bit_refusal() {
  local loader="$WINE_BIN_DIR/wine" status=0
  [[ -x "$loader" ]] || { echo "no 32-bit Wine at $loader (make deps installs wine32)"; return 2; }
  "$loader" --version >/dev/null 2>&1 || status=$?
  case $status in
    0) return 0 ;;
    126) echo "this machine cannot run 32-bit programs (the kernel refuses $loader)"; return 1 ;;
    *) echo "$loader --version fails with status $status"; return 2 ;;
  esac
}

wine_run() {
  local seconds=$1
  shift
  timeout -k 5 "$seconds" "$WINE_LOADER" "$@" </dev/null 2>>"$WINE_LOG"
}

wine_stop() {
  [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]] || return 0
  timeout 30 "$WINE_BIN_DIR/wineserver" -k 2>/dev/null || true
  timeout 30 "$WINE_BIN_DIR/wineserver" -w 2>/dev/null || true
}

wine_path() {
  local unix_path
  unix_path=$(realpath -m "$1")
  case "$unix_path" in
    "$WINEPREFIX/drive_c/"*) printf 'C:\\%s\n' "${unix_path#"$WINEPREFIX/drive_c/"}" | tr / '\\' ;;
    *) printf 'Z:%s\n' "$unix_path" | tr / '\\' ;;
  esac
}

# Several ports at once cost one restart.
wine_map_com_port() {
  while (($# >= 2)); do
    _wine_quiet 60 reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f || return 1
    shift 2
  done
  wine_stop
  wine_start
}

wine_unmap_com_port() {
  local port
  for port in "$@"; do
    _wine_quiet 60 reg delete 'HKLM\Software\Wine\Ports' /v "COM$port" /f || true
  done
  wine_stop
  # Wine adds links for the mapped ports but leaves a stale one in place.
  for port in "$@"; do rm -f "$WINEPREFIX/dosdevices/com$port"; done
  wine_start
}
