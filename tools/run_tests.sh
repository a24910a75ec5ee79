#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, checks the formatting, builds everything with
# warnings as errors and runs every test suite: the Release build users make (tests included),
# the same suite under AddressSanitizer/UndefinedBehaviorSanitizer, each fuzz target for
# FUZZ_SECONDS (25) when clang++ is there, then the Windows Release cross build with its tests
# under Wine and the end-to-end test. Each phase's time is printed at the end.
# TORVIK_SKIP_WINDOWS=1 runs the native suite only; TORVIK_E2E=0 leaves out the end-to-end test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/install_missing.sh

windows=1
[ "${TORVIK_SKIP_WINDOWS:-0}" = 1 ] && windows=0

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
command -v make >/dev/null || need+=(make)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v help2man >/dev/null || need+=(help2man)
command -v clang-format >/dev/null || need+=(clang-format)
command -v git >/dev/null || need+=(git)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
# callgrind, for the speed floors of the Release tests.
command -v valgrind >/dev/null || need+=(valgrind)
command -v lintian >/dev/null || need+=(lintian)
# strace, for the system-call trace of how the outputs and the history reach the disk.
command -v strace >/dev/null || need+=(strace)
# clang and its libFuzzer runtime, for the bounded fuzzing runs.
command -v clang++ >/dev/null || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    need+=(libclang-rt-dev)
# Headless Chromium and the HTML parser for the browser test of the HTML report.
command -v chromium >/dev/null || need+=(chromium)
/usr/bin/python3 -c 'import html5lib' 2>/dev/null || need+=(python3-html5lib)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
command -v pdftotext >/dev/null || need+=(poppler-utils)
# npm (with Node.js) fetches axe-core, the accessibility checker the browser test runs.
command -v npm >/dev/null || need+=(npm)
if [ "$windows" = 1 ]; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    # GoogleTest is compiled from its source for the cross build (package googletest).
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(libgtest-dev)
    # Debian's wine package runs 64-bit programs with the wine64 package's loader.
    if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
        need+=(wine wine64)
    fi
fi
install_missing "${need[@]}"

jobs=$(nproc)
phases=()
phase_started=$SECONDS
# Records the time since the previous phase ended under the given name.
phase_done() {
    phases+=("$(printf '%-28s %5d s' "$1" $((SECONDS - phase_started)))")
    phase_started=$SECONDS
}
summary() {
    echo "---- phase times ----"
    printf '%s\n' "${phases[@]}"
}
trap summary EXIT
phase_done "install"

tools/check_format.sh
phase_done "clang-format check"

# The Release build users make, tests included. The end-to-end test under QEMU runs on Linux
# unless TORVIK_E2E=0; it installs QEMU when it can and reports itself skipped (never passed)
# when QEMU or the kernel cannot be had.
build=${BUILD_DIR:-build}
e2e=OFF
[ "$(uname -s)" = Linux ] && [ "${TORVIK_E2E:-1}" != 0 ] && e2e=ON
cmake --preset release -B "$build" -DTORVIK_WERROR=ON -DTORVIK_BUILD_E2E=$e2e
cmake --build "$build" -j"$jobs"
# axe-core into the build tree (tests/CMakeLists.txt looks for it there), never into the sources.
# Where npm cannot fetch it, the accessibility test reports itself skipped.
if [ ! -f "$build/axe-core/node_modules/axe-core/axe.min.js" ] &&
    ! npm install --prefix "$build/axe-core" --no-save --no-package-lock --no-audit --no-fund \
        --cache "$(realpath "$build")/axe-core/npm-cache" axe-core@4 >"$build/axe-core.log" 2>&1; then
    echo "axe-core could not be installed (see $build/axe-core.log): its test will be skipped"
fi
# Debian's prometheus and prometheus-node-exporter, unpacked into the build tree (never installed),
# for the metrics tests; where they cannot be fetched those tests report themselves skipped.
prometheus_bin=$(tools/fetch_prometheus.sh "$build/prometheus-cache") ||
    echo "prometheus could not be fetched: the metrics tests will be skipped"
phase_done "release build"
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE e2e
phase_done "release tests"

