#!/usr/bin/env bash
# Installs what the build, the tests and the demo run need on Debian, once.
# Fast when everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 wine wine32:i386
          xvfb xdotool x11-utils imagemagick liblnk-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
