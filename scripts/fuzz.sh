#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target (build/fuzz/fuzz_*)
# for SECONDS each (default 60), one after the other, from a copy of its seed
# corpus tests/fuzz/corpus/<name>/ (the repository's corpus stays as it is).
# A crash, a sanitizer report, a broken property, an input slower than
# -timeout or a memory blow-up is a finding: the run goes on with the other
# targets, then the script fails. Findings are kept in
# build/fuzz/findings/<name>/; each target's last statistics line is printed.
#
#   scripts/fuzz.sh [SECONDS]
#
# Per target, tests/fuzz/<name>.options may hold more libFuzzer flags (one
# or more a line; a later -max_len replaces the default) and
# tests/fuzz/<name>.dict is used as its dictionary. Inputs of fixed findings
# that are too large or too slow to mutate well live in
# tests/fuzz/regressions/<name>/: each is run once, under the same
# -timeout, before the target fuzzes.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${1:-60}"
[[ "$SECONDS_PER_TARGET" =~ ^[1-9][0-9]*$ ]] || {
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
}
# An input that takes longer than this (under the sanitizers) is a finding:
# parsers must stay linear in their input.
TIMEOUT_SECONDS=10
DEFAULT_MAX_LEN=65536

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

BUILD=build/fuzz
RUN="$BUILD/run"
FINDINGS="$BUILD/findings"
rm -rf "$RUN"
mkdir -p "$RUN" "$FINDINGS"

shopt -s nullglob
targets=()
for exe in "$BUILD"/fuzz_*; do
  [[ -f "$exe" && -x "$exe" ]] && targets+=("$(basename "$exe")")
done
status=0
# A corpus without its target means the target is gone or no longer builds.
for corpus in tests/fuzz/corpus/*/; do
  name="$(basename "$corpus")"
  if [[ ! -x "$BUILD/fuzz_$name" ]]; then
    echo "fuzz: corpus $corpus has no target fuzz_$name" >&2
    status=1
  fi
done
((${#targets[@]})) || {
  echo "fuzz: no targets in $BUILD" >&2
  exit 1
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  work="$RUN/$name"
  mkdir -p "$work/corpus" "$FINDINGS/$name"
  if [[ -d "tests/fuzz/corpus/$name" ]]; then
    cp -R "tests/fuzz/corpus/$name/." "$work/corpus/"
  else
    echo "fuzz: $target has no seed corpus (tests/fuzz/corpus/$name)" >&2
  fi
  flags=(-max_len="$DEFAULT_MAX_LEN" -timeout="$TIMEOUT_SECONDS"
         -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1
         -artifact_prefix="$FINDINGS/$name/")
  if [[ -f "tests/fuzz/$name.options" ]]; then
    # shellcheck disable=SC2207
    flags+=($(grep -v '^[[:space:]]*#' "tests/fuzz/$name.options"))
  fi
  [[ -f "tests/fuzz/$name.dict" ]] && flags+=(-dict="tests/fuzz/$name.dict")

  echo "=== $target: ${SECONDS_PER_TARGET}s ==="
  log="$work/log"
  result=ok
  regressions=(tests/fuzz/regressions/"$name"/*)
  if ((${#regressions[@]})) &&
    ! "$BUILD/$target" -runs=1 -timeout="$TIMEOUT_SECONDS" \
      -artifact_prefix="$FINDINGS/$name/" "${regressions[@]}" >"$work/regressions.log" 2>&1; then
    echo "--- $target: a regression input fails again (log $work/regressions.log)"
    result=FINDING
  fi
  if ! "$BUILD/$target" "${flags[@]}" "$work/corpus" >"$log" 2>&1; then
    result=FINDING
  fi
  [[ $result == ok ]] || status=1
  # The last progress line (executions, coverage) and the final statistics.
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  if [[ $result == FINDING ]]; then
    echo "--- $target: finding (log $log, inputs in $FINDINGS/$name/):"
    grep -E 'ERROR|SUMMARY|runtime error|timeout|Test unit written' "$log" | head -n 20 || true
  fi
  echo "$target: $result"
done
exit "$status"
