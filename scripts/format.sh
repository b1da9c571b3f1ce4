#!/usr/bin/env bash
# Formats every C++ file of the project with Debian's clang-format and the project's .clang-format.
#   scripts/format.sh           rewrites the files in place
#   scripts/format.sh --check   changes nothing; lists the files that differ and exits 1 if any do
# The files are those git knows (so build folders and scratch files are left alone), or every
# .cpp and .h below the project's own folders outside a git checkout.
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
for arg in "$@"; do
  case "$arg" in
    --check) check=1 ;;
    *) echo "scripts/format.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

format=""
for candidate in clang-format clang-format-14; do
  if command -v "$candidate" >/dev/null; then format="$candidate"; break; fi
done
if [ -z "$format" ]; then
  echo "scripts/format.sh: clang-format is missing (scripts/setup.sh installs it)" >&2
  exit 2
fi

files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' f; do [ -f "$f" ] && files+=("$f"); done < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -type f -print0)
fi

if [ "$check" = 0 ]; then
  "$format" -i --style=file "${files[@]}"
  echo "format: ${#files[@]} files formatted"
  exit 0
fi

differ=()
for f in "${files[@]}"; do
  if ! "$format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then differ+=("$f"); fi
done
if [ ${#differ[@]} -gt 0 ]; then
  printf '%s\n' "${differ[@]}"
  echo "format: ${#differ[@]} of ${#files[@]} files differ from .clang-format (scripts/format.sh formats them)" >&2
  exit 1
fi
echo "format: all ${#files[@]} files match .clang-format"
