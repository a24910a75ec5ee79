#!/usr/bin/env bash
# Checks what the end-to-end guest brought back against what the tool does on the host.
#
#   tests/e2e/check_e2e.sh RESULTS_DIR HOST_TOOL WORK_DIR
#
# Every check prints one line; the exit status is 1 when any check failed.
set -uo pipefail
export LC_ALL=C

results=$1
host_tool=$2
work=$3
failed=0
passed=0

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

line() { sed -n "${2}p" "$1"; }

echo "e2e checks:"
for c in usb virtio listing; do
    [ -f "$results/$c/status" ] || fail "case $c did not run"
done

# ---- the virtio disk is refused -----------------------------------------------------------------
v=$results/virtio
check "virtio: banner" [ "$(line "$v/stdout" 1)" = "Torvik usb/pssd flash id v0.2a by tarn" ]
check "virtio: refused as not USB, nothing else" \
    [ "$(tail -n +3 "$v/stdout")" = "Drive interface is not USB, exit!" ]
check "virtio: exit status 3" [ "$(cat "$v/status")" = 3 ]
check "virtio: no report file" [ ! -e "$v/torvik_usb_pssd_flash_id.txt" ]

# ---- the listing at the prompt ----------------------------------------------------------------
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

# ---- the USB disk --------------------------------------------------------------------------------
u=$results/usb
check "usb: exit status 0" [ "$(cat "$u/status")" = 0 ]
check "usb: console header" [ "$(line "$u/stdout" 3)" = "Drive: 0(USB)" ]
check "usb: report header" [ "$(head -n 2 "$u/torvik_usb_pssd_flash_id.txt" 2> /dev/null)" = \
    "$(printf 'v0.2a\nDrive: 0(USB)')" ]

# ---- the device never saw anything that writes ---------------------------------------------------
for f in "$results"/usbdev-*.log; do
    name=$(basename "$f" .log)
    check "$name: no data-out command" \
        bash -c "! grep -E '^cmd .* out len=[1-9]' '$f'"
    check "$name: no writing command" \
        bash -c "! grep -qE '^cmd .*cdb=\[(04|0a|15|2a|2e|3b|41|42|55|89|8a|8e|93|aa|ae|b5)( |\])' '$f'"
done

echo "e2e checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
