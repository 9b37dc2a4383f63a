#!/usr/bin/env bash
# Runs every fuzzer built in BUILD_DIR for SECONDS each, starting from its
# seed corpus; fails on the first crash, leak or sanitizer report.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)

status=0
for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  name=$(basename "$fuzzer")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus" "$build/artifacts"
  log="$build/$name.log"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$name-" "$corpus" "$root/tests/fuzz/corpus/$name" \
      > "$log" 2>&1; then
    echo "fuzz $name: $(grep -E 'DONE' "$log" | tail -1)"
  else
    echo "fuzz $name: FAILED (see $log)"
    tail -30 "$log"
    status=1
  fi
done
exit $status
