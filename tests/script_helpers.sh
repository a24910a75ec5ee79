# shellcheck shell=bash
# Shell functions the end-to-end and check scripts share; sourced, never run.
#
# A checking script counts its checks in `passed` and `failed` and ends with checks_done; a
# test script names itself in `script_label` ("E2E", "METRICS E2E") for skip and die.

passed=0
failed=0

pass() {
    passed=$((passed + 1))
    echo "  ok    $*"
}
fail() {
    failed=$((failed + 1))
    echo "  FAIL  $*"
}
# check DESCRIPTION COMMAND...: passes when the command succeeds
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# checks_done NAME: the count line; the status is 1 when any check failed.
checks_done() {
    echo "$1 checks: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# skip WHY: exit status 77, which ctest shows as skipped (never counted as passed).
skip() {
    echo "**** ${script_label:-TEST} SKIPPED (not passed): $*" >&2
    exit 77
}
die() {
    echo "${script_label:-TEST} ERROR: $*" >&2
    exit 1
}
