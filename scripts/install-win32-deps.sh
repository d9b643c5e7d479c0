#!/usr/bin/env bash
# Installs what the win32 target needs: the i686 mingw-w64 toolchain, 32-bit Wine and Xvfb,
# then initialises the Wine prefix used by the tests (see scripts/wine-env.sh).
# Idempotent: packages already present are left as they are, an existing prefix is kept.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

packages=(
  mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  # X extensions of 32-bit Wine (clipboard through XFixes, display, input, cursors)
  libxfixes3:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxinerama1:i386 libxcomposite1:i386 libxxf86vm1:i386
  # wave output of 32-bit Wine (its ALSA driver)
  libasound2:i386
  xvfb xauth
)

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# One Wine prefix for every test, initialised here so that no test waits for its creation.
"$here/wine-env.sh" init
