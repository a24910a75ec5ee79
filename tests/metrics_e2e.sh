#!/usr/bin/env bash
# End-to-end test of --metrics with the monitoring programs themselves, on 127.0.0.1 only:
#
#   tests/metrics_e2e.sh TOOL CACHE_DIR
#
# Debian's prometheus-node-exporter, with its textfile collector alone, serves a temporary
# folder; the tool writes the hot simulated drive's metrics into it; the exporter's /metrics must
# show the drive's temperature (74) without a textfile error. A prometheus server with a
# generated configuration then scrapes the exporter every second, with the example alert rules
# loaded and its storage in the temporary folder; its HTTP API is asked until the temperature,
# the power-on time and the data written of the simulated drive, the WARNING state and the health
# alert come back (60 s at most), then a series of the critical warning; last an --all pass with
# no USB drive, whose file holds a drive count of 0 and no drive. Both programs come from
# tools/fetch_prometheus.sh (unpacked, never installed) and are stopped by their process ids.
#
# Exit status: 0 passed, 1 a check failed, 77 skipped: the packages or curl could not be had
# (never counted as passed).
set -uo pipefail

[ $# -eq 2 ] || { echo "usage: $0 TOOL CACHE_DIR" >&2; exit 2; }
tool=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
rules=$here/../docs/examples/torvik-alerts.yml

# shellcheck disable=SC2034 # read by the helpers
script_label="METRICS E2E"
# shellcheck source=tests/script_helpers.sh
. "$here/script_helpers.sh"
# die, with the last lines of the servers' logs
die_with_logs() {
    [ -n "${work:-}" ] && tail -n 20 "$work"/*.log >&2 2>/dev/null
    die "$@"
}

command -v curl >/dev/null || skip "curl is missing (Debian package curl)"
bin=$("$here/../tools/fetch_prometheus.sh" "$2") || skip "prometheus and prometheus-node-exporter could not be had"

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a server (the command with PORT standing for the port) on a free port: a port another
# program holds makes it end at once, and the next is tried. Sets port and adds its process id.
start_server() {
    local name=$1 url_path=$2 pid
    shift 2
    for _ in 1 2 3 4 5 6 7 8; do
        port=$((20000 + RANDOM % 40000))
        "${@//PORT/$port}" >"$work/$name.log" 2>&1 &
        pid=$!
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            if curl -sf -o /dev/null "http://127.0.0.1:$port$url_path"; then
                pids+=("$pid")
                echo "$name: 127.0.0.1:$port, process $pid"
                return 0
            fi
            sleep 0.2
        done
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    die_with_logs "$name did not start"
}

mkdir -p "$work/textfile" "$work/out"
start_server exporter /metrics "$bin/prometheus-node-exporter" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$work/textfile" \
    --web.listen-address=127.0.0.1:PORT
exporter_port=$port

(cd "$work" && "$tool" --sim=hot --metrics textfile/torvik.prom --output-dir out y \
    >"$work/tool.log" 2>&1) || die_with_logs "the tool ended with status $?"

scrape=$(curl -sf "http://127.0.0.1:$exporter_port/metrics") || die_with_logs "the exporter does not answer"
echo "$scrape" | grep -q '^node_textfile_scrape_error 0$' ||
    die_with_logs "the exporter could not read the file: $(echo "$scrape" | grep textfile)"
line=$(echo "$scrape" | grep '^torvik_pssd_temperature_celsius{')
echo "exporter /metrics: $line"
[[ $line == *'serial="SIM00000000000101"'* && $line == *' 74' ]] ||
    die_with_logs "the exporter does not show the hot drive at 74 C"

cat >"$work/prometheus.yml" <<CONFIG
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $rules
scrape_configs:
  - job_name: torvik
    static_configs:
      - targets: ["127.0.0.1:$exporter_port"]
CONFIG
start_server prometheus /-/ready "$bin/prometheus" --config.file="$work/prometheus.yml" \
    --storage.tsdb.path="$work/tsdb" --web.listen-address=127.0.0.1:PORT
prometheus_port=$port

# The first answer that holds every expected text; each query printed as it came back.
query() {
    curl -sf "http://127.0.0.1:$prometheus_port/api/v1/query" --data-urlencode "query=$1"
}
expect() {
    local q=$1 answer
    shift
    local deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        answer=$(query "$q") || answer=
        local part all=1
        for part in "$@"; do
            [[ $answer == *"$part"* ]] || all=0
        done
        if [ $all = 1 ]; then
            echo "query $q"
            echo "  $answer"
            return 0
        fi
        sleep 1
    done
    die_with_logs "no answer to '$q' holds $*; the last: $answer"
}
# The hot drive's NVMe log: 347 K, 1,380 power-on hours, 35,276,512 data units of 512,000 bytes.
expect 'torvik_pssd_temperature_celsius' '"serial":"SIM00000000000101"' '"74"]'
expect 'torvik_pssd_power_on_seconds_total' '"serial":"SIM00000000000101"' "\"$((1380 * 3600))\"]"
expect 'torvik_pssd_data_written_bytes_total' '"serial":"SIM00000000000101"' \
    "\"$((35276512 * 512000))\"]"
expect 'torvik_pssd_health == 1' '"verdict":"WARNING"' '"1"]'
expect 'ALERTS{alertname="PortableSsdHealthNotPassed",alertstate="firing"}' '"verdict":"WARNING"'
# One of the series the JSON had and the metrics lacked: the hot drive's temperature bit.
expect 'torvik_pssd_critical_warning{bit="temperature"}' '"model":"TORVIK PSSD SIM 1TB"' '"1"]'

# An --all pass that finds no USB drive still rewrites its file: the count 0, and the drive that
# was there leaves the scrape. This machine's own drives are scanned (read-only); where it has a
# USB drive the empty scan cannot be had and that part is said skipped. Where the disks refuse
# the tool (no root, a container), the pass ends with status 4 and its file says no access.
if "$tool" --list 2>/dev/null | grep -q ' USB '; then
    echo "**** the empty --all scan is not checked: this machine has a USB drive" >&2
else
    (cd "$work" && "$tool" --all --metrics textfile/torvik.prom --output-dir out-all \
        >"$work/tool-all.log" 2>&1)
    status=$?
    if grep -q 'permission denied' "$work/tool-all.log"; then
        [ $status -eq 4 ] || die "--all refused every disk did not end with status 4"
        expect 'torvik_pssd_scan_error' '"cause":"no_access"' '"1"]'
        expect 'ALERTS{alertname="PortableSsdScanNoAccess",alertstate="firing"}' '"cause":"no_access"'
    else
        [ $status -eq 3 ] || die "--all without a USB drive did not end with status 3"
        expect 'torvik_pssd_scan_error' '"cause":"no_access"' '"0"]'
    fi
    expect 'torvik_pssd_scan_drives' '"0"]'
    expect 'count(torvik_pssd_temperature_celsius) or vector(0)' '"0"]'
fi
echo "metrics e2e: passed"
