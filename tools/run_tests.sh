#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds everything and runs every test suite: the
# native build, the same under AddressSanitizer/UndefinedBehaviorSanitizer, each fuzz target for
# FUZZ_SECONDS (25) when clang++ is there, then the Windows cross build with its tests under Wine
# and the end-to-end test.
# TORVIK_SKIP_WINDOWS=1 runs the native suite only.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=1
[ "${TORVIK_SKIP_WINDOWS:-0}" = 1 ] && windows=0

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# clang and its libFuzzer runtime, for the bounded fuzzing runs.
command -v clang++ >/dev/null || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    need+=(libclang-rt-dev)
# Headless Chromium and the HTML parser for the browser test of the HTML report.
command -v chromium >/dev/null || need+=(chromium)
/usr/bin/python3 -c 'import html5lib' 2>/dev/null || need+=(python3-html5lib)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
if [ "$windows" = 1 ]; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    # GoogleTest is compiled from its source for the cross build (package googletest).
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(libgtest-dev)
    # Debian's wine package runs 64-bit programs with the wine64 package's loader.
    if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
        need+=(wine wine64)
    fi
fi
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    started=$SECONDS
    # Another apt may be running on this machine: wait for its lock instead of failing.
    log=$(mktemp)
    if ! { $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
            --no-install-recommends "${need[@]}"; } >"$log" 2>&1; then
        cat "$log"
        exit 1
    fi
    rm -f "$log"
    echo "Installed ${need[*]} in $((SECONDS - started)) s"
fi

jobs=$(nproc)
build=${BUILD_DIR:-build}
# The end-to-end test under QEMU runs on Linux unless TORVIK_E2E=0; it installs QEMU when it can
# and reports itself skipped (never passed) when QEMU or the kernel cannot be had.
e2e=OFF
[ "$(uname -s)" = Linux ] && [ "${TORVIK_E2E:-1}" != 0 ] && e2e=ON
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_E2E=$e2e
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE e2e

# The same suite (and the fuzz corpora) under AddressSanitizer and UndefinedBehaviorSanitizer;
# every report aborts its test, so any report fails the run.
asan=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_SANITIZE=ON -DTORVIK_BUILD_E2E=OFF
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure -j"$jobs" -LE e2e

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

if [ "$windows" = 1 ]; then
    build_win=${WIN_BUILD_DIR:-build-win}
    started=$SECONDS
    # The Windows suite compares the simulated drives' output with the native executable's.
    cmake -S . -B "$build_win" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64-x86_64.cmake \
        -DTORVIK_NATIVE_EXE="$(realpath "$build")/torvik_usb_pssd_flash_id"
    cmake --build "$build_win" -j"$jobs"
    echo "Windows build took $((SECONDS - started)) s"
    ctest --test-dir "$build_win" --output-on-failure -j"$jobs"
fi

if [ "$e2e" = ON ]; then
    ctest --test-dir "$build" --output-on-failure -L e2e | tee "$build/e2e-ctest.log"
    if grep -qE 'Skipped|Not Run' "$build/e2e-ctest.log"; then
        echo "**** the end-to-end test was SKIPPED: see $build/e2e-ctest.log ****" >&2
    fi
fi
