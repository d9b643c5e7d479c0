#!/usr/bin/env bash
# Installs every Debian package the native build, its tests and benchmarks need.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libcli11-dev
  libcairo2-dev fonts-dejavu-core libexpat1-dev
  libfftw3-dev
  libasound2-dev
  clang libclang-rt-14-dev
  python3-numpy python3-scipy
  chromium  # the report test renders its page headless
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
