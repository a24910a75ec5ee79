#!/bin/sh
# Whole-program costs of torvik_usb_pssd_flash_id beside the floors that bound them, in one run:
#   --sim 0y, --replay DIR 0y, --json --sim 0y  against a static hello-world built with the same
#                                                compiler and link options, and against cp of
#                                                the files the run wrote;
#   --decode - over a generated million lines    against cat of the same input.
# Prints instructions (callgrind, exact and repeatable) and wall-time ratios to the floors (medians
# of paired runs); never bare times, which say more about the machine than about the program.
#
# usage: bench/whole_program.sh BUILD_DIR [LINES] [ROUNDS]
#   BUILD_DIR  a build with -DTORVIK_BUILD_BENCH=ON (for bench/make_decode_input)
#   LINES      lines of --decode input (default 1000000)
#   ROUNDS     paired wall-time rounds per row (default 11)
set -eu

build=${1:?usage: bench/whole_program.sh BUILD_DIR [LINES] [ROUNDS]}
lines=${2:-1000000}
rounds=${3:-11}
build=$(cd "$build" && pwd)
exe=$build/torvik_usb_pssd_flash_id
make_input=$build/bench/make_decode_input
for tool in "$exe" "$make_input"; do
    [ -x "$tool" ] || { echo "missing $tool (configure with -DTORVIK_BUILD_BENCH=ON)" >&2; exit 2; }
done
command -v valgrind >/dev/null || { echo "valgrind is needed for the instruction counts" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# The hello-world floor: the build's compiler and the executable's link options.
cache=$build/CMakeCache.txt
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache")
link=$(sed -n 's/^TORVIK_STATIC_LINK_OPTIONS:[A-Z]*=//p' "$cache" | tr ';' ' ')
cat >"$work/hello.cpp" <<'EOF'
#include <cstdio>
int main() {
    std::puts("hello, world");
    return 0;
}
EOF
# shellcheck disable=SC2086  # the link options are words
"${cxx:-c++}" -std=c++20 -O2 $link "$work/hello.cpp" -o "$work/hello"

"$make_input" "$lines" >"$work/input.txt"
mkdir "$work/sim" "$work/json" "$work/replay" "$work/copy"
(cd "$work/sim" && "$exe" --sim 0y >console.txt)
(cd "$work/json" && "$exe" --json --sim 0y >console.txt)

# Each row: a name, the command, its floor command. Commands run in the row's directory.
rows=$work/rows
cat >"$rows" <<EOF
--sim 0y|cd $work/sim && $exe --sim 0y >console.txt|$work/hello >/dev/null
--sim 0y|cd $work/sim && $exe --sim 0y >console.txt|cp $work/sim/* $work/copy/
--replay DIR 0y|cd $work/replay && $exe --replay $work/sim 0y >console.txt|$work/hello >/dev/null
--replay DIR 0y|cd $work/replay && $exe --replay $work/sim 0y >console.txt|cp $work/sim/* $work/copy/
--json --sim 0y|cd $work/json && $exe --json --sim 0y >console.txt|$work/hello >/dev/null
--json --sim 0y|cd $work/json && $exe --json --sim 0y >console.txt|cp $work/json/* $work/copy/
--decode - ($lines lines)|$exe --decode - <$work/input.txt >$work/out.txt 2>$work/err.txt; true|cat $work/input.txt >$work/out.txt
EOF

# Instructions of one command: the user-space instructions of the programs it runs, the shell
# that starts them left out (the same for a command and its floor).
instructions() {
    log=$work/callgrind.log
    valgrind --tool=callgrind --trace-children=yes --callgrind-out-file=/dev/null \
        --log-file="$log.%p" sh -c "$1" >/dev/null 2>&1 || true
    total=0
    for f in "$log".*; do
        if ! grep -q "Command: sh -c" "$f"; then
            n=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$f")
            total=$((total + ${n:-0}))
        fi
        rm -f "$f"
    done
    echo "$total"
}

# Median wall time, in nanoseconds, of one command over the rounds, paired with its floor: each
# round runs both, so load on the machine falls on both alike. Prints "command floor".
paired_medians() {
    i=0
    : >"$work/t.cmd"
    : >"$work/t.floor"
    while [ "$i" -lt "$rounds" ]; do
        for which in cmd floor; do
            if [ "$which" = cmd ]; then c=$1; else c=$2; fi
            start=$(date +%s%N)
            sh -c "$c" >/dev/null 2>&1 || true
            end=$(date +%s%N)
            echo $((end - start)) >>"$work/t.$which"
        done
        i=$((i + 1))
    done
    for which in cmd floor; do
        sort -n "$work/t.$which" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
    done | paste -sd' '
}

floor_name() {
    case $1 in
        *hello*) echo "static hello-world" ;;
        cp\ *) echo "cp of its files" ;;
        cat\ *) echo "cat of the input" ;;
    esac
}

printf '%s\n' "machine: $(uname -m), $(nproc) CPUs, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)"
printf '%s\n' "compiler: $("${cxx:-c++}" --version | head -1); link: ${link:-dynamic}"
printf '\n| %-26s | %14s | %-18s | %12s | %12s | %10s |\n' \
    "run" "instructions" "floor" "floor instr." "instr. ratio" "time ratio"
printf '|%s|%s|%s|%s|%s|%s|\n' "----------------------------" "----------------" \
    "--------------------" "--------------" "--------------" "------------"
while IFS='|' read -r name cmd floor; do
    n_cmd=$(instructions "$cmd")
    n_floor=$(instructions "$floor")
    set -- $(paired_medians "$cmd" "$floor")
    printf '| %-26s | %14s | %-18s | %12s | %12s | %10s |\n' "$name" "$n_cmd" \
        "$(floor_name "$floor")" "$n_floor" \
        "$(awk -v a="$n_cmd" -v b="$n_floor" 'BEGIN { printf "%.1fx", a / b }')" \
        "$(awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", a / b }')"
done <"$rows"

per_line=$(awk -v n="$(instructions "$exe --decode - <$work/input.txt >/dev/null 2>&1; true")" \
    -v l="$lines" 'BEGIN { printf "%.0f", n / l }')
printf '\n--decode -: %s instructions a line (start-up included)\n' "$per_line"
