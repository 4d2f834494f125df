#!/bin/sh
# window_check.sh WINDOW_INFO_EXE START_SHOWN_EXE OUT_DIR PROGRAM_EXE...
#
# Starts each launcher under Wine on a virtual X display and checks its
# window from outside: caption, client area (X geometry and GetClientRect),
# frame buttons, topmost, centring and the label. Takes one screenshot
# (OUT_DIR/window.png) and, for kestrin_install, checks the desktop shortcut
# with lnkinfo when it is there. Then starts the first program with show
# command 7 (minimised, not active): only a minimised window until it is restored, then the same
# centred window. Uses the prefix in WINEPREFIX; ends every process it
# started.
set -eu

if [ -z "${KESTRIN_ON_XVFB:-}" ]; then
  KESTRIN_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

info_exe=$1
start_exe=$2
out_dir=$3
shift 3
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
mkdir -p "$out_dir"

failures=0
launcher_pid=
cleanup() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

expect() {  # expect NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok   $1 = $3"
  else
    echo "FAIL $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

value() { sed -n "s/^$1=//p" "$out_dir/info.txt" | tr -d '\r'; }

shot_taken=
for program in "$@"; do
  name=$(basename "$program" .exe)
  echo "== $name"
  desktop="$HOME/Desktop"
  rm -f "$desktop/KESTRIN.lnk"
  wine "$program" >/dev/null 2>&1 &
  launcher_pid=$!

  wine "$info_exe" 30 >"$out_dir/info.txt" 2>/dev/null || true
  expect found 1 "$(value found)"
  expect iconic 0 "$(value iconic)"
  expect caption KESTRIN "$(value caption)"
  expect client 258x89 "$(value client)"
  expect topmost 1 "$(value topmost)"
  expect sysmenu 1 "$(value sysmenu)"
  expect minbox 0 "$(value minbox)"
  expect maxbox 0 "$(value maxbox)"
  expect sizable 0 "$(value sizable)"
  expect centred 1 "$(value centred)"
  expect label "Wait please, KESTRIN is starting." "$(value label)"
  expect labelrect 48,40,157x13 "$(value labelrect)"

  xwin=$(xdotool search --name '^KESTRIN$' 2>/dev/null | head -n 1 || true)
  geometry=$(xdotool getwindowgeometry "$xwin" 2>/dev/null | sed -n 's/^ *Geometry: //p')
  expect x-geometry 258x89 "$geometry"

  if [ -z "$shot_taken" ]; then
    sleep 1
    import -window root "$out_dir/window.png" 2>/dev/null && shot_taken=1 || true
  fi

  if [ "$name" = kestrin_install ] && command -v lnkinfo >/dev/null; then
    if [ -f "$desktop/KESTRIN.lnk" ]; then
      lnkinfo "$desktop/KESTRIN.lnk" >"$out_dir/lnk.txt" 2>&1 || true
      expect lnk-path 'c:\kestrin\kestrin.exe' "$(sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p' "$out_dir/lnk.txt")"
      expect lnk-dir 'c:\kestrin\' "$(sed -n 's/^[[:space:]]*Working directory[[:space:]]*: //p' "$out_dir/lnk.txt")"
    else
      expect lnk-written yes no
    fi
  fi

  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=
  wineserver -k 2>/dev/null || true
done

echo "== minimised start"
first=$1
wine "$start_exe" "$(winepath -w "$first")" 7 >/dev/null 2>&1 || true
wine "$info_exe" 30 restore >"$out_dir/info.txt" 2>/dev/null || true
expect iconic-at-start 1 "$(value iconic)"
expect restored 1 "$(value restored)"
expect caption KESTRIN "$(value caption)"
expect client 258x89 "$(value client)"
expect centred 1 "$(value centred)"
wineserver -k 2>/dev/null || true

[ "$failures" -eq 0 ] && echo "window check passed" || echo "window check: $failures failure(s)"
[ "$failures" -eq 0 ]
