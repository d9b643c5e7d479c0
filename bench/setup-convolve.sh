#!/usr/bin/env bash
# Installs the peers of bench_convolve.py: ffmpeg (its afir filter) and fconvolver (from
# jconvolver). They serve the benchmark only; no module uses them. Idempotent.
set -euo pipefail

packages=(ffmpeg jconvolver python3-numpy time)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
