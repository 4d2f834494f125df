#!/usr/bin/env bash
# Installs what the build, the tests and the demo run need on Debian, once.
# Fast when everything is already there. Where a package cannot be had, says
# which and fails, before anything is built.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev
          clang-14 libclang-rt-14-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
          wine wine32:i386 wine64
          xvfb xdotool x11-utils imagemagick liblnk-utils icoutils libxml2-utils)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

fail() {
  echo "deps.sh: $*" >&2
  exit 1
}

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "not root and no sudo: cannot install ${missing[*]}"
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386 || fail "cannot add the i386 architecture (needed for wine32:i386)"
fi
$sudo apt-get update -qq || echo "deps.sh: apt-get update failed; trying with the package lists there are" >&2

# The packages apt has no candidate for, named before anything is tried.
unavailable=()
for p in "${missing[@]}"; do
  apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [^(]' || unavailable+=("$p")
done
[ ${#unavailable[@]} -eq 0 ] ||
  fail "cannot be had from the configured apt sources: ${unavailable[*]}"

$sudo apt-get install -y -qq "${missing[@]}" >/dev/null ||
  fail "apt-get install failed for: ${missing[*]}"
still=()
for p in "${missing[@]}"; do
  installed "$p" || still+=("$p")
done
[ ${#still[@]} -eq 0 ] || fail "still not installed after apt-get: ${still[*]}"
