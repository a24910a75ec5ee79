#!/usr/bin/env bash
# Checks what the end-to-end guest brought back against what the tool writes on the host against
# the same drive model.
#
#   tests/e2e/check_e2e.sh RESULTS_DIR EXPECT_TOOL WORK_DIR
#
# EXPECT_TOOL is torvik_e2e_expect: the tool's run against a named drive model on the host.
# Every check prints one line; a difference prints the first lines of its diff. The exit status is
# 1 when any check failed. A comparison that cannot be made because the tool does not yet send
# the command it needs is printed as NOT COMPARED and counted apart.
set -uo pipefail
export LC_ALL=C

results=$(cd "$1" && pwd)
expect_tool=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
profile=patterned
work=$(cd "$3" && pwd)
failed=0
passed=0
missing=0

# The error code the Linux platform reports for a command that timed out (ETIMEDOUT).
timeout_code=6e

pass() {
    passed=$((passed + 1))
    echo "  ok    $*"
}
fail() {
    failed=$((failed + 1))
    echo "  FAIL  $*"
}
not_compared() {
    missing=$((missing + 1))
    echo "  NOT COMPARED  $*"
}
# check DESCRIPTION COMMAND...: passes when the command succeeds
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# same_text DESCRIPTION EXPECTED_FILE ACTUAL_FILE
same_text() {
    if diff -u "$2" "$3" > "$work/diff.txt"; then
        pass "$1"
    else
        fail "$1"
        head -n 30 "$work/diff.txt" | sed 's/^/        /'
    fi
}

line() { sed -n "${2}p" "$1"; }
# A console or report without its OS and Drive header lines (the second and third).
body() { [ -f "$1" ] && sed '2,3d' "$1"; }

echo "e2e checks:"
for c in usb virtio listing checkcond noreply noreply-after noreply-block; do
    [ -f "$results/$c/status" ] || fail "case $c did not run"
done

# ---- the host's runs against the same drive model -------------------------------------------------

