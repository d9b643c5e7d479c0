#!/usr/bin/env bash
# A short run of every fuzz target (clang, libFuzzer) over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_tim fuzz_state
mkdir -p build/fuzz/corpus/tim build/fuzz/corpus/state
build/fuzz/fuzz/fuzz_tim -max_total_time="$seconds" -max_len=4096 -artifact_prefix=build/fuzz/ \
  build/fuzz/corpus/tim fuzz/corpus/tim
build/fuzz/fuzz/fuzz_state -max_total_time="$seconds" -max_len=4096 -artifact_prefix=build/fuzz/ \
  build/fuzz/corpus/state fuzz/corpus/state
