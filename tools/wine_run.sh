#!/usr/bin/env bash
# Runs a 64-bit Windows executable under Wine: wine_run.sh PREFIX PROGRAM.exe [ARGS...]
# PREFIX is the Wine prefix directory (created on first use). Wine's own diagnostics are silenced
# so that a test's output is the program's output.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
# Wine wants an absolute prefix path.
export WINEPREFIX=$(realpath -m "$1")
shift

# The loader that runs PE64 executables: Debian 12 keeps it off PATH as /usr/lib/wine/wine64,
# older releases ship wine64 on PATH, and Wine 9's WoW64 build runs everything with plain wine.
loader=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
        loader=$(command -v "$candidate")
        break
    fi
done
if [ -z "$loader" ]; then
    echo "$0: no Wine loader found (install the wine and wine64 packages)" >&2
    exit 127
fi

export WINEDEBUG=-all
# No Mono or Gecko installer prompt while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$loader

# Test runs start in parallel: one of them makes the prefix, the others wait for it.
ready=$WINEPREFIX/.ready
if [ ! -f "$ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$ready" ]; then
            # Wine leaves processes behind that must not hold the lock.
            "$loader" wineboot --init >"$WINEPREFIX/wineboot.log" 2>&1 9>&- || true
            touch "$ready"
        fi
    ) 9>"$WINEPREFIX/.lock"
fi

# The first Wine program to start brings up the wineserver and Wine's own services, and they
# inherit its output: whoever reads that output (CTest) waits until they end, seconds after the
# program. Bring them up first, detached from the output, and keep them a little while between
# runs. They end by themselves once idle.
server=$(dirname "$loader")/wineserver
[ -x "$server" ] || server=wineserver
"$server" -p5 </dev/null >/dev/null 2>&1 || true
"$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

exec "$loader" "$@"
