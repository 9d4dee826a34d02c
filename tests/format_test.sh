#!/usr/bin/env bash
# Every C++ file as the committed .clang-format (Debian's clang-format 14) writes it.
#   format_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
if ! command -v clang-format >/dev/null; then
    echo "clang-format is missing (./make.sh test installs it)" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
mapfile -t files < <(find processing client journal plugin host till sandbox simulate tests bench fuzz \
    -type f \( -name '*.cpp' -o -name '*.h' \) -not -path '*/node_modules/*' | sort)
clang-format --dry-run -Werror "${files[@]}"
echo "formatted: ${#files[@]} files"
