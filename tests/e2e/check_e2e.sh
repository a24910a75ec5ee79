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

results=$1
expect_tool=$2
profile=patterned
work=$3
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
for c in usb virtio listing checkcond noreply noreply-after; do
    [ -f "$results/$c/status" ] || fail "case $c did not run"
done

# ---- the host's run against the same drive model ---------------------------------------------------

host=$work/host
mkdir -p "$host/sim" "$host/listing"
(cd "$host/sim" && "$expect_tool" $profile 0y < /dev/null > stdout 2> stderr; echo $? > status)
(cd "$host/listing" && echo 99y | "$expect_tool" $profile > stdout 2> stderr; echo $? > status)
check "host: the expected run worked" [ "$(cat "$host/sim/status")" = 0 ]
# The fault profiles act on the id page; they mean something once the report reads it.
reads_id=0
[ -f "$host/sim/torvik_pssd_id.bin" ] && reads_id=1

# compare_run NAME GUEST_DIR [DUMP_EXPECTED_ZERO]: console, report, health log and every dump of a
# guest run equal to the host's --sim run (after the OS and Drive lines); the one named dump, if
# given, must instead be all zeros of the same length.
compare_run() {
    local name=$1 guest=$2 zero=${3:-}
    body "$host/sim/stdout" > "$work/expected.txt"
    body "$guest/stdout" > "$work/actual.txt"
    same_text "$name: console equals the simulated drive's" "$work/expected.txt" "$work/actual.txt"
    body "$host/sim/torvik_usb_pssd_flash_id.txt" > "$work/expected.txt"
    body "$guest/torvik_usb_pssd_flash_id.txt" > "$work/actual.txt"
    same_text "$name: report equals the simulated drive's" "$work/expected.txt" "$work/actual.txt"
    compare_files "$name" "$guest" "$zero"
}

# compare_files NAME GUEST_DIR [DUMP_EXPECTED_ZERO [DUMP_NOT_COMPARED]]: health log and dumps
compare_files() {
    local name=$1 guest=$2 zero=${3:-} skip=${4:-} f bad=""
    if [ -f "$host/sim/torvik_pssd_flash_id_smart.txt" ] || [ -f "$guest/torvik_pssd_flash_id_smart.txt" ]; then
        same_text "$name: health log equals the simulated drive's" \
            "$host/sim/torvik_pssd_flash_id_smart.txt" "$guest/torvik_pssd_flash_id_smart.txt"
    fi
    same_text "$name: the same dump files" <(cd "$host/sim" && ls *.bin 2> /dev/null) \
        <(cd "$guest" && ls *.bin 2> /dev/null)
    for f in $(cd "$host/sim" && ls *.bin 2> /dev/null); do
        [ "$f" = "$skip" ] && continue
        if [ "$f" = "$zero" ]; then
            cmp -s "$guest/$f" <(head -c "$(stat -c %s "$host/sim/$f")" /dev/zero) || bad="$bad $f"
        else
            cmp -s "$host/sim/$f" "$guest/$f" || bad="$bad $f"
        fi
    done
    check "$name: every dump byte for byte${zero:+ ($zero all zeros)}${bad:+ - differ:$bad}" \
        [ -z "$bad" ]
}

# ---- the USB disk ------------------------------------------------------------------------------------
u=$results/usb
check "usb: exit status 0" [ "$(cat "$u/status")" = 0 ]
check "usb: console header" [ "$(line "$u/stdout" 3)" = "Drive: 0(USB)" ]
check "usb: report header" [ "$(head -n 2 "$u/torvik_usb_pssd_flash_id.txt" 2> /dev/null)" = \
    "$(printf 'v0.2a\nDrive: 0(USB)')" ]
compare_run usb "$u"

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
    check "checkcond: exit status 0" [ "$(cat "$k/status")" = 0 ]
    check "checkcond: no failure line" bash -c "! grep -q 'failed 0x' '$k/stdout'"
    compare_run checkcond "$k" torvik_pssd_id.bin

    for n in noreply noreply-after; do
        d=$results/$n
        check "$n: the device left 06 00 fd 13 unanswered" \
            grep -qE '^cmd .*cdb=\[06 00 fd 13 .*\] -> no reply' "$results/usbdev-noreply.log"
        check "$n: exit status 0" [ "$(cat "$d/status")" = 0 ]
        check "$n: the transport's line, then the report's, with the time-out code" \
            [ "$(grep -E '^IOCtl: ' "$d/stdout")" = \
            "$(printf 'IOCtl: failed 0x%s!\nIOCtl: ReadInfo failed 0x%s!' $timeout_code $timeout_code)" ]
        check "$n: the report file has the report's line" \
            [ "$(grep -E '^IOCtl: ' "$d/torvik_usb_pssd_flash_id.txt")" = \
            "IOCtl: ReadInfo failed 0x$timeout_code!" ]
        # About 2 s on the sg node (the block node would have raised the time-out to 7 s).
        read -r s0 e0 < "$u/uptime"
        read -r s1 e1 < "$d/uptime"
        delay=$(awk -v a="$s0" -v b="$e0" -v c="$s1" -v d="$e1" \
            'BEGIN { printf "%.1f", (d - c) - (b - a) }')
        check "$n: the time-out cost ${delay} s (expected 1.5 to 6.5)" \
            awk -v x="$delay" 'BEGIN { exit !(x >= 1.5 && x <= 6.5) }'
        body "$host/sim/stdout" > "$work/expected.txt"
        body "$d/stdout" | grep -vE '^IOCtl: (ReadInfo )?failed 0x' > "$work/actual.txt"
        same_text "$n: console otherwise equals the simulated drive's" \
            "$work/expected.txt" "$work/actual.txt"
        body "$host/sim/torvik_usb_pssd_flash_id.txt" > "$work/expected.txt"
        body "$d/torvik_usb_pssd_flash_id.txt" | grep -vE '^IOCtl: ReadInfo failed 0x' \
            > "$work/actual.txt"
        same_text "$n: report otherwise equals the simulated drive's" \
            "$work/expected.txt" "$work/actual.txt"
        compare_files "$n" "$d" "" torvik_pssd_id.bin
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
