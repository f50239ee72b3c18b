#!/usr/bin/env bash
# Builds the Linux front end (if needed) and runs it.
#   scripts/run.sh                      `tavlo run`: watch the configured accounts
#   scripts/run.sh --demo               the same against a private Dovecot with a demo
#                                       mailbox (root; everything is removed on exit)
#   scripts/run.sh check | accounts ... other commands, see `scripts/run.sh --help`
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tavlo="$root/build/linux/tavlo"
if [[ ! -x "$tavlo" ]] || [[ -n "$(find "$root" -path "$root/build" -prune -o \
      \( -name '*.cpp' -o -name '*.h' -o -name 'CMakeLists.txt' \) -newer "$tavlo" -print -quit)" ]]; then
  (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target tavlo >/dev/null)
fi

if [[ "${1:-}" != "--demo" ]]; then
  (($#)) || set -- run
  exec "$tavlo" "$@"
fi
(($# == 1)) || { echo "usage: scripts/run.sh --demo" >&2; exit 2; }

# --- The demo ----------------------------------------------------------------
# A private Dovecot on loopback with the user "demo" and three messages, a data
# folder with one account for it, then `tavlo run`: the first check, 5.3 s
# after start, announces the mail. The account uses POP3 over TLS, trusting
# the test CA through SSL_CERT_FILE: the verified path every real account
# takes. The check interval is one minute, so mail delivered meanwhile is
# announced soon.
source "$root/scripts/demo-server.sh"
trap demo_stop EXIT
demo_start scripts/run.sh

export TAVLO_HOME="$demo/home"
# The autostart entry of the demo's run stays in the demo folder too.
export XDG_CONFIG_HOME="$demo/config"
export SSL_CERT_FILE="$root/tests/data/tls/ca.crt"
echo demo-secret | "$tavlo" accounts add --name Demo --server "localhost:$demo_pop3s" --user demo --ssl
# Check every minute (index 0) and leave the log-on autostart alone.
cat >>"$TAVLO_HOME/settings.reg" <<'EOF'

[HKEY_CURRENT_USER\Software\Tavlo\tavlo\App]
"SearchForMail"=dword:00000000
"Autostart"=dword:00000000
EOF

cat <<EOF
Tavlo demo: Dovecot on 127.0.0.1:$demo_pop3s (POP3 over TLS), user "demo" with 3 messages,
data folder $TAVLO_HOME. The first check runs 5.3 s after start, then every minute.
Ctrl-C ends the demo; Dovecot is stopped and $demo removed.
EOF
demo_hint
echo

# In the background, so that a SIGTERM to this script can be passed on; a
# Ctrl-C reaches tavlo directly (same process group).
"$tavlo" run &
pid=$!
trap ':' INT
trap 'kill -TERM "$pid" 2>/dev/null || true' TERM
status=0
while kill -0 "$pid" 2>/dev/null; do
  wait "$pid" && status=0 || status=$?
done
exit "$status"
