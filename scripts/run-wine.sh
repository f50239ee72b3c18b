#!/usr/bin/env bash
# Builds tavlo.exe (MinGW) and runs it under Wine.
#   scripts/run-wine.sh            the program on the prefix's own settings
#   scripts/run-wine.sh --demo     with the demo account of a private Dovecot (root)
# The Wine prefix is build/wine-run (WINEPREFIX overrides it). Without
# $DISPLAY the program runs on a virtual display (Xvfb); the script prints how
# to take a screenshot of it. Ctrl-C ends it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
with_demo=0
case "${1:-}" in
  "") ;;
  --demo) with_demo=1 ;;
  *) echo "usage: scripts/run-wine.sh [--demo]" >&2; exit 2 ;;
esac

deps="${TAVLO_DEPS:-/var/cache/tavlo-deps}/mingw64"
if ! compgen -G "$deps/.openssl-*" >/dev/null || ! command -v wine >/dev/null 2>&1; then
  "$root/scripts/setup-deps.sh"
fi
(cd "$root" && cmake --preset mingw >/dev/null && cmake --build --preset mingw --target tavlo >/dev/null)
exe="$root/build/mingw/tavlo.exe"

source "$root/scripts/wine-env.sh" "${WINEPREFIX:-$root/build/wine-run}"
source "$root/scripts/demo-server.sh"
reg_key='HKCU\Software\Tavlo\tavlo'
cleanup() {
  if ((with_demo)); then
    # The prefix stays; the demo account must not.
    wine reg delete "$reg_key\\User" /v Accounts /f >/dev/null 2>&1 || true
    wine reg delete "$reg_key\\App" /v SearchForMail /f >/dev/null 2>&1 || true
  fi
  wine_stop
  demo_stop
}
trap cleanup EXIT

if ((with_demo)); then
  demo_start scripts/run-wine.sh
fi
wine_start
# A desktop with a taskbar: the popup slides out above it, the icon sits in
# its notification area.
wine_use_desktop_shell 1024x768
if [[ -n "$TAVLO_XVFB_PID" ]]; then
  echo "tavlo.exe runs on the virtual display $DISPLAY; to see it:"
  echo "  import -window root -display $DISPLAY /tmp/tavlo-screen.png"
fi

if ((with_demo)); then
  # The account in the stored format, written by the Linux front end's own
  # store code and exported as a .reg file for the prefix's registry. Plain
  # POP3: tavlo.exe trusts the Windows certificate store, which does not hold
  # the test CA.
  (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target tavlo >/dev/null)
  tavlo="$root/build/linux/tavlo"
  echo demo-secret | TAVLO_HOME="$demo/home" "$tavlo" accounts add --name Demo \
    --server "127.0.0.1:$demo_pop3" --user demo
  TAVLO_HOME="$demo/home" "$tavlo" accounts export-reg --app tavlo >"$demo/demo.reg"
  wine regedit /S "$(winepath -w "$demo/demo.reg")" >/dev/null 2>&1
  # Check every minute (index 0).
  wine reg add "$reg_key\\App" /v SearchForMail /t REG_DWORD /d 0 /f >/dev/null 2>&1
  echo "Tavlo demo under Wine: Dovecot on 127.0.0.1:$demo_pop3 (POP3), user \"demo\" with 3 messages;"
  echo "the first check runs 5.3 s after start, then every minute."
  demo_hint
fi

echo "Ctrl-C ends tavlo.exe."
status=0
wine "$exe" || status=$?
exit "$status"
