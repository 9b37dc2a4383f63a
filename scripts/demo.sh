#!/usr/bin/env bash
# make demo: pxrsim serves its built-in plant (one module of each family) on
# a pseudo-terminal, and tarvo-poll reads it through the library, loaded as
# a host loads it. Every step checks what it shows; the script exits
# non-zero when one does not behave, and never leaves pxrsim running.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail

build=$(realpath "${1:?usage: scripts/demo.sh BUILD_DIR}")
tools="$build/tools"
library="$build/src/libtarvo.so"
for program in "$tools/tarvo-poll" "$tools/pxrsim" "$library"; do
  [[ -x "$program" || -f "$program" ]] || { echo "demo: $program is not built" >&2; exit 1; }
done
export TARVO_LIBRARY="$library"
PATH="$tools:$PATH"

# shellcheck source=scripts/background_pxrsim.sh
source "$(dirname "$0")/background_pxrsim.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-demo.XXXXXX")
link="$work/pxrsim"
cleanup() {
  stop_pxrsim 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if [[ -t 1 ]]; then bold=$'\e[1m' plain=$'\e[0m'; else bold= plain=; fi
say() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
note() { printf '   %s\n' "$@"; }
failed() { echo "demo: $*" >&2; exit 1; }

# show EXPECTED_STATUS COMMAND...: prints the command as typed, runs it
# (its messages to stderr in line with its output) and checks its exit
# status.
show() {
  local expected=$1 status=0
  shift
  printf '$ %s\n' "$*"
  "$@" 2>&1 || status=$?
  [[ $status -eq $expected ]] || failed "'$*' exited with $status, expected $expected"
}

# Whether both the library and the simulator have the family.
available() {
  tarvo-poll --list "$1" >/dev/null 2>&1 && pxrsim --families | grep -q "^$1 "
}

# family NAME POLLS "ITEMS" ["ITEM=VALUE ..." ["NOTE" ...]]: reads the
# items of the family's module in the built-in plant, POLLS times, after
# the writes. Every item must read on the last poll.
family() {
  local name=$1 polls=$2 items=$3 writes=${4:-}
  if ! available "$name"; then
    say "$name: not in this build yet (the library or the simulator lacks it), skipped"
    return
  fi
  if [[ $polls -eq 1 ]]; then
    say "$name: 1 poll of its module in the built-in plant"
  else
    say "$name: $polls polls of its module in the built-in plant"
  fi
  [[ $# -gt 4 ]] && note "${@:5}"
  local options=(-p "$link" -n "$polls")
  for write in $writes; do options+=(--write "$write"); done
  # shellcheck disable=SC2086
  show 0 tarvo-poll "${options[@]}" "$name" $items
}

say "pxrsim: the built-in plant on a new pseudo-terminal"
printf '$ pxrsim -v --link %s &\n' "$link"
start_pxrsim "$link" "$work/pxrsim.log" -v || failed "pxrsim made no link $link"
sed -n '/^pxrsim:/p' "$work/pxrsim.log"

say "tarvo-poll --list: a class's registers, as its driver object hands them out"
show 0 tarvo-poll --list pxr5100

# One line per family: its items in the built-in plant (sim/plant/<family>.cpp)
# and the outputs to write first.
family pxr5100 4 "TA1.0.0 TB1.0.1 WM1.0.1 WA1.0.2 WB1.0.2 UA1.0.3 UB1.0.5"
family pxr5303 2 "TA2.0.0 TB2.0.1 WA2.1.0 WB2.1.0" "" \
  "Its gate opens 2 whole seconds after the driver object is created: the" \
  "first poll may show code 23, the second reads."
family pxr530x 1 "TA3.0.0 TB3.0.1 WA3.1.0 WB3.1.0" "" \
  "The driver waits 10 s before every block read; one block read serves all four."
family pxr5700 2 "DI4.0 DI4.1 DO4.2 TA4.1 TB4.2 WI4.1 WI4.2" "DO4.2=1" \
  "Output 2 is written before the first poll and read back from the module."
family pxr5760 2 "TA5.0.0 HB5.0.1 KT5.0.2 AD5.1.0.3 DI5.2.0.1 DO5.2.0.4" "DO5.2.0.4=1" \
  "A write shares the module's 2-second gate: tarvo-poll waits until the new" \
  "object's gate opens, the write uses it, and the first poll may show code 23."

say "An honest failure: code 23, and the bytes on the wire"
note "A pxr5100 module answers one block read every 2 seconds, for one channel." \
  "TA1.1.0 sits on channel 1 of module 1; channel 0 had the module's block read" \
  "of this poll, so the driver refuses channel 1 with code 23 and sends nothing." \
  "The exit status is 1: an item failed on the last poll."
show 1 tarvo-poll -p "$link" -n 2 --trace pxr5100 TA1.0.0 TA1.1.0

say "JSON lines, one object per item per poll (-f csv gives CSV)"
note "The first poll of a new driver object may show code 23 too: its module's" \
  "gate opens 2 whole seconds after the object was created, and discovering" \
  "the sensors takes about 1.6 s of that."
show 0 tarvo-poll -p "$link" -n 2 -f json pxr5100 TA1.0.0 WB1.0.2

say "What the simulator saw (pxrsim -v), the last exchange"
awk '/^[0-9]/ { last = "" } { last = last $0 "\n" } END { printf "%s", last }' "$work/pxrsim.log"

stop_pxrsim || failed "pxrsim did not stop cleanly"
[[ ! -e "$link" ]] || failed "pxrsim left its link $link"
say "Done: pxrsim stopped and removed its link."
