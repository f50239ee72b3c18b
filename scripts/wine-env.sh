# Sourced by scripts that run Windows programs: a private Wine prefix under
# the build tree, no Mono/Gecko prompts, a detached wineserver so that test
# runners are not held by Wine's helper processes, and a virtual X display
# when there is none (window tests need one).
#   source scripts/wine-env.sh [PREFIX]; wine_start; ...; wine_stop
export WINEPREFIX="${1:-${WINEPREFIX:-$PWD/build/wineprefix}}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
TAVLO_XVFB_PID=""
wine_start() {
  if [[ -z "${DISPLAY:-}" ]] && command -v Xvfb >/dev/null 2>&1; then
    local n=90
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    TAVLO_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
  fi
  mkdir -p "$WINEPREFIX"
  setsid wineserver -p >/dev/null 2>&1 </dev/null &
  wine wineboot >/dev/null 2>&1 </dev/null || true
}
wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [[ -n "$TAVLO_XVFB_PID" ]]; then
    kill "$TAVLO_XVFB_PID" 2>/dev/null || true
    wait "$TAVLO_XVFB_PID" 2>/dev/null || true
    TAVLO_XVFB_PID=""
    unset DISPLAY
  fi
}
# Makes every program of the prefix run on one Wine desktop of the given size
# (default 1024x768) with a taskbar and a notification area, as a Windows
# user sees them; the wineserver is restarted so that the desktop is made
# anew with these settings. Call after wine_start.
wine_use_desktop_shell() {
  local size="${1:-1024x768}" key='HKCU\Software\Wine\Explorer'
  wine reg add "$key" /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add "$key\\Desktops" /v Default /d "$size" /f >/dev/null 2>&1
  wine reg add "$key\\Desktops\\Default" /v EnableShell /t REG_DWORD /d 1 /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  setsid wineserver -p >/dev/null 2>&1 </dev/null &
}
