#!/bin/sh
# The speed floors of the Release build's executable, held by counting rather than timing, so the
# result is the same on a loaded machine:
#   --sim 0y     at most 1,000,000 instructions (callgrind) and 2.25 MiB peak resident memory
#   --decode -   at most 1,000 instructions a line over 20,000 lines of the benchmark's input
#                (bench/make_decode_input), start-up included
# usage: tests/speed_floors.sh EXE PEAK_RSS MAKE_DECODE_INPUT WORK_DIR
#   PEAK_RSS is tests/support/peak_rss; WORK_DIR is emptied and filled with the runs' files.
# Exit status 0 within every floor, 1 over one, 77 (skipped) when valgrind is not installed.
set -eu

sim_max_instructions=1000000
sim_max_rss_kib=2304
decode_lines=20000
decode_max_instructions_a_line=1000

# The runs happen in the work directory: the paths given may be relative to this one.
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
exe=$(absolute "$1")
peak_rss=$(absolute "$2")
make_input=$(absolute "$3")
work=$(absolute "$4")
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed (Debian package valgrind): the speed floors are not checked"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work/sim" "$work/rss"

# The user-space instructions of one run of the executable in the current directory, its output
# in out.txt and err.txt.
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$work/callgrind.log" \
        "$exe" "$@" >out.txt 2>err.txt || true
    n=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind.log")
    [ -n "$n" ] || { cat "$work/callgrind.log" >&2; echo "callgrind counted nothing" >&2; exit 1; }
    echo "$n"
}

failed=0
# Prints one measure against its floor; a measure over its floor fails the check.
check() {
    if [ "$2" -le "$3" ]; then verdict=ok; else verdict=OVER; failed=1; fi
    printf '%-5s %-40s %12s (floor %s)\n' "$verdict" "$1" "$2" "$3"
}

cd "$work/sim"
sim=$(instructions --sim 0y)
grep -q '^Controller:' out.txt || { echo "--sim 0y printed no report" >&2; exit 1; }
check "--sim 0y: instructions" "$sim" "$sim_max_instructions"

cd "$work/rss"
"$peak_rss" "$work/rss.kib" "$exe" --sim 0y >out.txt
check "--sim 0y: peak resident memory (KiB)" "$(cat "$work/rss.kib")" "$sim_max_rss_kib"

cd "$work"
"$make_input" "$decode_lines" >input.txt
decode=$(instructions --decode - <input.txt)
[ "$(wc -l <out.txt)" -eq "$decode_lines" ] || { echo "--decode - lost lines" >&2; exit 1; }
# Rounded up, so a line's share is within its floor exactly when the total is.
check "--decode -: instructions a line" "$(((decode + decode_lines - 1) / decode_lines))" \
    "$decode_max_instructions_a_line"
exit "$failed"
