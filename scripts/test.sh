#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test build and runs every test through ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --test
# The browser test's driver, exactly as its lock file pins it.
(cd "$top/tests/browser/e2e" && npm ci --no-audit --no-fund --loglevel=error)

build="$top/build/test"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLINVERA_SANITIZE=ON -DLINVERA_WERROR=ON
cmake --build "$build" -j "$(nproc)"

# Style is checked, not discussed.
"$top/scripts/check-format.sh"
"$top/scripts/check-layers.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# Leaks are errors; only the system libraries' one-time allocations are listed as known.
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600

# Every parser under libFuzzer for a few seconds, starting from its seed corpus (a clang build of
# its own in build/fuzz); a finding fails the run and leaves its input in build/fuzz/findings.
"$top/scripts/fuzz.sh" 8
