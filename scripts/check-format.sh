#!/usr/bin/env bash
# Fails when a C++ file differs from the repository's .clang-format.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run -Werror
