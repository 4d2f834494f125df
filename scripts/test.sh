#!/usr/bin/env bash
# Builds every preset and runs every test this machine can run (what CI runs):
# - the native suites of each native preset (g++, and with ASan/UBSan);
# - under Wine, the Windows suites (client suites, the window and end-to-end
#   scenarios of both launchers) of the flavour that runs here, as
#   scripts/wine.sh decides and says: the i686 product (win32) where 32-bit
#   programs execute, the x86_64 flavour (win64) otherwise;
# - where the product runs, the x86_64 client suites too; where it cannot,
#   a static check of the product's executables instead.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
# shellcheck source=wine.sh
source scripts/wine.sh

# Built and tested in full on every machine.
native_presets=(native asan)
# Built on every machine; what of them is run depends on the machine.
windows_presets=(win32 win64)

if ! wine_decide; then
  echo "test.sh: no Windows program can run here: $KESTRIN_WINE_WHY"
  exit 1
fi

jobs=${JOBS:-$(nproc)}
status=0
started=$SECONDS
for preset in "${native_presets[@]}" "${windows_presets[@]}"; do
  echo "=== build: $preset"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    echo "build $preset FAILED"
    status=1
  fi
done
[ $status -eq 0 ] || exit $status
echo "=== builds took $((SECONDS - started)) s"

# tests PRESET WHAT [CTEST ARGS...]
tests() {
  local preset=$1 what=$2 from=$SECONDS
  shift 2
  echo "=== tests: $preset ($what)"
  ctest --preset "$preset" "$@" || status=1
  echo "=== tests: $preset took $((SECONDS - from)) s"
}

for preset in "${native_presets[@]}"; do
  tests "$preset" "all"
done

echo "=== $(wine_which)"
if [ "$KESTRIN_FLAVOUR" = win32 ]; then
  tests win32 "the product under Wine: all"
  tests win64 "second flavour under Wine: client suites" -L gtest
else
  tests win64 "second flavour under Wine: all"
  tests win32 "the product cannot run here: static check of its executables" -L static
fi

# Leave no Wine process of the build trees' prefixes behind.
for preset in "${windows_presets[@]}"; do
  for prefix in build/$preset/wine/prefix build/$preset/e2e/prefix build/$preset/demo/prefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" kestrin_wineserver -k 2>/dev/null || true
  done
done
echo "=== test.sh: $([ $status -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s"
exit $status
