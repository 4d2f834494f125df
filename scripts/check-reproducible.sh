#!/usr/bin/env bash
# check-reproducible.sh [TOOLCHAIN]: builds the committed tree (HEAD) twice in
# Release, each time from its own source and build folders (of different path
# lengths), and compares the shipped programs byte for byte. TOOLCHAIN is a
# CMake toolchain file, relative to the repository (default
# cmake/mingw-i686.cmake) or absolute. Uncommitted changes are not built.
# Exit status 0 when every program is identical in both builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=${1:-cmake/mingw-i686.cmake}
jobs=$("$root/scripts/jobs.sh")
programs="launcher/kestrin.exe launcher/kestrin_install.exe tools/httpget/httpget.exe"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrin-repro.XXXXXX")
keep=0
trap '[ $keep -eq 1 ] || rm -rf "$work"' EXIT

build() {  # build NAME: one source copy and one build folder under $work/NAME
  local src=$work/$1/source build=$work/$1/build-$1 tc=$toolchain
  mkdir -p "$src"
  git -C "$root" archive HEAD | tar -x -C "$src"
  case $tc in /*) ;; *) tc=$src/$tc ;; esac
  echo "=== build in $work/$1"
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
        -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target kestrin kestrin_install httpget >/dev/null
}

echo "commit $(git -C "$root" rev-parse --short HEAD), toolchain $toolchain"
build one
build second

status=0
for program in $programs; do
  a=$work/one/build-one/$program b=$work/second/build-second/$program
  if cmp -s "$a" "$b"; then
    echo "identical  $(sha256sum "$a" | cut -c1-64)  $(basename "$program")"
  else
    echo "DIFFERENT  $(basename "$program"): $(cmp "$a" "$b" | sed -n 1p)"
    status=1
  fi
done
if [ $status -ne 0 ]; then
  keep=1
  echo "builds kept for inspection in $work"
fi
exit $status
