#!/usr/bin/env bash
# Checks that every C++ file of the tree is formatted as the committed
# .clang-format says (clang-format 14, as Debian packages it). Names each file
# that differs and exits 1; `scripts/check-format.sh --fix` formats them.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
clang_format=${CLANG_FORMAT:-clang-format-14}
command -v "$clang_format" >/dev/null || { echo "check-format.sh: $clang_format not found (package clang-format-14)" >&2; exit 1; }

mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --fix ]; then
  "$clang_format" -i "${files[@]}"
  exit 0
fi
differ=()
for f in "${files[@]}"; do
  "$clang_format" --dry-run -Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
  echo "check-format.sh: not formatted as .clang-format says (scripts/check-format.sh --fix formats them):"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "check-format.sh: ${#files[@]} C++ files formatted as .clang-format says"
