#!/usr/bin/env bash
# Line coverage of the library's sources reached by the fuzzers' corpora:
# builds the fuzzers with clang's source-based coverage in build/fuzz-coverage,
# runs each once over its seeds and over what `make fuzz` found
# (build/fuzz/corpus/<target>), and prints llvm-cov's report per file of src/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/fuzz-coverage"
found="$root/build/fuzz/corpus"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DTARVO_TESTS=OFF -DTARVO_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" > /dev/null
cmake --build "$build" --target fuzzers > /dev/null

rm -rf "$build/profiles"
mkdir -p "$build/profiles"
objects=()
for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  name=$(basename "$fuzzer")
  corpora=("$root/tests/fuzz/corpus/$name")
  [[ -d "$found/$name" ]] && corpora+=("$found/$name")
  LLVM_PROFILE_FILE="$build/profiles/$name.profraw" "$fuzzer" -runs=0 "${corpora[@]}" \
    > "$build/profiles/$name.log" 2>&1
  if ((${#objects[@]} == 0)); then objects=("$fuzzer"); else objects+=(-object "$fuzzer"); fi
done
llvm-profdata merge -sparse "$build"/profiles/*.profraw -o "$build/profiles/all.profdata"
llvm-cov report "${objects[@]}" -instr-profile="$build/profiles/all.profdata" \
  "$root/src/driver" "$root/src/serial" "$root/src/sensors" "$root/src/pxr5100" \
  "$root/src/pxr530x" "$root/src/pxr5700" "$root/src/pxr5760"
