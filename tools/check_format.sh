#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format makes of it (.clang-format);
# `clang-format -i FILE` fixes one.
set -euo pipefail
cd "$(dirname "$0")/.."
files=()
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
echo "clang-format: ${#files[@]} files formatted"
