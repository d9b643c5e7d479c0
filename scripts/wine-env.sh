#!/usr/bin/env bash
# The Wine environment of the win32 tests.
#
#   source scripts/wine-env.sh          exports the environment below
#   scripts/wine-env.sh init            creates and initialises the prefix (idempotent)
#   scripts/wine-env.sh run CMD...      runs CMD in that environment, under a display
#   scripts/wine-env.sh session CMD...  runs CMD (a whole test run) with one Xvfb and one
#                                       persistent Wine server shared by every Wine step
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
  if [ -f "$WINEPREFIX/.tovrel-ready-2" ]; then
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
  # No window manager runs under Xvfb: Wine must not wait for one to map or withdraw windows.
  env -u DISPLAY timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  timeout 120 wineserver -w
  touch "$WINEPREFIX/.tovrel-ready-2"
}

# Runs a command with a display: the caller's, or a private Xvfb started for it.
tovrel_wine_run() {
  if [ -n "${DISPLAY:-}" ]; then
    timeout -k 10 "$TOVREL_WINE_TIMEOUT" "$@"
  else
    timeout -k 10 "$TOVREL_WINE_TIMEOUT" xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
  fi
}

# A display and a running Wine server for everything CMD starts, removed afterwards.
# Without it each Wine step brings up its own X server and Wine server (seconds each).
tovrel_wine_session() {
  tovrel_wine_init || return 1
  local xvfb_pid="" display_file=""
  if [ -z "${DISPLAY:-}" ]; then
    display_file="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    local i
    for i in $(seq 100); do
      [ -s "$display_file" ] && break
      sleep 0.1
    done
    if [ ! -s "$display_file" ]; then
      echo "Xvfb did not start" >&2
      kill "$xvfb_pid" 2>/dev/null
      return 1
    fi
    export DISPLAY=":$(tr -d '[:space:]' <"$display_file")"
    rm -f "$display_file"
  fi
  # Started here with no inherited output, so that no Wine service holds the pipes of a
  # test runner open.
  wineserver -p </dev/null >/dev/null 2>&1
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  local rc=0
  "$@" || rc=$?
  timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  return "$rc"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    init) tovrel_wine_init ;;
    run) shift; tovrel_wine_run "$@" ;;
    session) shift; tovrel_wine_session "$@" ;;
    *) echo "usage: $0 init | run CMD... | session CMD..." >&2; exit 2 ;;
  esac
fi
