#!/usr/bin/env bash
# First run on a fresh Debian machine: installs what the tool's build needs when it is missing,
# makes a Release build without the tests in build-demo/, and runs the tool on the built-in
# simulated drive in demo/, where it leaves the report, the health log and the dumps.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/install_missing.sh

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v help2man >/dev/null || need+=(help2man)
install_missing "${need[@]}"

build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
mkdir -p demo
cd demo
"../$build/torvik_usb_pssd_flash_id" --sim 0y
echo
echo "The report is demo/torvik_usb_pssd_flash_id.txt, the health log" \
    "demo/torvik_pssd_flash_id_smart.txt."
