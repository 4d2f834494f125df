#!/usr/bin/env bash
# release_check.sh OBJDUMP stripped|unstripped LAUNCHER... [-- PROGRAM...]
# Static checks of built Windows programs (no Wine needed):
# - every program: no link time stamp and, when "stripped", no symbol table,
#   no debugging sections and no debug directory;
# - every LAUNCHER also: exactly one application manifest (resource type 24,
#   id 1), well-formed, asking for asInvoker without uiAccess, listing the
#   supported systems from Vista to 10/11, declaring no DPI awareness and no
#   common-controls dependency.
# Prints what it found; exit status 1 at the first program that fails.
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OBJDUMP stripped|unstripped LAUNCHER... [-- PROGRAM...]" >&2; exit 2; }
objdump=$1 mode=$2
shift 2
for tool in wrestool:icoutils xmllint:libxml2-utils; do
  command -v "${tool%%:*}" >/dev/null ||
    { echo "${tool%%:*} (package ${tool#*:}) is not installed" >&2; exit 2; }
done

supported_os="{1f676c76-80e1-4239-95bb-83d0f6d0da78}
{35138b9a-5d96-4fbd-8e2d-a2440225f93a}
{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}
{e2011457-1546-43c5-a5fe-008deee3d3f0}"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL $name: $*"; exit 1; }

u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }  # little-endian host

check_image() {
  local exe=$1 pe
  pe=$(u32 "$exe" 60)
  [ "$(od -An -tx1 -j "$pe" -N4 "$exe" | tr -d ' ')" = 50450000 ] || fail "not a PE image"
  [ "$(u32 "$exe" $((pe + 8)))" = 0 ] || fail "link time stamp set"
  [ "$mode" = stripped ] || return 0
  [ "$(u32 "$exe" $((pe + 12)))" = 0 ] && [ "$(u32 "$exe" $((pe + 16)))" = 0 ] ||
    fail "COFF symbol table present"
  local sections
  sections=$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
  [ -n "$sections" ] || fail "no sections read"
  local debug
  debug=$(grep -E '^(\.z?debug|/[0-9])' <<<"$sections" | tr '\n' ' ')
  [ -z "$debug" ] || fail "debugging sections: $debug"
  grep -Eq '^Entry 6 0+ 0+ Debug Directory' <<<"$("$objdump" -p "$exe")" ||
    fail "debug directory present"
}

xpath() { xmllint --xpath "$1" "$tmp/manifest.xml" 2>/dev/null; }

check_manifest() {
  local exe=$1
  local count
  count=$(wrestool -l --type=24 "$exe" 2>/dev/null | grep -c .)
  [ "$count" -ge 1 ] || fail "no application manifest"
  [ "$count" = 1 ] || fail "$count manifest resources"
  wrestool -x --raw --type=24 --name=1 "$exe" >"$tmp/manifest.xml" 2>/dev/null ||
    fail "no manifest with id 1"
  xmllint --noout "$tmp/manifest.xml" 2>"$tmp/xmllint.txt" ||
    fail "manifest not well-formed: $(head -1 "$tmp/xmllint.txt")"
  local level='//*[local-name()="requestedExecutionLevel"]'
  [ "$(xpath "count($level)")" = 1 ] || fail "not exactly one requestedExecutionLevel"
  [ "$(xpath "string($level/@level)")" = asInvoker ] || fail "execution level is not asInvoker"
  [ "$(xpath "string($level/@uiAccess)")" = false ] || fail "uiAccess is not false"
  local ids
  ids=$(xpath '//*[local-name()="supportedOS"]/@Id' | sed -n 's/.*Id="\([^"]*\)".*/\1/p' |
        tr 'A-F' 'a-f' | sort)
  [ "$ids" = "$supported_os" ] || fail "supportedOS list: $(echo $ids)"
  [ "$(xpath 'count(//*[local-name()="dpiAware" or local-name()="dpiAwareness"])')" = 0 ] ||
    fail "declares DPI awareness"
  [ "$(xpath 'count(//*[local-name()="dependency"])')" = 0 ] ||
    fail "declares a dependency (common controls)"
}

launchers=1
for exe in "$@"; do
  if [ "$exe" = -- ]; then launchers=0; continue; fi
  name=$(basename "$exe")
  [ -f "$exe" ] || fail "missing"
  check_image "$exe"
  what="no time stamp"
  [ "$mode" = stripped ] && what="$what, no symbols or debugging sections"
  if [ $launchers = 1 ]; then
    check_manifest "$exe"
    what="$what, manifest asInvoker uiAccess=false with 5 supported systems"
  fi
  echo "ok   $name: $what"
done
