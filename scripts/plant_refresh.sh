#!/usr/bin/env bash
# The time tarvo-poll takes to refresh every item of the built-in plant once
# (scripts/builtin_plant.json), against the protocol's limit, over pxrsim
# pacing its answers at BAUD (default 9600). Run by hand; the figures are in
# docs/performance.md.
#
# The limit: the line carries one exchange at a time, and the pxr530x waits
# 10 s before its block read; the pxr5100 module needs two gates (two
# channels) and the pxr5760 two (its write, then its reads), the second of
# each 2 s after the first, well within those 10 s. So no schedule ends
# before the gates first open (the whole second 2 s after the objects were
# made), plus the 10 s wait, plus the wire time of every byte sent and
# received (10 bits per byte at 8N1).
# Usage: scripts/plant_refresh.sh BUILD_DIR [BAUD] [RUNS]
set -euo pipefail

build=$(realpath "${1:?usage: scripts/plant_refresh.sh BUILD_DIR [BAUD] [RUNS]}")
baud=${2:-9600}
runs=${3:-3}
plant="$(cd "$(dirname "$0")" && pwd)/builtin_plant.json"
export TARVO_LIBRARY="$build/src/libtarvo.so"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-refresh.XXXXXX")
sim_pid=
cleanup() {
  [[ -n "$sim_pid" ]] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/pxrsim" --baud "$baud" --link "$work/pxr" > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -L "$work/pxr" ]] && break; sleep 0.05; done

printf '%-4s %10s %10s %10s %8s %6s\n' run measured limit wire bytes ratio
for run in $(seq "$runs"); do
  start=$(date +%s.%N)
  "$build/tools/tarvo-poll" -p "$work/pxr" -b "$baud" -1 -f json --trace --plant "$plant" \
    > "$work/out" 2> "$work/trace"
  end=$(date +%s.%N)
  if grep -q '"ok":false' "$work/out"; then echo "run $run: an item was not read" >&2; exit 1; fi
  # Trace lines: "HH:MM:SS.mmm Label        COUNT  hex...": every byte on the wire.
  bytes=$(awk '/^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9]+ / { n += substr($0, 27, 4) } END { print n + 0 }' \
    "$work/trace")
  awk -v run="$run" -v start="$start" -v end="$end" -v bytes="$bytes" -v baud="$baud" 'BEGIN {
    gate = int(start) + 2 - start          # the first gate opens this long after the start
    wire = bytes * 10 / baud
    limit = gate + 10 + wire
    printf "%-4s %9.2fs %9.2fs %9.2fs %8d %6.2f\n", run, end - start, limit, wire, bytes, (end - start) / limit
  }'
  sleep 2
done
