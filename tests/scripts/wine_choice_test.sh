#!/usr/bin/env bash
# wine_choice_test.sh WINE_SH: the choice of Wine loader and flavour, for
# both kinds of machine, with stand-in loaders: one that runs, one that the
# kernel refuses as a 32-bit machine without 32-bit execution does ("Exec
# format error"), one that fails, and none at all. Also that the commands go
# to the chosen loader with the environment each path needs.
set -u
wine_sh=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A loader that runs: records its arguments and the Wine variables it got.
for name in ok32 ok64; do
  cat >"$tmp/$name" <<STUB
#!/bin/sh
echo "$name \$* | WINELOADER=\${WINELOADER:-} WINESERVER=\${WINESERVER:-} WINEDEBUG=\${WINEDEBUG:-}" >>"$tmp/calls"
STUB
  chmod +x "$tmp/$name"
done
# An executable the kernel cannot run: an ELF header for a machine it lacks.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000' >"$tmp/elf32"
chmod +x "$tmp/elf32"
printf '#!/bin/sh\nexit 1\n' >"$tmp/fails"
chmod +x "$tmp/fails"

# shellcheck source=../../testkit/shell/expect.sh
source "$(dirname "$0")/../../testkit/shell/expect.sh"

# wine.sh with the stand-ins and a clean environment.
choose() {  # choose W32 W64 FORCE ARGS...
  local w32=$1 w64=$2 force=$3
  shift 3
  env -u KESTRIN_FLAVOUR -u KESTRIN_WINE_LOADER -u WINELOADER -u WINESERVER -u WINEDEBUG \
    KESTRIN_WINE32_LOADER="$tmp/$w32" KESTRIN_WINE64_LOADER="$tmp/$w64" KESTRIN_WINE64="$force" \
    HOME="$tmp" "$wine_sh" "$@" 2>&1
}

# 32-bit loader | 64-bit loader | KESTRIN_WINE64 | expected start of "which" (or the error)
while IFS='|' read -r w32 w64 force want; do
  expect "32-bit loader $w32, 64-bit loader $w64, KESTRIN_WINE64='$force'" \
    "$(choose "$w32" "$w64" "$force" which | cut -c1-${#want})" "$want"
done <<EOF
ok32|ok64||Windows programs: the i686 product (win32) under $tmp/ok32: this machine executes 32-bit programs
ok32|ok64|0|Windows programs: the i686 product (win32) under $tmp/ok32
ok32|ok64|1|Windows programs: the x86_64 flavour (win64) under $tmp/ok64: KESTRIN_WINE64=1 forces the 64-bit path
elf32|ok64||Windows programs: the x86_64 flavour (win64) under $tmp/ok64: this machine cannot execute 32-bit programs ($tmp/elf32: Exec format error)
missing|ok64||Windows programs: the x86_64 flavour (win64) under $tmp/ok64: there is no 32-bit Wine loader
elf32|fails||wine: this machine cannot execute 32-bit programs ($tmp/elf32: Exec format error), and the 64-bit Wine loader $tmp/fails does not run (package wine64)
EOF
expect "no loader runs: exit code" "$(choose elf32 fails "" which >/dev/null; echo $?)" 2

# Every command goes to the chosen loader; only the 64-bit path names the
# loader and server for the processes Wine starts; "run" adds the rest of
# the Wine environment.
w64="WINELOADER=$tmp/ok64 WINESERVER=$tmp/wineserver64"
while IFS='|' read -r w32 command want; do
  rm -f "$tmp/calls"
  # shellcheck disable=SC2086
  choose "$w32" ok64 "" $command >/dev/null
  expect "'wine.sh $command' with 32-bit loader $w32" "$(grep -v '^ok.. --version ' "$tmp/calls")" "$want"
done <<EOF
ok32|run prog.exe a b|ok32 prog.exe a b | WINELOADER= WINESERVER= WINEDEBUG=-all
elf32|run prog.exe a b|ok64 prog.exe a b | $w64 WINEDEBUG=-all
elf32|winepath -w /x|ok64 winepath -w /x | $w64 WINEDEBUG=
elf32|reg add K /f|ok64 reg add K /f | $w64 WINEDEBUG=
ok32|wineboot -i|ok32 wineboot -i | WINELOADER= WINESERVER= WINEDEBUG=
EOF

# An i686 program handed to the 64-bit path is refused with the reason,
# not left to fail inside Wine.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000\114\001'; } >"$tmp/i686.exe"
rm -f "$tmp/calls"
out=$(choose elf32 ok64 "" run "$tmp/i686.exe")
expect "i686 program on the 64-bit path: exit code" "$?" 2
expect "i686 program on the 64-bit path: message" "${out%%:*}" "wine"
expect "i686 program on the 64-bit path: loader not called" "$(grep -vc '^ok.. --version ' "$tmp/calls")" 0

expect_verdict
