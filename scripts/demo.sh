#!/usr/bin/env bash
# Sets up a fresh machine, builds tovrel and runs its demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
build/native/cli/tovrel demo "$@"
