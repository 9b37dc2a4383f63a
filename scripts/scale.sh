#!/usr/bin/env bash
# A line of generated pxr5100 plants (scripts/generate_plant.py): 8, 32 and
# 128 modules of 8 channels of 64 points, TA of every point, served by
# pxrsim pacing its answers at each baud rate. For each: tarvo-poll -1,
# tarvo-gateway --once, and tarvo-gateway publishing to a mosquitto of its
# own for 3 polls (then its /metrics scraped once). Prints one row per run:
# items, wall, protocol limit, ratio, CPU (user+sys), peak RSS, messages per
# second, the simulator's CPU; the load average beside them. Figures in
# docs/performance.md ("A full line").
#
# The protocol limit of one poll: the larger of the gates (a module's 8
# block reads 2 whole seconds apart after its first gate, which opens 2 s
# after the object is made: 16 s) and the wire time at 10 bits per byte of
# every byte of the block reads (a 5-byte command, an answer of 5 + 4 per
# point) and, on the first poll, of the scans (per channel a 5-byte
# question, an answer of 6 + 1 per point). Polls after the first wait the
# gateway's pause (2 s) first.
# Usage: scripts/scale.sh BUILD_DIR   (BAUDS="115200 9600" MODULES="8 32 128")
set -euo pipefail

build=$(realpath "${1:?usage: scripts/scale.sh BUILD_DIR}")
here="$(cd "$(dirname "$0")" && pwd)"
bauds=${BAUDS:-115200 9600}
sizes=${MODULES:-8 32 128}
channels=8
points=64
polls=3
export TARVO_LIBRARY="$build/src/libtarvo.so"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-scale.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# The CPU seconds (user + system) a running process has used.
cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }
# wall user sys maxrss_kib, as /usr/bin/time -f wrote them.
timed() { local out=$1; shift; /usr/bin/time -f '%e %U %S %M' -o "$out" "$@"; }

broker_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n' \
  "$broker_port" > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" > "$work/mosquitto.log" 2>&1 &
pids+=($!)
sleep 0.5

printf '%-26s %6s %8s %8s %6s %8s %9s %8s %8s %8s\n' run items wall limit ratio cpu rss_mib \
  msg/s sim_cpu load
row() {  # name items wall limit cpu rss_kib messages sim_cpu
  awk -v name="$1" -v items="$2" -v wall="$3" -v limit="$4" -v cpu="$5" -v rss="$6" -v msgs="$7" \
    -v sim="$8" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
    printf "%-26s %6d %7.2fs %7.2fs %6.2f %7.2fs %9.1f %8.0f %7.2fs %8s\n",
      name, items, wall, limit, wall / limit, cpu, rss / 1024, msgs / wall, sim, load }'
}

for baud in $bauds; do
  for modules in $sizes; do
    items=$((modules * channels * points))
    dir="$work/$modules-$baud"
    link="$dir/pxr"
    http_port=$(free_port)
    python3 "$here/generate_plant.py" "pxr5100:$modules:${channels}x$points" "$dir" --port "$link" \
      --baud "$baud" --broker-port "$broker_port" --http-port "$http_port" \
      2> /dev/null
    # One poll's limit: first (with the scans) and later ones.
    read -r first later < <(awk -v m="$modules" -v c="$channels" -v p="$points" -v baud="$baud" 'BEGIN {
      blocks = m * c * (5 + 5 + 4 * p); scans = m * c * (5 + 6 + p)
      first = (blocks + scans) * 10 / baud; later = blocks * 10 / baud
      print (first > 16 ? first : 16), (later > 16 ? later : 16) }')
    "$build/tools/pxrsim" --plant "$dir/sim.json" --link "$link" --baud "$baud" > "$dir/sim.log" 2>&1 &
    sim=$!
    pids+=($sim)
    for _ in $(seq 600); do [[ -L "$link" ]] && break; sleep 0.05; done
    [[ -L "$link" ]] || { echo "pxrsim did not start: $(cat "$dir/sim.log")" >&2; exit 1; }
    sim_before=$(cpu_of "$sim")

    timed "$dir/time" "$build/tools/tarvo-poll" -p "$link" -b "$baud" -1 -f json \
      --plant "$dir/poll.json" > "$dir/poll.out" || true
    read -r wall user sys rss < <(tail -n1 "$dir/time")
    read_ok=$(grep -o '"ok":true' "$dir/poll.out" | wc -l)
    [[ "$read_ok" == "$items" ]] || echo "tarvo-poll: $read_ok of $items items read" >&2
    sim_now=$(cpu_of "$sim")
    row "tarvo-poll -1 $modules@$baud" "$items" "$wall" "$first" "$(echo "$user + $sys" | bc)" \
      "$rss" "$items" "$(echo "$sim_now - $sim_before" | bc)"
    sleep 2

    sim_before=$(cpu_of "$sim")
    timed "$dir/time" "$build/tools/tarvo-gateway" --once "$dir/gateway.json" > "$dir/once.out" \
      2> "$dir/once.log" || true
    read -r wall user sys rss < <(tail -n1 "$dir/time")
    values=$(grep -c '"value":' "$dir/once.out" || true)
    [[ "$values" == "$items" ]] || echo "tarvo-gateway --once: $values of $items values" >&2
    sim_now=$(cpu_of "$sim")
    row "gateway --once $modules@$baud" "$items" "$wall" "$first" "$(echo "$user + $sys" | bc)" \
      "$rss" "$items" "$(echo "$sim_now - $sim_before" | bc)"
    sleep 2

    # Publishing: the item messages of 3 polls counted by a subscriber (-R:
    # not the retained ones the broker keeps of an earlier run's items).
    sim_before=$(cpu_of "$sim")
    mosquitto_sub -R -h 127.0.0.1 -p "$broker_port" -t "tarvo/line/+" -q 0 -C $((polls * items)) \
      > /dev/null &
    sub=$!
    sleep 0.5
    start=$(date +%s.%N)
    /usr/bin/time -f '%e %U %S %M' -o "$dir/time" "$build/tools/tarvo-gateway" "$dir/gateway.json" \
      > "$dir/gateway.log" 2>&1 &
    timer=$!
    sleep 0.2
    gateway=$(pgrep -P "$timer")  # time's child
    pids+=($gateway)
    wait "$sub" || true
    end=$(date +%s.%N)
    metrics=$(curl -s -o "$dir/metrics" -w '%{time_total} %{size_download}' \
      "http://127.0.0.1:$http_port/metrics")
    sim_now=$(cpu_of "$sim")
    kill -TERM "$gateway"
    wait "$timer" || true
    read -r _ user sys rss < <(tail -n1 "$dir/time")
    limit=$(echo "$first + ($polls - 1) * (2 + $later)" | bc)
    row "gateway $polls polls $modules@$baud" "$((polls * items))" "$(echo "$end - $start" | bc)" \
      "$limit" "$(echo "$user + $sys" | bc)" "$rss" "$((polls * items))" \
      "$(echo "$sim_now - $sim_before" | bc)"
    read -r scrape size <<< "$metrics"
    echo "  /metrics of $items items: ${scrape} s, $size bytes"
    kill "$sim"
    wait "$sim" 2>/dev/null || true
  done
done
