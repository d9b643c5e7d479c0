#!/usr/bin/env bash
# The Wine environment of the win32 tests.
#
#   source scripts/wine-env.sh          exports the environment below
#   scripts/wine-env.sh init            creates and initialises the prefix (idempotent)
#   scripts/wine-env.sh run CMD...      runs CMD in that environment, under a display
#
# One 32-bit prefix, initialised once up front so that no test pays for (or races on) its
# creation; no Mono/Gecko installer prompt, no debug noise, no crash dialog. Every Wine step
# runs under a timeout.

export WINEPREFIX="${TOVREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tovrel/wine32}"
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
: "${TOVREL_WINE_TIMEOUT:=120}"
export TOVREL_WINE_TIMEOUT

tovrel_wine_init() {
  if [ -f "$WINEPREFIX/.tovrel-ready" ]; then
    return 0
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  # No display is needed to create the prefix.
  env -u DISPLAY timeout 300 wineboot --init >/dev/null 2>&1 || { echo "wineboot --init failed" >&2; return 1; }
  timeout 120 wineserver -w
  # A crashing program ends with its exit code instead of waiting on a dialog.
  env -u DISPLAY timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  env -u DISPLAY timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
  env -u DISPLAY timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d "" /f >/dev/null 2>&1
  timeout 120 wineserver -w
  touch "$WINEPREFIX/.tovrel-ready"
}

# Runs a command with a display: the caller's, or a private Xvfb started for it.
tovrel_wine_run() {
  if [ -n "${DISPLAY:-}" ]; then
    timeout -k 10 "$TOVREL_WINE_TIMEOUT" "$@"
  else
    timeout -k 10 "$TOVREL_WINE_TIMEOUT" xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    init) tovrel_wine_init ;;
    run) shift; tovrel_wine_run "$@" ;;
    *) echo "usage: $0 init | run CMD..." >&2; exit 2 ;;
  esac
fi
