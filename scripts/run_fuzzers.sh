#!/usr/bin/env bash
# Runs every fuzzer built in BUILD_DIR for SECONDS each, starting from its
# seed corpus, as many at a time as the machine has cores; fails when any
# of them finds a crash, leak or sanitizer report.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
parallel=$(nproc)
failures="$build/failures"
rm -rf "$failures"
mkdir -p "$failures" "$build/artifacts"

# run NAME: one fuzzer; its summary (and on failure its log's end) is
# printed in one piece so that parallel runs do not interleave.
run() {
  local fuzzer=$1 name
  name=$(basename "$fuzzer")
  local corpus="$build/corpus/$name" log="$build/$name.log"
  mkdir -p "$corpus"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$name-" "$corpus" "$root/tests/fuzz/corpus/$name" \
      > "$log" 2>&1; then
    echo "fuzz $name: $(grep -E 'DONE' "$log" | tail -1)"
  else
    touch "$failures/$name"
    printf 'fuzz %s: FAILED (see %s)\n%s\n' "$name" "$log" "$(tail -30 "$log")"
  fi
}

for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  run "$fuzzer" &
done
wait
[[ -z "$(ls -A "$failures")" ]]
