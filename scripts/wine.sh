#!/bin/sh
# How Windows programs are started on this machine: the one place that picks
# the Wine loader, the matching wineserver and the Windows flavour whose
# programs run here, and that writes the Wine environment.
#
# Machines come two ways. Where the kernel executes 32-bit programs, the
# 32-bit loader runs both flavours, and the i686 product (win32) is what
# runs. Where it does not (the loader fails with "Exec format error"), only
# the 64-bit loader works, with WINELOADER pointing at it so that programs
# started by Wine use it too, and the x86_64 flavour (win64) is what runs.
# /usr/bin/wine is never used: it picks the 32-bit loader whenever wine32 is
# installed, working or not.
#
# As a command:
#   wine.sh which                 one line: the flavour that runs here and why
#   wine.sh run PROGRAM ARGS...   runs a Windows program in WINEPREFIX (CTest's
#                                 runner for the Windows presets)
#   wine.sh prefix PREFIX HOME    makes the prefix once, its desktop inside HOME
#   wine.sh wine|wineboot|winepath|reg|wineserver ARGS...
# Sourced (from sh or bash), it defines wine_decide, wine_env and the
# kestrin_wine* functions below.
#
# Environment:
#   KESTRIN_WINE64=1        take the 64-bit path even where 32-bit programs run
#   KESTRIN_WINE32_LOADER   the 32-bit loader to try (/usr/lib/wine/wine)
#   KESTRIN_WINE64_LOADER   the 64-bit loader (/usr/lib/wine/wine64)

KESTRIN_WINE_LOADER=${KESTRIN_WINE_LOADER:-}
KESTRIN_WINE_SERVER=${KESTRIN_WINE_SERVER:-}
KESTRIN_FLAVOUR=${KESTRIN_FLAVOUR:-}

# wine_decide: sets and exports KESTRIN_FLAVOUR (win32 or win64),
# KESTRIN_WINE_LOADER, KESTRIN_WINE_SERVER and KESTRIN_WINE_WHY; returns 1
# (with KESTRIN_WINE_WHY saying why) when no loader works. Decided once per
# process tree: children inherit the exported decision.
wine_decide() {
  [ -n "${KESTRIN_FLAVOUR:-}" ] && [ -n "${KESTRIN_WINE_LOADER:-}" ] && return 0
  _w32=${KESTRIN_WINE32_LOADER:-/usr/lib/wine/wine}
  _w64=${KESTRIN_WINE64_LOADER:-/usr/lib/wine/wine64}
  _why32=""
  if [ "${KESTRIN_WINE64:-0}" != 0 ]; then
    _why32="KESTRIN_WINE64=$KESTRIN_WINE64 forces the 64-bit path"
  elif [ ! -x "$_w32" ]; then
    _why32="there is no 32-bit Wine loader ($_w32; package wine32:i386)"
  elif _err=$("$_w32" --version 2>&1 >/dev/null); then
    KESTRIN_FLAVOUR=win32
    KESTRIN_WINE_LOADER=$_w32
    # Debian's chooser, the server the 32-bit loader starts by itself.
    KESTRIN_WINE_SERVER=$(dirname "$_w32")/wineserver
    KESTRIN_WINE_WHY="this machine executes 32-bit programs ($_w32 runs)"
    export KESTRIN_FLAVOUR KESTRIN_WINE_LOADER KESTRIN_WINE_SERVER KESTRIN_WINE_WHY
    return 0
  else
    _why32="this machine cannot execute 32-bit programs ($_w32: ${_err##*: })"
  fi
  if [ -x "$_w64" ] && "$_w64" --version >/dev/null 2>&1; then
    KESTRIN_FLAVOUR=win64
    KESTRIN_WINE_LOADER=$_w64
    KESTRIN_WINE_SERVER=$(dirname "$_w64")/wineserver64
    KESTRIN_WINE_WHY=$_why32
    export KESTRIN_FLAVOUR KESTRIN_WINE_LOADER KESTRIN_WINE_SERVER KESTRIN_WINE_WHY
    return 0
  fi
  KESTRIN_WINE_WHY="$_why32, and the 64-bit Wine loader $_w64 does not run (package wine64)"
  return 1
}

