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
# (its messages to stderr in line with its output), checks its exit status
# and that it printed no warning: the demo's own choices must fit.
show() {
  local expected=$1 status=0
  shift
  printf '$ %s\n' "$*"
  "$@" > "$work/shown" 2>&1 || status=$?
  cat "$work/shown"
  [[ $status -eq $expected ]] || failed "'$*' exited with $status, expected $expected"
  if grep -q 'warning:' "$work/shown"; then failed "'$*' printed a warning"; fi
}

say "pxrsim: the built-in plant on a new pseudo-terminal, answering at 19200 baud"
printf '$ pxrsim -v -b 19200 --link %s &\n' "$link"
start_pxrsim "$link" "$work/pxrsim.log" -v -b 19200 || failed "pxrsim made no link $link"
sed -n '/^pxrsim:/p' "$work/pxrsim.log"
for family in pxr5100 pxr5303 pxr530x pxr5700 pxr5760; do
  tarvo-poll --list "$family" >/dev/null 2>&1 && pxrsim --families | grep -q "^$family " ||
    failed "$family is missing from the library or the simulator"
done

say "tarvo-poll --list: the classes, and the registers one driver object hands out"
show 0 tarvo-poll --list
show 0 tarvo-poll --list pxr5100

say "The whole plant in one run, from a plant file"
note "One driver object per class: the first opens the line, the others adopt its" \
  "handle. Each poll reads every item once: a gated module's block read goes to" \
  "the items that waited longest, so TA1.1.0 (channel 1 of the pxr5100 module)" \
  "is read 2 s after channel 0 (see AGE). The pxr530x waits 10 s before its" \
  "block read; the outputs are written first."
plant="$(dirname "$0")/builtin_plant.json"  # every item of the built-in plant
printf '$ cat builtin_plant.json   # items per class, with names and units\n'
cat "$plant"
show 0 tarvo-poll -p "$link" -b 19200 --plant "$plant" -n 2
grep -q 'waiting' "$work/shown" && failed "an item was left waiting"
grep -q 'TA1.1.0 .* OK$' "$work/shown" || failed "TA1.1.0 was not read"

say "A poll means a value: -1 from cron logs every item"
note "Items on two channels of one pxr5100 module: the one-shot poll waits for the" \
  "module's gate twice; time and age show the 2 s between them."
show 0 tarvo-poll -p "$link" -b 19200 -1 -f csv pxr5100 TA1.0.0 TA1.1.0

say "A typo never reads another sensor"
note "The driver reads TA1.0.0.5 as TA1.0.0; tarvo-poll refuses it before it opens" \
  "the port (--lenient would accept it)."
show 2 tarvo-poll -p "$link" pxr5100 TA1.0.0.5 TA1.9.0

say "An honest failure: no sensor at point 9, and the bytes on the wire"
note "The module answered the block read for channel 0, but lists no point 9: the" \
  "driver says code 22. The exit status is 1: an item failed."
show 1 tarvo-poll -p "$link" -b 19200 -1 --trace pxr5100 TA1.0.9

say "JSON lines, one object per item per poll"
show 0 tarvo-poll -p "$link" -b 19200 -1 -f json pxr5303 TA2.0.0 WB2.1.0

say "What the simulator saw (pxrsim -v), the last exchange"
awk '/^[0-9]/ { last = "" } { last = last $0 "\n" } END { printf "%s", last }' "$work/pxrsim.log"

stop_pxrsim || failed "pxrsim did not stop cleanly"
[[ ! -e "$link" ]] || failed "pxrsim left its link $link"
say "Done: pxrsim stopped and removed its link."
