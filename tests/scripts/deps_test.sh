#!/usr/bin/env bash
# deps_test.sh DEPS_SH: the installer of the build's packages, run against
# stand-in dpkg-query, dpkg, apt-get, apt-cache and id on a PATH of their own
# (no network, nothing installed). The stand-ins keep the machine's state in
# files: which packages are installed, which have a candidate, which
# architectures are added; every apt call is written to a call log.
set -u
deps_sh=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# shellcheck source=../../testkit/shell/expect.sh
source "$(dirname "$0")/../../testkit/shell/expect.sh"

# The packages deps.sh asks for, as it lists them.
mapfile -t wanted < <(sed -n '/^packages=(/,/)/p' "$deps_sh" | tr -d '()' | sed 's/packages=//' | tr ' ' '\n' | grep .)

# The tools deps.sh may use, and nothing else: no sudo unless a case adds one.
mkdir -p "$tmp/bin"
for tool in bash sh env cat grep sed tr mkdir rm touch sleep; do
  ln -s "$(command -v "$tool")" "$tmp/bin/$tool"
done

stub() {  # stub NAME: the script on stdin becomes the stand-in NAME
  cat >"$tmp/bin/$1"
  chmod +x "$tmp/bin/$1"
}
stub id <<EOF
#!/bin/sh
[ "\$1" = -u ] && echo "\${FAKE_UID:-0}"
EOF
stub dpkg-query <<EOF
#!/bin/sh
# dpkg-query -W -f=FORMAT PACKAGE
pkg=\$3
grep -qx "\$pkg" "$tmp/installed" || { echo "dpkg-query: no packages found matching \$pkg" >&2; exit 1; }
printf 'install ok installed'
EOF
stub dpkg <<EOF
#!/bin/sh
case "\$1" in
  --print-foreign-architectures) cat "$tmp/arches" ;;
  --add-architecture) echo "dpkg \$*" >>"$tmp/calls"; echo "\$2" >>"$tmp/arches" ;;
esac
EOF
stub apt-get <<EOF
#!/bin/sh
echo "apt-get \$*" >>"$tmp/calls"
[ "\$1" = install ] || exit 0
for p in "\$@"; do
  case "\$p" in -*|install) ;; *) echo "\$p" >>"$tmp/installed" ;; esac
done
EOF
# apt-cache policy PACKAGE: a candidate for the packages listed in
# candidates, "(none)" otherwise. With SLOW_POLICY=1 the answer comes in many
# small writes with pauses, and goes on well after the candidate line, as
# the real apt-cache does for a package with a long version table: a reader
# that leaves at the first match makes the writer die of SIGPIPE.
stub apt-cache <<EOF
#!/bin/sh
echo "apt-cache \$*" >>"$tmp/calls"
pkg=\$2
if grep -qx "\$pkg" "$tmp/candidates"; then cand=1.0-1; else cand="(none)"; fi
if [ "\${SLOW_POLICY:-0}" = 1 ]; then
  printf '%s:\n' "\$pkg"; sleep 0.05
  printf '  Installed: (none)\n'; sleep 0.05
  printf '  Candidate: %s\n' "\$cand"; sleep 0.2
  i=0
  while [ \$i -lt 20 ]; do
    printf '  Version table:\n     1.0-%d 500\n' \$i; sleep 0.01
    i=\$((i + 1))
  done
else
  printf '%s:\n  Installed: (none)\n  Candidate: %s\n  Version table:\n' "\$pkg" "\$cand"
fi
EOF