# The one-line account of the choice.
wine_which() {
  case "$KESTRIN_FLAVOUR" in
    win32) echo "Windows programs: the i686 product (win32) under $KESTRIN_WINE_LOADER: $KESTRIN_WINE_WHY" ;;
    win64) echo "Windows programs: the x86_64 flavour (win64) under $KESTRIN_WINE_LOADER: $KESTRIN_WINE_WHY" ;;
  esac
}

# wine_env PREFIX HOME: the environment of every Wine run here: a private
# prefix whose desktop folder lies in HOME (a folder of our own, never the
# user's), Wine's own logging off, no menu entries, no Mono or Gecko offers.
wine_env() {
  WINEPREFIX=$1
  HOME=$2
  WINEDEBUG=${WINEDEBUG:--all}
  WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
  export WINEPREFIX HOME WINEDEBUG WINEDLLOVERRIDES
  wine_loader_env
}

# The 32-bit loader finds its server and the 64-bit loader by itself; the
# 64-bit one must be named for every process Wine starts.
wine_loader_env() {
  if [ "$KESTRIN_FLAVOUR" = win64 ]; then
    WINELOADER=$KESTRIN_WINE_LOADER
    WINESERVER=$KESTRIN_WINE_SERVER
    export WINELOADER WINESERVER
  fi
}

kestrin_wine() { "$KESTRIN_WINE_LOADER" "$@"; }
kestrin_wineboot() { "$KESTRIN_WINE_LOADER" wineboot "$@"; }
kestrin_winepath() { "$KESTRIN_WINE_LOADER" winepath "$@"; }
kestrin_reg() { "$KESTRIN_WINE_LOADER" reg "$@"; }
kestrin_wineserver() { "$KESTRIN_WINE_SERVER" "$@"; }

# kestrin_wine_prefix: makes the prefix of the current environment once.
kestrin_wine_prefix() {
  mkdir -p "$HOME/Desktop"
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  kestrin_wineboot -i >/dev/null 2>&1 || return 1
  kestrin_wineserver -w
}

# is_i686_program FILE: whether FILE is a 32-bit x86 Windows program.
is_i686_program() {
  [ -f "$1" ] || return 1
  _pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$_pe" ] && [ "$(od -An -tx2 -j$((_pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')" = 014c ]
}

wine_die() {
  echo "wine: $*" >&2
  exit 2
}

if [ "$(basename -- "$0")" = wine.sh ]; then
  set -eu
  command=${1:-}
  [ $# -gt 0 ] && shift
  wine_decide || wine_die "$KESTRIN_WINE_WHY"
  case "$command" in
    which)
      wine_which ;;
    run)
      here=$(cd "$(dirname "$0")" && pwd)
      if [ "$KESTRIN_FLAVOUR" = win64 ] && is_i686_program "${1:-}"; then
        wine_die "$1 is a 32-bit program, which cannot run here: $KESTRIN_WINE_WHY (the win64 preset runs here)"
      fi
      wine_env "${WINEPREFIX:-$here/../build/$KESTRIN_FLAVOUR/wine/prefix}" "${HOME:?}"
      exec "$KESTRIN_WINE_LOADER" "$@" ;;
    prefix)
      [ $# -eq 2 ] || wine_die "usage: wine.sh prefix PREFIX HOME"
      wine_env "$1" "$2"
      kestrin_wine_prefix || wine_die "wineboot failed in $1 ($(wine_which))"
      echo "wine prefix ready: $1 ($KESTRIN_FLAVOUR loader $KESTRIN_WINE_LOADER)" ;;
    wine) wine_loader_env; exec "$KESTRIN_WINE_LOADER" "$@" ;;
    wineboot | winepath | reg) wine_loader_env; exec "$KESTRIN_WINE_LOADER" "$command" "$@" ;;
    wineserver) wine_loader_env; exec "$KESTRIN_WINE_SERVER" "$@" ;;
    *) wine_die "usage: wine.sh which | run PROGRAM ARGS... | prefix PREFIX HOME | wine|wineboot|winepath|reg|wineserver ARGS..." ;;
  esac
fi
