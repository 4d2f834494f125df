#!/usr/bin/env bash
# check_product.sh ARCH OBJDUMP EXE...: checks the shipped launchers without
# running them, from their bytes alone: the executable's kind, the machine
# it is for, the GUI subsystem, that only system DLLs are imported (no
# compiler run-time DLL has to lie beside it) and the version resource.
# ARCH is i686 (the product: PE32, Intel 80386) or x86_64 (PE32+, AMD64).
# Needs objdump of the mingw-w64 binutils and wrestool (icoutils).
set -uo pipefail

# What every launcher carries in its version resource.
# The build gives the versions (KESTRIN_VERSION, KESTRIN_PRODUCT_VERSION_TEXT).
FILE_VERSION=${KESTRIN_VERSION:?set by the build}     # fixed part: file version
PRODUCT_VERSION_FIXED=$KESTRIN_VERSION                 # fixed part: product version
FILE_VERSION_TEXT=$KESTRIN_VERSION                     # string "FileVersion"
PRODUCT_VERSION_TEXT=${KESTRIN_PRODUCT_VERSION_TEXT:?set by the build}  # string "ProductVersion"

# The DLLs of Windows itself an executable may import (lower case).
SYSTEM_DLLS="kernel32.dll user32.dll gdi32.dll shell32.dll ole32.dll oleaut32.dll advapi32.dll
comctl32.dll comdlg32.dll ws2_32.dll wsock32.dll msvcrt.dll shlwapi.dll psapi.dll version.dll"

[ $# -ge 3 ] || { echo "usage: $0 i686|x86_64 OBJDUMP EXE..." >&2; exit 2; }
arch=$1
objdump=$2
shift 2
case "$arch" in
  i686) want_magic=010b want_kind=PE32 want_machine=014c want_machine_name="Intel 80386" ;;
  x86_64) want_magic=020b want_kind=PE32+ want_machine=8664 want_machine_name="AMD64" ;;
  *) echo "unknown ARCH '$arch'" >&2; exit 2 ;;
esac
command -v wrestool >/dev/null || { echo "wrestool (package icoutils) is not installed" >&2; exit 2; }

# shellcheck source=../../testkit/shell/expect.sh
source "$(dirname "$0")/../../testkit/shell/expect.sh"

# bytes FILE OFFSET COUNT: the bytes as lower-case hex, file order.
bytes() { od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n'; }
# le16/le32 HEX: a little-endian number's hex digits, most significant first.
le16() { echo "${1:2:2}${1:0:2}"; }
le32() { echo "${1:6:2}${1:4:2}${1:2:2}${1:0:2}"; }

# The four parts of a version from the two 32-bit words of VS_FIXEDFILEINFO.
version_of() {  # version_of MS_HEX LS_HEX (little-endian byte strings)
  local ms ls
  ms=$(le32 "$1")
  ls=$(le32 "$2")
  echo "$((16#${ms:0:4})).$((16#${ms:4:4})).$((16#${ls:0:4})).$((16#${ls:4:4}))"
}

# The value of a string of the version resource (UTF-16: key, padding, value).
version_text() {  # version_text RESOURCE_FILE KEY
  iconv -c -f UTF-16LE -t UTF-8 "$1" | tr '\0' '\n' |
    awk -v key="$2" 'found && NF { gsub(/[^[:print:]]/, ""); print; exit }
                     $0 ~ ("(^|[^[:alnum:]])" key "$") { found = 1 }'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for exe in "$@"; do
  echo "$(basename "$exe"):"
  if [ ! -f "$exe" ]; then
    expect "file present" no yes
    continue
  fi
  expect "MZ signature" "$(bytes "$exe" 0 2)" 4d5a
  pe=$((16#$(le32 "$(bytes "$exe" 60 4)")))
  expect "PE signature" "$(bytes "$exe" "$pe" 4)" 50450000
  machine=$(le16 "$(bytes "$exe" $((pe + 4)) 2)")
  expect "machine ($want_machine_name)" "$machine" "$want_machine"
  magic=$(le16 "$(bytes "$exe" $((pe + 24)) 2)")
  expect "optional header ($want_kind)" "$magic" "$want_magic"

  headers=$("$objdump" -p "$exe" 2>&1)
  expect "subsystem" "$(printf '%s\n' "$headers" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p')" "(Windows GUI)"
  imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  foreign=""
  for dll in $imports; do
    case " $(echo $SYSTEM_DLLS) " in
      *" $dll "*) ;;
      *) foreign="$foreign $dll" ;;
    esac
  done
  foreign=${foreign# }
  expect "DLLs imported that are not part of Windows" "${foreign:-none}" none

  resource="$tmp/version.bin"
  if ! wrestool -x --raw -t 16 "$exe" >"$resource" 2>/dev/null || [ ! -s "$resource" ]; then
    expect "version resource" missing present
    continue
  fi
  hex=$(od -An -tx1 -v "$resource" | tr -d ' \n')
  fixed=${hex%%bd04effe*}
  if [ "$fixed" = "$hex" ]; then
    expect "fixed version information" missing present
  else
    at=$((${#fixed} / 2 + 8))  # past the signature and the structure version
    expect "fixed file version" \
      "$(version_of "$(bytes "$resource" "$at" 4)" "$(bytes "$resource" $((at + 4)) 4)")" "$FILE_VERSION"
    expect "fixed product version" \
      "$(version_of "$(bytes "$resource" $((at + 8)) 4)" "$(bytes "$resource" $((at + 12)) 4)")" "$PRODUCT_VERSION_FIXED"
  fi
  expect "FileVersion" "$(version_text "$resource" FileVersion)" "$FILE_VERSION_TEXT"
  expect "ProductVersion" "$(version_text "$resource" ProductVersion)" "$PRODUCT_VERSION_TEXT"
done

expect_verdict