host=$work/host
# expect NAME [FAULT]: the tool on the host against the model, as the guest's case NAME ran it
expect() {
    mkdir -p "$host/$1"
    (cd "$host/$1" && "$expect_tool" ${2:+--fault "$2"} $profile 0y < /dev/null > stdout 2> stderr
        echo $? > status)
}
expect usb
# What the device's fault rules must come to through the kernel: CHECK CONDITION stays a
# successful call with zeros; a command never answered fails the call with the time-out code.
expect checkcond id=check_condition
expect noreply id=platform_error:$((16#$timeout_code))
mkdir -p "$host/listing"
(cd "$host/listing" && echo 99y | "$expect_tool" $profile > stdout 2> stderr; echo $? > status)
check "host: the expected run worked" [ "$(cat "$host/usb/status")" = 0 ]
# The fault profiles act on the id page; they mean something once the report reads it.
reads_id=0
[ -f "$host/usb/torvik_pssd_id.bin" ] && reads_id=1

# compare_run NAME GUEST_DIR EXPECTED_DIR: exit status, console and report (after the OS and Drive
# lines), health log and every dump of a guest run equal to the host's.
compare_run() {
    local name=$1 guest=$2 expected=$3 f bad=""
    check "$name: exit status as on the host" [ "$(cat "$guest/status")" = "$(cat "$expected/status")" ]
    body "$expected/stdout" > "$work/expected.txt"
    body "$guest/stdout" > "$work/actual.txt"
    same_text "$name: console equals the host's" "$work/expected.txt" "$work/actual.txt"
    body "$expected/torvik_usb_pssd_flash_id.txt" > "$work/expected.txt"
    body "$guest/torvik_usb_pssd_flash_id.txt" > "$work/actual.txt"
    same_text "$name: report equals the host's" "$work/expected.txt" "$work/actual.txt"
    if [ -f "$expected/torvik_pssd_flash_id_smart.txt" ] ||
        [ -f "$guest/torvik_pssd_flash_id_smart.txt" ]; then
        same_text "$name: health log equals the host's" \
            "$expected/torvik_pssd_flash_id_smart.txt" "$guest/torvik_pssd_flash_id_smart.txt"
    fi
    (cd "$expected" && ls *.bin 2> /dev/null) > "$work/expected.txt"
    (cd "$guest" && ls *.bin 2> /dev/null) > "$work/actual.txt"
    same_text "$name: the same dump files" "$work/expected.txt" "$work/actual.txt"
    for f in $(sort -u "$work/expected.txt" "$work/actual.txt"); do
        cmp -s "$expected/$f" "$guest/$f" || bad="$bad $f"
    done
    check "$name: every dump byte for byte${bad:+ - differ:$bad}" [ -z "$bad" ]
}

# ---- the USB disk ------------------------------------------------------------------------------------
u=$results/usb
check "usb: exit status 0" [ "$(cat "$u/status")" = 0 ]
check "usb: console header" [ "$(line "$u/stdout" 3)" = "Drive: 0(USB)" ]
check "usb: report header" [ "$(head -n 2 "$u/torvik_usb_pssd_flash_id.txt" 2> /dev/null)" = \
    "$(printf 'v0.2a\nDrive: 0(USB)')" ]
compare_run usb "$u" "$host/usb"

# ---- the virtio disk is refused -------------------------------------------------------------------
v=$results/virtio
check "virtio: banner" [ "$(line "$v/stdout" 1)" = "Torvik usb/pssd flash id v0.2a by tarn" ]
check "virtio: refused as not USB, nothing else" \
    [ "$(tail -n +3 "$v/stdout")" = "Drive interface is not USB, exit!" ]
check "virtio: exit status 3" [ "$(cat "$v/status")" = 3 ]
check "virtio: no report file" [ ! -e "$v/torvik_usb_pssd_flash_id.txt" ]

# ---- the listing at the prompt --------------------------------------------------------------------
l=$results/listing
identity=$(sed -n 's/^identity: //p' "$results/usbdev-default.log")
vendor=$(printf '%s\n' "$identity" | sed -n "s/^vendor='\(.*\)' product='.*'$/\1/p")
product=$(printf '%s\n' "$identity" | sed -n "s/^vendor='.*' product='\(.*\)'$/\1/p")
listed=$(grep -E '^ ?[0-9]+: ' "$l/stdout")
check "listing: the USB disk as drive 0 with the device's vendor and product texts" \
    [ "$(printf '%s\n' "$listed" | sed -n 1p)" = " 0: ${vendor}${product}" ]
check "listing: the virtio disk as drive 1" \
    [ "$(printf '%s\n' "$listed" | sed -n 2p | cut -c1-4)" = " 1: " ]
check "listing: two drives" [ "$(printf '%s\n' "$listed" | wc -l)" = 2 ]
check "listing: prompt, then drive 99 refused" \
    grep -qF "Please select drive number:Drive interface is not USB, exit!" "$l/stdout"
check "listing: drive 0 as the simulated drive lists itself" \
    [ "$(printf '%s\n' "$listed" | sed -n 1p)" = "$(grep -E '^ 0: ' "$host/listing/stdout")" ]

# ---- a vendor command refused with CHECK CONDITION: success, with zeros --------------------------
# ---- a vendor command never answered: a failure line after the time-out, and the report goes on ---
if [ $reads_id = 1 ]; then
    k=$results/checkcond
    check "checkcond: the device refused 06 00 fd 13 with CHECK CONDITION" \
        grep -qE '^cmd .*cdb=\[06 00 fd 13 .*\] -> status=1 ' "$results/usbdev-checkcond.log"
    check "checkcond: the kernel fetched the sense" \
        bash -c "grep -A1 -E 'cdb=\[06 00 fd 13 ' '$results/usbdev-checkcond.log' | grep -qE 'cdb=\[03 '"
    compare_run checkcond "$k" "$host/checkcond"

    # On the sg node the time-out is the tool's 2 s; the block node raises it to 7 s. The reset
    # that follows adds about a second under emulation.
    for n in noreply:1.5:6.5 noreply-after:1.5:6.5 noreply-block:6.5:12; do
        IFS=: read -r n low high <<< "$n"
        d=$results/$n
        log=$results/usbdev-noreply.log
        [ $n = noreply-block ] && log=$results/usbdev-blocknode.log
        check "$n: the device left 06 00 fd 13 unanswered" \
            grep -qE '^cmd .*cdb=\[06 00 fd 13 .*\] -> no reply' "$log"
        check "$n: the device answered again after the host's reset" \
            awk '/cdb=\[06 00 fd 13 .*no reply/ { silent = 1; next }
                 silent && /^cmd / && !seen { seen = 1; ok = /cdb=\[06 00 89 01 .*status=0/ }
                 END { exit !ok }' "$log"
        read -r s0 e0 < "$u/uptime"
        read -r s1 e1 < "$d/uptime"
        delay=$(awk -v a="$s0" -v b="$e0" -v c="$s1" -v d="$e1" \
            'BEGIN { printf "%.1f", (d - c) - (b - a) }')
        check "$n: the time-out cost ${delay} s (expected $low to $high)" \
            awk -v x="$delay" -v lo="$low" -v hi="$high" 'BEGIN { exit !(x >= lo && x <= hi) }'
        compare_run "$n" "$d" "$host/noreply"
    done
else
    not_compared "checkcond, noreply: the tool does not read the id page yet"
fi

# ---- the device never saw anything that writes -------------------------------------------------------
for f in "$results"/usbdev-*.log; do
    name=$(basename "$f" .log)
    check "$name: no data-out command" \
        bash -c "! grep -qE '^cmd .* out len=[1-9]' '$f'"
    check "$name: no writing command" \
        bash -c "! grep -qE '^cmd .*cdb=\[(04|0a|15|2a|2e|3b|41|42|55|89|8a|8e|93|aa|ae|b5)( |\])' '$f'"
done

echo "e2e checks: $passed passed, $failed failed, $missing not compared"
if [ "$missing" -gt 0 ]; then
    echo "**** $missing comparisons could not be made: see NOT COMPARED above ****"
fi
[ "$failed" -eq 0 ]
