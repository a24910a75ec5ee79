#!/bin/sh
# The cost of reading a drive history: instructions (callgrind) per record of a RECORDS-line file,
# as the difference between a --sim 0y --history run on that file and one on a file of a single
# record, divided by the records. Every record is of the simulated drive, an hour apart, so each
# one is parsed and feeds the trend (the most a record can cost).
#
# usage: bench/history_read.sh BUILD_DIR [RECORDS]   (RECORDS: default 100000)
set -eu

build=${1:?usage: bench/history_read.sh BUILD_DIR [RECORDS]}
records=${2:-100000}
exe=$(cd "$build" && pwd)/torvik_usb_pssd_flash_id
[ -x "$exe" ] || { echo "missing $exe" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is needed for the instruction counts" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
now=1800000000
export SOURCE_DATE_EPOCH=$now

# One real line of the simulated drive, then RECORDS of them an hour apart before the run.
(cd "$work" && "$exe" --sim 0y --history one.jsonl >/dev/null 2>&1)
awk -v n="$records" -v now="$now" '{
    for (i = 0; i < n; i++) {
        t = now - (n - i) * 3600
        line = $0
        sub(/"time_seconds":[0-9]+/, "\"time_seconds\":" t, line)
        sub(/"percentage_used":[0-9]+/, "\"percentage_used\":" int(i / 2000), line)
        sub(/"data_written_bytes":[0-9]+/, "\"data_written_bytes\":" sprintf("%.0f", i * 1000000000), line)
        print line
    }
}' "$work/one.jsonl" >"$work/many.jsonl"
sed -i "s/\"time_seconds\":[0-9]*/\"time_seconds\":$((now - 3600))/" "$work/one.jsonl"

count() {  # instructions of a run on a copy of the history file $1
    cp "$1" "$work/h.jsonl"
    (cd "$work" && valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        --log-file="$work/callgrind.log" "$exe" --sim 0y --history h.jsonl >/dev/null 2>&1)
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind.log"
}
one=$(count "$work/one.jsonl")
many=$(count "$work/many.jsonl")
bytes=$(wc -c <"$work/many.jsonl")
echo "history of $records records ($bytes bytes): $many instructions; of 1 record: $one"
echo "per record: $(((many - one) / (records - 1))) instructions"
