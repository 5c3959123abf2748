#!/usr/bin/env bash
# Fails when a C++ file of the project is not laid out as the project's .clang-format says, and
# names the files; `clang-format -i FILE` lays one out.
#   tools/check-format.sh [ROOT]    (default: the project holding this script)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"
format="${CLANG_FORMAT:-clang-format}"
mapfile -t files < <(find src tools tests bench fuzz -name '*.cpp' -o -name '*.h' | sort)
# One call for all; the files one by one only to name those that differ.
if "$format" --dry-run --Werror "${files[@]}" >/dev/null 2>&1; then
    echo "format: ${#files[@]} files as .clang-format says"
    exit 0
fi
unformatted=()
for f in "${files[@]}"; do
    "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "not formatted (clang-format -i): ${unformatted[*]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files as .clang-format says"