# run_deps: deps.sh on the stand-ins; sets out and status.
run_deps() {
  out=$(env -i PATH="$tmp/bin" HOME="$tmp" FAKE_UID="${FAKE_UID:-0}" SLOW_POLICY="${SLOW_POLICY:-0}" \
    bash "$deps_sh" 2>&1)
  status=$?
}
# machine INSTALLED CANDIDATES ARCHES: the state before a case.
machine() {
  printf '%s\n' $1 >"$tmp/installed"
  printf '%s\n' $2 >"$tmp/candidates"
  printf '%s\n' $3 >"$tmp/arches"
  : >"$tmp/calls"
}
calls() { grep -c "^$1" "$tmp/calls"; }
is_installed() { grep -qx "$1" "$tmp/installed" && echo yes || echo no; }

all="${wanted[*]}"
rest=$(printf '%s\n' "${wanted[@]}" | grep -vx 'icoutils\|liblnk-utils' | tr '\n' ' ')

echo "everything installed"
machine "$all" "" "i386"
run_deps
expect "exit code" "$status" 0
expect "output" "$out" ""
expect "apt calls" "$(grep -c . "$tmp/calls")" 0

for slow in 0 1; do
  echo "two packages missing, both with a candidate (SLOW_POLICY=$slow)"
  machine "$rest" "icoutils liblnk-utils" "i386"
  SLOW_POLICY=$slow run_deps
  expect "exit code" "$status" 0
  expect "first line" "${out%%$'\n'*}" "installing: liblnk-utils icoutils"
  expect "apt-get updates" "$(calls 'apt-get update')" 1
  expect "apt-get installs" "$(calls 'apt-get install')" 1
  expect "packages asked for" "$(grep '^apt-get install' "$tmp/calls" | grep -o 'liblnk-utils icoutils')" "liblnk-utils icoutils"
  expect "icoutils installed afterwards" "$(is_installed icoutils)" yes
done

echo "the i386 architecture is added once, where it is missing"
machine "$rest" "icoutils liblnk-utils" "armhf"
run_deps
expect "exit code" "$status" 0
expect "dpkg --add-architecture" "$(grep '^dpkg' "$tmp/calls")" "dpkg --add-architecture i386"

for slow in 0 1; do
  echo "a package without a candidate (SLOW_POLICY=$slow)"
  machine "$rest" "icoutils" "i386"
  SLOW_POLICY=$slow run_deps
  expect "exit code" "$status" 1
  expect "message" "${out##*$'\n'}" "deps.sh: cannot be had from the configured apt sources: liblnk-utils"
  expect "apt-get installs" "$(calls 'apt-get install')" 0
done

echo "not root and no sudo"
machine "$rest" "icoutils liblnk-utils" "i386"
FAKE_UID=1000 run_deps
expect "exit code" "$status" 1
expect "message" "${out##*$'\n'}" "deps.sh: not root and no sudo: cannot install liblnk-utils icoutils"
expect "apt calls" "$(grep -c . "$tmp/calls")" 0

echo "not root, with sudo: every apt-get and dpkg change goes through it"
stub sudo <<EOF
#!/bin/sh
echo "sudo \$1" >>"$tmp/calls"
exec "\$@"
EOF
machine "$rest" "icoutils liblnk-utils" "i386"
FAKE_UID=1000 run_deps
expect "exit code" "$status" 0
expect "sudo calls" "$(grep '^sudo' "$tmp/calls" | tr '\n' ' ')" "sudo apt-get sudo apt-get "
rm -f "$tmp/bin/sudo"

echo "a dry run of the test command installs nothing"
machine "" "$all" "i386"
printf '#!/bin/sh\nexit 0\n' >"$tmp/loader"
chmod +x "$tmp/loader"
out=$(env PATH="$tmp/bin:$PATH" KESTRIN_DRY_RUN=1 KESTRIN_WINE32_LOADER="$tmp/loader" \
  KESTRIN_WINE64_LOADER="$tmp/loader" "$(dirname "$deps_sh")/test.sh" 2>&1)
expect "exit code" "$?" 0
expect "apt and dpkg calls" "$(grep -c . "$tmp/calls")" 0
expect "says what it would run" "$(grep -c '^would run: ctest --preset ' <<<"$out")" 5

expect_verdict
