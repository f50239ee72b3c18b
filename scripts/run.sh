#!/usr/bin/env bash
# Builds the Linux front end (if needed) and runs it with the given
# arguments; without arguments it runs one check cycle.
#   scripts/run.sh                      one check of the configured accounts
#   scripts/run.sh accounts add ...     see `scripts/run.sh --help`
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [[ ! -x "$root/build/linux/tavlo" ]] || [[ -n "$(find "$root" -path "$root/build" -prune -o \
      \( -name '*.cpp' -o -name '*.h' -o -name 'CMakeLists.txt' \) -newer "$root/build/linux/tavlo" -print -quit)" ]]; then
  (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target tavlo >/dev/null)
fi
(($#)) || set -- check
exec "$root/build/linux/tavlo" "$@"
