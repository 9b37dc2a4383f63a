#!/usr/bin/env bash
# Runs the benchmarks of a release build and prints a summary: medians of
# REPETITIONS runs (default 5) of each Google Benchmark, then the exchange
# and memory harnesses. Usage: scripts/bench.sh build/linux-release
set -euo pipefail
build=${1:?usage: scripts/bench.sh BUILD_DIR}
repetitions=${REPETITIONS:-5}
json=$(mktemp)
trap 'rm -f "$json"' EXIT

echo "== Google Benchmark (median of $repetitions runs; ns_per_read in ns) =="
"$build/tests/bench/tarvo_bench" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_out="$json" \
  --benchmark_out_format=json >/dev/null
python3 - "$json" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
for b in data["benchmarks"]:
    if b.get("aggregate_name") not in ("median", "BigO", "RMS"):
        continue
    name = b["name"]
    if b.get("aggregate_name") == "BigO":
        print(f"{name:55s} cpu {b['cpu_coefficient']:.3f} {b.get('time_unit','')} x N")
    elif b.get("aggregate_name") == "RMS":
        print(f"{name:55s} rms {100 * b['rms']:.1f} %")
    elif "ns_per_read" in b:
        print(f"{name:55s} {b['ns_per_read']:9.2f} ns per read")
    else:
        print(f"{name:55s} real {b['real_time']:10.3f} {b['time_unit']}  cpu {b['cpu_time']:10.3f} {b['time_unit']}")
PY
echo
echo "== Exchange over a pseudo-terminal (real time) =="
"$build/tests/bench/tarvo_exchange_overhead"
echo
echo "== Resident memory =="
"$build/tests/bench/tarvo_memory_usage"
