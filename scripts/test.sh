#!/usr/bin/env bash
# Sets up a fresh machine, builds tovrel and runs every test: the native suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the win32
# DLLs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -LE wine -j2

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -LE wine -j2

if [ -f scripts/test-win32.sh ]; then
  echo "== win32 DLLs under Wine"
  bash scripts/test-win32.sh
fi
