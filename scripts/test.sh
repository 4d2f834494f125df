#!/usr/bin/env bash
# Builds every preset and runs every test this machine can run (what CI runs):
# - the native suites of each native preset (g++, with ASan/UBSan, and the
#   clang-14 fuzz targets replaying their seed corpora);
# - under Wine, the Windows suites (client suites, the window and end-to-end
#   scenarios of both launchers) of the flavour that runs here, as
#   scripts/wine.sh decides and says: the i686 product (win32) where 32-bit
#   programs execute, the x86_64 flavour (win64) otherwise;
# - where the product runs, the x86_64 client suites too; where it cannot,
#   a static check of the product's executables instead.
# The format of every C++ file is checked first (scripts/check-format.sh).
# KESTRIN_WINE64=1 takes the 64-bit path anywhere; KESTRIN_DRY_RUN=1 only says
# what would be built and run here.
set -uo pipefail
cd "$(dirname "$0")/.."
# A dry run installs nothing.
[ -n "${KESTRIN_DRY_RUN:-}" ] || scripts/deps.sh || exit 1
# shellcheck source=wine.sh
source scripts/wine.sh

# Built and tested in full on every machine.
native_presets=(native asan fuzz)
# Built on every machine; what of them is run depends on the machine.
windows_presets=(win32 win64)

if ! wine_decide; then
  echo "test.sh: no Windows program can run here: $KESTRIN_WINE_WHY"
  exit 1
fi

# The test runs, one "PRESET|WHAT|CTEST ARGS" each, in order.
runs=()
for preset in "${native_presets[@]}"; do
  runs+=("$preset|all|")
done
if [ "$KESTRIN_FLAVOUR" = win32 ]; then
  runs+=("win32|the product under Wine: all|")
  runs+=("win64|second flavour under Wine: client suites|-L gtest")
else
  runs+=("win64|second flavour under Wine: all|")
  runs+=("win32|the product cannot run here: static check of its executables|-L static")
fi

echo "=== $(wine_which)"
# KESTRIN_DRY_RUN=1: only say what would be built and run.
if [ -n "${KESTRIN_DRY_RUN:-}" ]; then
  echo "would check: the format of every C++ file (scripts/check-format.sh)"
  echo "would build: ${native_presets[*]} ${windows_presets[*]}"
  for run in "${runs[@]}"; do
    IFS='|' read -r preset what args <<<"$run"
    echo "would run: ctest --preset $preset${args:+ $args} ($what)"
  done
  exit 0
fi

jobs=$(scripts/jobs.sh)
status=0
build_failed=0
started=$SECONDS
echo "=== format"
scripts/check-format.sh || status=1
for preset in "${native_presets[@]}" "${windows_presets[@]}"; do
  echo "=== build: $preset"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    echo "build $preset FAILED"
    build_failed=1
  fi
done
[ $build_failed -eq 0 ] || exit 1
echo "=== builds took $((SECONDS - started)) s"

for run in "${runs[@]}"; do
  IFS='|' read -r preset what args <<<"$run"
  from=$SECONDS
  echo "=== tests: $preset ($what)"
  # shellcheck disable=SC2086
  ctest --preset "$preset" $args || status=1
  echo "=== tests: $preset took $((SECONDS - from)) s"
done

# Leave no Wine process of the build trees' prefixes behind.
for preset in "${windows_presets[@]}"; do
  for prefix in build/$preset/wine/prefix build/$preset/e2e/prefix build/$preset/demo/prefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" kestrin_wineserver -k 2>/dev/null || true
  done
done
echo "=== test.sh: $([ $status -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s ($(wine_which))"
exit $status
