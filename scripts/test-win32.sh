#!/usr/bin/env bash
# The win32 DLLs and the harness host, built with mingw-w64 and tested under Wine
# against the native build (which must have been built first).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-win32-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
bash scripts/wine-env.sh session ctest --preset wine
