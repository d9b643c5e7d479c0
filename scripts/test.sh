#!/usr/bin/env bash
# Sets up a fresh machine, builds tovrel and runs every test: the native suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the host's tests under
# ThreadSanitizer, the win32 DLLs under Wine, and a short run of the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -LE wine -j2

echo "== win32 DLLs under Wine"
bash scripts/test-win32.sh

echo "== fuzz targets, a short run"
bash scripts/fuzz-short.sh 60

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -LE wine -j2

echo "== ThreadSanitizer: the host's tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j2
