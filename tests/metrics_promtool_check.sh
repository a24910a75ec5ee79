#!/usr/bin/env bash
# promtool, Prometheus's own checker, on every metrics file the tool can write: each simulated
# drive's, a run that could not reach its drive, and the golden file of several drives with a
# hostile serial (tests/metrics/fleet.prom), an --all pass's; and the example alert rules against
# their unit tests (tests/metrics/alerts_test.yml).
#
#   tests/metrics_promtool_check.sh TOOL CACHE_DIR
#
# Exit status: 0 all accepted, 1 one refused, 77 skipped: the prometheus package could not be had
# (never counted as passed).
set -uo pipefail

[ $# -eq 2 ] || { echo "usage: $0 TOOL CACHE_DIR" >&2; exit 2; }
tool=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
bin=$("$repo/tools/fetch_prometheus.sh" "$2") || {
    echo "**** SKIPPED (not passed): the prometheus package could not be had" >&2
    exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
check() {
    local file=$1 out
    if [ ! -s "$file" ]; then
        echo "FAILED: $file was not written" >&2
        failed=1
    elif ! out=$("$bin/promtool" check metrics <"$file" 2>&1); then
        echo "FAILED: promtool refuses $file: $out" >&2
        failed=1
    else
        echo "accepted: $file"
    fi
}

profiles=$("$tool" --sim=list | cut -d' ' -f1)
[ -n "$profiles" ] || { echo "FAILED: no simulated drives listed" >&2; exit 1; }
for profile in $profiles; do
    "$tool" --sim="$profile" --output-dir "out-$profile" --metrics "$profile.prom" 0y >/dev/null 2>&1
    check "$profile.prom"
done
"$tool" --sim --metrics unreached.prom 1y >/dev/null 2>&1
grep -q '^torvik_pssd_run_success{.*} 0$' unreached.prom ||
    { echo "FAILED: the unreached drive's file does not say so" >&2; failed=1; }
check unreached.prom
check "$repo/tests/metrics/fleet.prom"
"$tool" --sim=hot,worn-out --all --output-dir all-out --metrics all.prom >/dev/null 2>&1
grep -q '^torvik_pssd_scan_drives 2$' all.prom ||
    { echo "FAILED: the --all file does not count its two drives" >&2; failed=1; }
check all.prom
if out=$("$bin/promtool" test rules "$repo/tests/metrics/alerts_test.yml" 2>&1); then
    echo "alert rule tests: passed"
else
    echo "FAILED: promtool test rules: $out" >&2
    failed=1
fi
exit $failed
