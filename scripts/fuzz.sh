#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs them.
#   scripts/fuzz.sh [SECONDS]           every target for SECONDS each (default 10)
#   scripts/fuzz.sh TARGET [SECONDS]    one target, e.g. percent or fuzz_percent
# New inputs go to build/fuzz/corpus/TARGET (the seeds in tests/fuzz/corpus stay as they are); a
# crash leaves its input in build/fuzz/findings/TARGET and makes the script exit non-zero.
# LINVERA_FUZZ_NO_BUILD=1 runs what is already built (while another build of build/fuzz goes on).
# LINVERA_FUZZ_RUNS=N also ends a target after N executions, whichever of the two comes first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/fuzz"
all=(percent codepage commandline urlparts rules unescape probe notice nativemsg regtool shortener microblog capture blocklist trackers)

targets=("${all[@]}")
seconds=10
if [ $# -ge 1 ] && ! [[ "$1" =~ ^[0-9]+$ ]]; then
    targets=("${1#fuzz_}")
    shift
fi
if [ $# -ge 1 ]; then
    seconds=$1
fi
for t in "${targets[@]}"; do
    if [ ! -f "$top/tests/fuzz/fuzz_$t.cpp" ]; then
        echo "Unknown fuzz target '$t'; known: ${all[*]}" >&2
        exit 2
    fi
done

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ "${LINVERA_FUZZ_NO_BUILD:-}" != 1 ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DLINVERA_FUZZ=ON -DLINVERA_SANITIZE=ON -DLINVERA_BUILD_TESTS=OFF -DLINVERA_BUILD_BENCH=OFF \
        "${launcher[@]}" >/dev/null
    cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
fi

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
failed=()
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    options=()
    if [ -n "${LINVERA_FUZZ_RUNS:-}" ]; then
        options+=(-runs="$LINVERA_FUZZ_RUNS")
    fi
    if [ -f "$top/tests/fuzz/dict/$t.dict" ]; then
        options+=(-dict="$top/tests/fuzz/dict/$t.dict")
    fi
    echo "== fuzz_$t for ${seconds}s"
    # TMPDIR: the targets that write files do so in a folder of their own under it.
    if ! TMPDIR="$build" "$build/bin/fuzz_$t" "${options[@]}" -max_total_time="$seconds" -max_len=4096 \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$top/tests/fuzz/corpus/$t" 2>"$build/fuzz_$t.log"; then
        failed+=("$t")
    fi
    grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb|ERROR|Broken property|runtime error" \
        "$build/fuzz_$t.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]} (inputs under $build/findings, logs $build/fuzz_<target>.log)" >&2
    exit 1
fi
