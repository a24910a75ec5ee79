#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi

jobs=$(nproc)
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

# The same suite (and the fuzz corpora) under AddressSanitizer and UndefinedBehaviorSanitizer;
# every report aborts its test, so any report fails the run.
asan=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_SANITIZE=ON
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure -j"$jobs"

# Each libFuzzer target for a bounded time (FUZZ_SECONDS each), starting from the seed corpus.
# New inputs go to a scratch corpus in the build directory, never into the repository.
fuzz_seconds=${FUZZ_SECONDS:-25}
if command -v clang++ >/dev/null; then
    fuzz=$(pwd)/${FUZZ_BUILD_DIR:-build-fuzz}
    cmake -S . -B "$fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTORVIK_FUZZ=ON -DTORVIK_SANITIZE=ON -DTORVIK_BUILD_TESTS=OFF
    cmake --build "$fuzz" -j"$jobs"
    for target in flash_id drive_report command_line replay; do
        work="$fuzz/work/$target"
        mkdir -p "$work"
        log="$fuzz/$target.log"
        # Paths are absolute: the targets that run the tool work in a directory of their own.
        if ! "$fuzz/fuzz/${target}_fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$fuzz/work/" \
            "$work" "$(pwd)/fuzz/corpus/$target" >"$log" 2>&1; then
            tail -n 60 "$log"
            echo "fuzz $target: FAILED (input saved in $fuzz/work/)"
            exit 1
        fi
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $target: ${runs:-?} runs in ${fuzz_seconds}s, no failure"
    done
else
    echo "fuzz: skipped (clang++ not installed)"
fi
