#!/usr/bin/env bash
# Builds both toolchains (native g++, native with ASan/UBSan, mingw-w64 i686)
# and runs every test: the native suites, then the Windows build under Wine
# (unit suites and the end-to-end scenarios of both launchers).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

jobs=${JOBS:-$(nproc)}
status=0
for preset in native asan win32; do
  echo "=== build: $preset"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    echo "build $preset FAILED"
    status=1
  fi
done
[ $status -eq 0 ] || exit $status

for preset in native asan win32; do
  echo "=== tests: $preset"
  ctest --preset "$preset" || status=1
done

# Leave no Wine process of the build tree's prefixes behind.
for prefix in build/win32/wine/prefix build/win32/e2e/prefix build/win32/demo/prefix; do
  [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
done
exit $status
