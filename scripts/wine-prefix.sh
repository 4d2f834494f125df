#!/bin/sh
# wine-prefix.sh PREFIX HOME: makes (once) a Wine prefix whose desktop folder
# lies inside HOME, a folder of our own.
set -eu
prefix=$1
home=$2
mkdir -p "$home/Desktop"
export HOME="$home" WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
echo "wine prefix ready: $prefix"
