#!/usr/bin/env bash
# tarvo-gateway's Modbus figures of docs/performance.md: pxrsim --baud 9600
# serves its built-in plant on a paced pty, tarvo-gateway polls it (the
# classes of scripts/builtin_plant.json on one line, no broker, no HTTP)
# and serves it over Modbus TCP on a port of 127.0.0.1, and
# tarvo-modbus-load's clients read input registers 0 to 99 of unit 1 at a
# steady rate, timing each answer, while the line polls. Not run by make test.
#   scripts/modbus_bench.sh BUILD_DIR [CLIENTS [PER_SECOND [SECONDS]]]
set -euo pipefail
build=$(cd "$1" && pwd)
clients=${2:-8}
rate=${3:-10}
seconds=${4:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
port=$((20000 + RANDOM % 20000))
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

"$build/tools/pxrsim" --baud 9600 --link "$work/line" >"$work/pxrsim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e "$work/line" ]] && break; sleep 0.1; done
python3 - "$top/scripts/builtin_plant.json" "$work/line" "$port" >"$work/plant.json" <<'PY'
import json, sys
classes = json.load(open(sys.argv[1]))["classes"]
print(json.dumps({"http": False, "modbus": {"port": int(sys.argv[3])},
                  "lines": [{"line": "plant", "port": sys.argv[2], "classes": classes}]}))
PY
"$build/tools/tarvo-gateway" "$work/plant.json" 2>"$work/gateway.log" &
gateway=$!
pids+=("$gateway")
# The first values read (the pxr530x's block read waits 10 s).
sleep 15
grep -q "Modbus TCP on" "$work/gateway.log" || { cat "$work/gateway.log"; exit 1; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/tests/bench/tarvo-modbus-load" "$port" "$clients" 100 "$rate" "$seconds" "$gateway"
