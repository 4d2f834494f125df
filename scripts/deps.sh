#!/usr/bin/env bash
# Installs what the build, the tests and the demo run need on Debian, once.
# Fast when everything is already there. Where a package cannot be had, says
# which and fails, before anything is built.
#
# No pipeline here ends in a reader that may stop early (grep -q, head): under
# pipefail the writer would die of SIGPIPE and a found match would read as a
# failure. Answers are captured first and matched with here-strings.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev
          clang-14 libclang-rt-14-dev clang-format-14 libhttp-parser-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
          wine wine32:i386 wine64
          xvfb xdotool x11-utils openbox imagemagick liblnk-utils icoutils libxml2-utils)

installed() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "$status" = "install ok installed" ]
}

# has_candidate PACKAGE: whether apt can install PACKAGE ("Candidate: (none)"
# or no answer at all means it cannot).
has_candidate() {
  local policy
  policy=$(apt-cache policy "$1" 2>/dev/null) || return 1
  grep 'Candidate: [^(]' >/dev/null <<<"$policy"
}

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
foreign=$(dpkg --print-foreign-architectures)
if ! grep -x i386 >/dev/null <<<"$foreign"; then
  $sudo dpkg --add-architecture i386 || fail "cannot add the i386 architecture (needed for wine32:i386)"
fi
$sudo apt-get update -qq || echo "deps.sh: apt-get update failed; trying with the package lists there are" >&2

# The packages apt has no candidate for, named before anything is tried.
unavailable=()
for p in "${missing[@]}"; do
  has_candidate "$p" || unavailable+=("$p")
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
