#!/usr/bin/env bash
# Builds every preset and runs every test: native, ASan/UBSan, the Windows
# build under Wine, and every libFuzzer target for 20 seconds (preset fuzz,
# scripts/fuzz.sh; a target that no longer builds or finds something fails
# the run). Expects scripts/setup-deps.sh to have run.
#   scripts/test-all.sh [linux|linux-asan|mingw|fuzz ...]
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
((${#presets[@]})) || presets=(linux linux-asan mingw fuzz)

status=0
for preset in "${presets[@]}"; do
  echo "=== preset $preset ==="
  if [[ "$preset" == fuzz ]]; then
    # Builds the preset itself; 20 s per target.
    scripts/fuzz.sh 20 || status=1
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [[ "$preset" == mingw ]]; then
    # The installer too: its test installs it under Wine.
    cmake --build --preset "$preset" --target installer
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh "$PWD/build/mingw/wineprefix"
    wine_start
    ctest --preset "$preset" || status=1
    wine_stop
  else
    ctest --preset "$preset" || status=1
  fi
done
exit "$status"
