#!/bin/sh
# Runs a Windows program under Wine in a private prefix (WINEPREFIX, set by
# CTest), quietly, without Wine writing desktop entries or offering Mono/Gecko.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/win32/wine/prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
exec wine "$@"
