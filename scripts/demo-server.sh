# Sourced by scripts/run.sh and scripts/run-wine.sh: the demo's private mail
# server. demo_start brings up a Dovecot below /tmp/tavlo-demo.* with the
# user "demo" (password demo-secret) and three messages from different
# senders, and sets demo, demo_pop3 and demo_pop3s (folder and ports);
# demo_stop stops it and removes the folder; demo_hint tells how to deliver
# more mail.
demo_harness=(python3 "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/dovecot_harness.py")
demo=""

demo_start() {
  if [[ "$(id -u)" != 0 ]]; then
    echo "$1: the demo starts a private Dovecot, which must run as root;" \
         "run it as root (sudo $1 --demo)." >&2
    exit 1
  fi
  if ! command -v dovecot >/dev/null 2>&1 && [[ ! -x /usr/sbin/dovecot ]]; then
    echo "$1: Dovecot is not installed; scripts/setup-deps.sh --native installs it." >&2
    exit 1
  fi
  demo="$(mktemp -d /tmp/tavlo-demo.XXXXXX)"
  chmod 755 "$demo" # Dovecot's mail processes (uid 5000) reach the mailbox below it
  "${demo_harness[@]}" start --dir "$demo/dovecot" >/dev/null
  "${demo_harness[@]}" add-user --dir "$demo/dovecot" --user demo --password demo-secret
  demo_deliver --from "Astrid Berg <astrid@example.test>" --subject "Lunch on Friday?"
  demo_deliver --from "Build robot <ci@builds.example.test>" --subject "Nightly build passed"
  demo_deliver --from "Olof <olof@example.org>" --subject "Photos from the trip"
  local ports
  ports="$(python3 -c 'import json,sys; p=json.load(open(sys.argv[1]))["ports"]; print(p["pop3"], p["pop3s"])' \
           "$demo/dovecot/env.json")"
  read -r demo_pop3 demo_pop3s <<<"$ports"
}

demo_deliver() {
  "${demo_harness[@]}" deliver --dir "$demo/dovecot" --user demo "$@" >/dev/null
}

demo_hint() {
  echo "More mail, from another terminal (announced by the next check):"
  echo "  ${demo_harness[*]} deliver --dir $demo/dovecot --user demo --from \"You <you@example.test>\" --subject Hello"
}

demo_stop() {
  [[ -n "$demo" ]] || return 0
  "${demo_harness[@]}" stop --dir "$demo/dovecot" >/dev/null 2>&1 || true
  rm -rf "$demo"
  demo=""
}
