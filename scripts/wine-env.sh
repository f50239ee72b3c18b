# Sourced by scripts that run Windows programs: a private Wine prefix under
# the build tree, no Mono/Gecko prompts, and a detached wineserver so that
# test runners are not held by Wine's helper processes.
#   source scripts/wine-env.sh [PREFIX]
export WINEPREFIX="${1:-${WINEPREFIX:-$PWD/build/wineprefix}}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
wine_start() {
  mkdir -p "$WINEPREFIX"
  setsid wineserver -p >/dev/null 2>&1 </dev/null &
  wine wineboot >/dev/null 2>&1 </dev/null || true
}
wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
