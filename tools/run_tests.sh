#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi

build=${BUILD_DIR:-build}
# The end-to-end test under QEMU runs on Linux unless TORVIK_E2E=0; it installs QEMU when it can
# and reports itself skipped (never passed) when QEMU or the kernel cannot be had.
e2e=OFF
[ "$(uname -s)" = Linux ] && [ "${TORVIK_E2E:-1}" != 0 ] && e2e=ON
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_E2E=$e2e
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE e2e
if [ "$e2e" = ON ]; then
    ctest --test-dir "$build" --output-on-failure -L e2e | tee "$build/e2e-ctest.log"
    if grep -qE 'Skipped|Not Run' "$build/e2e-ctest.log"; then
        echo "**** the end-to-end test was SKIPPED: see $build/e2e-ctest.log ****" >&2
    fi
fi