# --metrics read by the node exporter and queried from a prometheus server, and the README's
# example alert rules as promtool reads them.
ctest --test-dir "$build" --output-on-failure -L metrics_e2e | tee "$build/metrics-e2e-ctest.log"
if [ -n "$prometheus_bin" ]; then
    "$prometheus_bin/promtool" check rules docs/examples/torvik-alerts.yml
fi
if grep -qE 'Skipped|Not Run' "$build/metrics-e2e-ctest.log"; then
    echo "**** the metrics end-to-end test was SKIPPED: see $build/metrics-e2e-ctest.log ****" >&2
fi
phase_done "metrics end-to-end test"

# What `cmake --install` and `cpack` make of it: the executable, its manual page, its bash
# completion and the JSON format's description; the .deb, which Debian's own checker must pass
# without an error or a warning (the static executable's override says why it is static).
staging=$(realpath "$build")/install-check
rm -rf "$staging"
cmake --install "$build" --prefix "$staging" >/dev/null
for file in bin/torvik_usb_pssd_flash_id share/man/man1/torvik_usb_pssd_flash_id.1.gz \
    share/bash-completion/completions/torvik_usb_pssd_flash_id \
    share/doc/torvik-usb-pssd-flash-id/json.md; do
    [ -f "$staging/$file" ] || { echo "cmake --install left out $file" >&2; exit 1; }
done
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null && dpkg-deb --contents ./*.deb | grep -q 'man1/torvik_usb_pssd_flash_id.1.gz')
# The package, the manual page and the program carry the same version.
version=$("$build/torvik_usb_pssd_flash_id" --version | sed -n '1s/^[^ ]* //p')
[ "$(dpkg-deb -f "$build"/*.deb Version)" = "$version" ] &&
    zgrep -q "torvik_usb_pssd_flash_id $version" "$staging/share/man/man1/torvik_usb_pssd_flash_id.1.gz" ||
    { echo "the package or the manual page does not carry version $version" >&2; exit 1; }
lintian --fail-on error,warning "$build"/*.deb
phase_done "install, package, lintian"

# The same suite (and the fuzz corpora) under AddressSanitizer and UndefinedBehaviorSanitizer;
# every report aborts its test, so any report fails the run.
asan=${ASAN_BUILD_DIR:-build-asan}
cmake --preset asan -B "$asan" -DTORVIK_WERROR=ON
cmake --build "$asan" -j"$jobs"
phase_done "sanitizer build"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure -j"$jobs" -LE e2e
phase_done "sanitizer tests"

# Each libFuzzer target for a bounded time (FUZZ_SECONDS each), starting from the seed corpus.
# New inputs go to a scratch corpus in the build directory, never into the repository.
fuzz_seconds=${FUZZ_SECONDS:-25}
if command -v clang++ >/dev/null; then
    fuzz=$(pwd)/${FUZZ_BUILD_DIR:-build-fuzz}
    cmake --preset fuzz -B "$fuzz" -DTORVIK_WERROR=ON
    cmake --build "$fuzz" -j"$jobs"
    phase_done "fuzz build"
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
    phase_done "fuzzing"
else
    echo "fuzz: skipped (clang++ not installed)"
fi

if [ "$windows" = 1 ]; then
    # The Windows Release cross build (docs/developers.md); its suite also compares the simulated drives'
    # output with the native executable's.
    build_win=${WIN_BUILD_DIR:-build-win}
    cmake --preset windows -B "$build_win" -DTORVIK_WERROR=ON \
        -DTORVIK_NATIVE_EXE="$(realpath "$build")/torvik_usb_pssd_flash_id"
    cmake --build "$build_win" -j"$jobs"
    (cd "$build_win" && cpack -G ZIP >/dev/null &&
        python3 -m zipfile -l ./*-win64.zip | grep -q 'docs/json.md')
    phase_done "windows build and zip"
    ctest --test-dir "$build_win" --output-on-failure -j"$jobs"
    phase_done "windows tests (wine)"
fi

if [ "$e2e" = ON ]; then
    ctest --test-dir "$build" --output-on-failure -L '^e2e$' | tee "$build/e2e-ctest.log"
    phase_done "end-to-end test"
    if grep -qE 'Skipped|Not Run' "$build/e2e-ctest.log"; then
        echo "**** the end-to-end test was SKIPPED: see $build/e2e-ctest.log ****" >&2
    fi
fi
