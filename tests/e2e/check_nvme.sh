#!/usr/bin/env bash
# Checks the tool's NVMe figures, read through the bridge tunnel from QEMU's NVMe controller,
# against what nvme-cli read from the same controller in the guest, state by state.
#
#   tests/e2e/check_nvme.sh RESULTS_DIR EXPECT_TOOL WORK_DIR
#
# Every field is compared from the tool's --json output and nvme-cli's JSON output; a mismatch
# names the field and both values. The raw pages are compared byte for byte as well. EXPECT_TOOL
# (torvik_e2e_expect) gives what the tool must write when the bridge reports the controller's
# rejection of its SMART read. The exit status is 1 when any check failed.
set -uo pipefail
export LC_ALL=C

results=$(cd "$1" && pwd)
expect_tool=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(cd "$3" && pwd)
# shellcheck source=tests/script_helpers.sh
. "$(dirname "$0")/../script_helpers.sh"

# The fields compared in every state: name, the tool's JSON path, nvme-cli's file and key.
# The tool leaves a temperature threshold out when the drive declares none: that is 0.
fields="
wctemp                 .nvme_identify.warning_composite_temperature_threshold.kelvin // 0  id-ctrl wctemp
cctemp                 .nvme_identify.critical_composite_temperature_threshold.kelvin // 0 id-ctrl cctemp
critical_warning       .nvme_smart.critical_warning.value                     smart-log critical_warning
composite_temperature  .nvme_smart.composite_temperature.kelvin               smart-log temperature
available_spare        .nvme_smart.available_spare                            smart-log avail_spare
available_spare_thresh .nvme_smart.available_spare_threshold                  smart-log spare_thresh
percentage_used        .nvme_smart.percentage_used                            smart-log percent_used
data_units_read        .nvme_smart.data_units_read                            smart-log data_units_read
data_units_written     .nvme_smart.data_units_written                         smart-log data_units_written
host_read_commands     .nvme_smart.host_read_commands                         smart-log host_read_commands
host_write_commands    .nvme_smart.host_write_commands                        smart-log host_write_commands
controller_busy_time   .nvme_smart.controller_busy_time                       smart-log controller_busy_time
power_cycles           .nvme_smart.power_cycles                               smart-log power_cycles
power_on_hours         .nvme_smart.power_on_hours                             smart-log power_on_hours
unsafe_shutdowns       .nvme_smart.unsafe_shutdowns                           smart-log unsafe_shutdowns
media_errors           .nvme_smart.media_and_data_integrity_errors            smart-log media_errors
error_log_entries      .nvme_smart.error_information_log_entries              smart-log num_err_log_entries
"
# The identity, once the tool shows it: trailing spaces trimmed on both sides.
identity_fields="
model_number      .nvme_identify.model_number      id-ctrl mn
serial_number     .nvme_identify.serial_number     id-ctrl sn
firmware_revision .nvme_identify.firmware_revision id-ctrl fr
"

# value FILE FILTER: the value as text ("absent" for none); numbers and decimal strings alike
value() {
    jq -r "($2) as \$v | if \$v == null then \"absent\" else \$v | tostring end" "$1" 2> /dev/null ||
        echo "unreadable"
}
trimmed() { sed 's/ *$//' <<< "$1"; }

# values FILE FILTER...: the values of the filters, one a line, in one pass over the file
values() {
    local file=$1 program="" f
    shift
    for f in "$@"; do
        program="$program(($f) as \$v | if \$v == null then \"absent\" else \$v | tostring end),"
    done
    jq -r "${program%,}" "$file" 2> /dev/null || printf 'unreadable\n%.0s' "$@"
}

# The table split into its columns: names, the tool's paths, nvme-cli's pages and keys.
names=() ours_paths=() pages=() keys=()
while read -r field path; do
    [ -z "$field" ] && continue
    names+=("$field")
    keys+=(".${path##* }")
    path=${path% *}
    pages+=("${path##* }")
    ours_paths+=("${path% *}")
done <<< "$fields"

# state NAME VERDICT STATUS: the tool's figures against nvme-cli's in one state
states_seen=""
states_compared=0
identity_compared=0
state() {
    local name=$1 verdict=$2 status=$3 d=$results/nvme-$1 field path page key bad=0 n=0
    local tool_json=$d/torvik_usb_pssd_flash_id.json
    echo "nvme state $name:"
    if [ ! -f "$tool_json" ] || [ ! -s "$d/smart-log.json" ] || [ ! -s "$d/id-ctrl.json" ]; then
        fail "$name: the tool's JSON or nvme-cli's output is missing (see $d)"
        return
    fi
    local ours=() id_ctrl=() smart_log=() i theirs
    mapfile -t ours < <(values "$tool_json" "${ours_paths[@]}")
    mapfile -t id_ctrl < <(values "$d/id-ctrl.json" "${keys[@]}")
    mapfile -t smart_log < <(values "$d/smart-log.json" "${keys[@]}")
    for i in "${!names[@]}"; do
        theirs=${smart_log[$i]:-}
        [ "${pages[$i]}" = id-ctrl ] && theirs=${id_ctrl[$i]:-}
        n=$((n + 1))
        if [ "${ours[$i]:-}" != "$theirs" ]; then
            fail "$name: ${names[$i]}: tool ${ours[$i]:-}, nvme-cli $theirs"
            bad=$((bad + 1))
        fi
    done
    compared_fields=$n
    [ "$bad" -eq 0 ] && pass "$name: $n fields equal to nvme-cli's"
    if [ "$(value "$tool_json" .nvme_identify.model_number)" != absent ]; then
        identity_compared=1
        while read -r field path; do
            [ -z "$field" ] && continue
            key=${path##* }
            page=${path% *}
            page=${page##* }
            path=${path% * *}
            local mine
            mine=$(trimmed "$(value "$tool_json" "$path")")
            theirs=$(trimmed "$(value "$d/$page.json" ".$key")")
            check "$name: $field: tool '$mine', nvme-cli '$theirs'" [ "$mine" = "$theirs" ]
        done <<< "$identity_fields"
    fi
    check "$name: the Identify page equals nvme-cli's byte for byte" \
        cmp -s "$d/torvik_pssd_nvme_id.bin" "$d/id-ctrl.bin"
    check "$name: the SMART / Health page equals nvme-cli's byte for byte" \
        cmp -s "$d/torvik_pssd_nvme_smart.bin" "$d/smart-log.bin"
    local got
    got=$(value "$tool_json" .health.verdict)
    check "$name: verdict $got (expected $verdict), judged from the tunnel's page" \
        [ "$got" = "$verdict" -a "$(value "$tool_json" .health.source)" = nvme_smart ]
    check "$name: exit status $(cat "$d/status") (expected $status)" [ "$(cat "$d/status")" = "$status" ]
    states_seen="$states_seen $name=$got"
    states_compared=$((states_compared + 1))
}

echo "nvme checks (QEMU's NVMe controller behind the bridge, nvme-cli as the oracle):"
state normal PASSED 0
state written PASSED 0
state hot WARNING 10
state failing FAILED 11
state restored PASSED 0

# The controller really changed state between the runs (nvme-cli's figures).
cli() { value "$results/nvme-$1/smart-log.json" ".$2"; }
for key in data_units_written host_write_commands data_units_read host_read_commands; do
    check "written: $key moved with the harness's I/O ($(cli normal $key) -> $(cli written $key))" \
        [ "$(cli written $key)" -gt "$(cli normal $key)" ] 2> /dev/null
done
check "written: reads and writes differ, in data units and in commands" \
    [ "$(cli written data_units_read)" != "$(cli written data_units_written)" -a \
    "$(cli written host_read_commands)" != "$(cli written host_write_commands)" ]
# bit_set VALUE MASK: VALUE is a number with a bit of MASK set
bit_set() { [[ $1 =~ ^[0-9]+$ ]] && (($1 & $2)); }
check "hot: the controller raised critical warning bit 1 ($(cli hot critical_warning))" \
    bit_set "$(cli hot critical_warning)" 2
check "failing: critical warning 9 set through QEMU's monitor ($(cli failing critical_warning))" \
    [ "$(cli failing critical_warning)" = 9 ]
check "restored: critical warning back to 0 ($(cli restored critical_warning))" \
    [ "$(cli restored critical_warning)" = 0 ]

# ---- a command the controller rejects, asked through the tunnel ------------------------------------
p=$results/nvme-probe
read -r probe_line < "$p/probe.txt" 2> /dev/null
echo "nvme probe: ${probe_line:-nothing}"
check "probe: the call was made" [ "$(cat "$p/status" 2> /dev/null)" = 0 ]
check "probe: the controller answered log page c0 with an error status" \
    grep -qE '^nvme: opcode=02 nsid=ffffffff cdw10=007f00c0 .* -> status=0*[1-9a-f][0-9a-f]* ' \
    "$results/usbdev-nvme.log"
check "probe: the bridge reported CHECK CONDITION" grep -q '^status=02 ' <<< "${probe_line:-}"
# Fixed-format sense: byte 2 the key, byte 12 the additional sense code.
sense=(${probe_line##*sense=})
check "probe: sense ILLEGAL REQUEST, INVALID FIELD IN CDB (${sense[2]:-?}/${sense[12]:-?})" \
    [ "${sense[2]:-}" = 05 -a "${sense[12]:-}" = 24 ]

# ---- the tool's SMART read rejected by the controller: as for the simulated CHECK CONDITION -------
r=$results/nvme-rejected
h=$work/host/nvme-rejected
mkdir -p "$h"
(cd "$h" && "$expect_tool" --fault nvme_smart=check_condition sim 0y < /dev/null > stdout \
    2> stderr
    echo $? > status)
check "rejected: the device's bridge reported the controller's status as CHECK CONDITION" \
    grep -qE '^cmd .*cdb=\[e6 02 00 02 .*\] -> status=1 ' "$results/usbdev-nvme-rejected.log"
check "rejected: exit status as for the simulated CHECK CONDITION" \
    [ "$(cat "$r/status" 2> /dev/null)" = "$(cat "$h/status")" ]
for f in stdout torvik_usb_pssd_flash_id.txt torvik_pssd_flash_id_smart.txt; do
    # The OS and Drive lines (the second and third) differ between the guest and the host.
    if diff -u <(sed '2,3d' "$h/$f") <(sed '2,3d' "$r/$f" 2> /dev/null) > "$work/diff.txt"; then
        pass "rejected: $f as for the simulated CHECK CONDITION"
    else
        fail "rejected: $f as for the simulated CHECK CONDITION"
        head -n 30 "$work/diff.txt" | sed 's/^/        /'
    fi
done
bad=""
for f in $(cd "$h" && ls *.bin); do
    # The Identify page is the real controller's, compared with nvme-cli's above.
    [ "$f" = torvik_pssd_nvme_id.bin ] && continue
    cmp -s "$h/$f" "$r/$f" 2> /dev/null || bad="$bad $f"
done
check "rejected: every other dump as for the simulated CHECK CONDITION${bad:+ - differ:$bad}" \
    [ -z "$bad" ]
check "rejected: the Identify page is still the controller's" \
    cmp -s "$r/torvik_pssd_nvme_id.bin" "$results/nvme-normal/id-ctrl.bin"

# ---- every tunnel form against nvme-cli, and two bridges that are sent none --------------------
# tunnel_cdbs LOG: the first six bytes of every tunnel CDB (0xE6, 0xE4, 0xA1) the device got
tunnel_cdbs() {
    grep -oE 'cdb=\[(e6|e4|a1)( [0-9a-f]{2}){5}' "$1" 2> /dev/null | sed 's/^cdb=\[//'
}
# counted LINES: the distinct lines with their counts, "COUNTx LINE" joined by commas
counted() { sort | uniq -c | awk '{ n = $1; $1 = ""; printf "%s%dx%s", sep, n, $0; sep = "," }'; }
# controller_opcodes LOG: the NVMe opcodes the device passed to the controller, distinct, sorted
controller_opcodes() {
    sed -n 's/^nvme: opcode=\([0-9a-f]*\) .*/\1/p' "$1" 2> /dev/null | sort -u | tr '\n' ' ' |
        sed 's/ $//'
}
# The tunnel CDBs of one tool run with --json --health, in each form: Identify (4096 bytes in)
# and the SMART / Health log (512 bytes in); the 0xA1 form sends each as its three phases.
expected_cdbs() {
    case $1 in
        e6) printf '%s\n' "e6 06 00 01 00 00" "e6 02 00 02 00 00" ;;
        e4) printf '%s\n' "e4 00 10 06 01 00" "e4 00 02 02 02 00" ;;
        a1) printf '%s\n' "a1 80 00 00 02 00" "a1 82 00 00 10 00" "a1 8f 00 00 02 00" \
            "a1 80 00 00 02 00" "a1 82 00 00 02 00" "a1 8f 00 00 02 00" ;;
    esac
}
# disk_unchanged NAME: the namespace's checksum before and after the bridge's case
disk_unchanged() {
    local b=$results/bridge-$1 before after
    before=$(cat "$b/disk-before" 2> /dev/null)
    after=$(cat "$b/disk-after" 2> /dev/null)
    check "$1: the NVMe namespace unchanged (checksum ${before:-none} -> ${after:-none})" \
        [ -n "$before" -a "$before" = "$after" ]
}

forms_summary=()
# bridge_form NAME: the tool through the bridge of that form against nvme-cli, in the normal and
# the failing state
bridge_form() {
    local name=$1 b=$results/bridge-$1 log=$results/usbdev-bridge-$1.log id tunnel
    echo "bridge $name:"
    if ! read -r id tunnel < "$b/bridge" 2> /dev/null || [ ! -s "$log" ]; then
        fail "$name: the guest did not run this bridge's case (see $b)"
        forms_summary+=("$name: NOT RUN")
        return
    fi
    # shellcheck disable=SC2154 # counted by the helpers
    local failed_before=$failed
    state "$name-normal" PASSED 0
    state "$name-failing" FAILED 11
    local got want
    got=$(cat "$results/nvme-$name-normal/device.log" "$results/nvme-$name-failing/device.log" \
        2> /dev/null | tunnel_cdbs /dev/stdin | counted)
    want=$( (expected_cdbs "$tunnel" && expected_cdbs "$tunnel") | counted)
    check "$name ($id): the tunnel CDBs of the two runs are the $tunnel form's: $got" \
        [ "$got" = "$want" ]
    got=$(tunnel_cdbs "$log" | cut -c1-2 | sort -u | tr '\n' ' ')
    check "$name: the device got no other form's tunnel CDB (${got% })" [ "${got% }" = "$tunnel" ]
    got=$(controller_opcodes "$log")
    check "$name: NVMe opcodes that reached the controller: $got (expected 02 06)" [ "$got" = "02 06" ]
    check "$name: the controller answered every forwarded command with success" \
        [ -z "$(grep '^nvme: opcode=' "$log" | grep -v ' -> status=0000 error=0$')" ]
    local state model
    for state in normal failing; do
        model=$(value "$results/nvme-$name-$state/torvik_usb_pssd_flash_id.json" \
            .nvme_identify.model_number)
        check "$name-$state: the identity was there to compare (model '$model')" [ "$model" != absent ]
    done
    # The plain run (no options) reads the pages through the same form, once each.
    local p=$results/nvme-$name-plain plain
    got=$(tunnel_cdbs "$p/device.log" | counted)
    check "$name plain: the run without options sent the $tunnel form's reads: ${got:-none}" \
        [ "$got" = "$(expected_cdbs "$tunnel" | counted)" ]
    check "$name plain: exit status $(cat "$p/status" 2> /dev/null) (expected 0)" \
        [ "$(cat "$p/status" 2> /dev/null)" = 0 ]
    check "$name plain: the Identify page equals nvme-cli's byte for byte" \
        cmp -s "$p/torvik_pssd_nvme_id.bin" "$p/id-ctrl.bin"
    check "$name plain: the SMART / Health page equals nvme-cli's byte for byte" \
        cmp -s "$p/torvik_pssd_nvme_smart.bin" "$p/smart-log.bin"
    plain="pages equal"
    cmp -s "$p/torvik_pssd_nvme_id.bin" "$p/id-ctrl.bin" &&
        cmp -s "$p/torvik_pssd_nvme_smart.bin" "$p/smart-log.bin" || plain="pages DIFFER"
    disk_unchanged "$name"
    local verdicts outcome
    verdicts="$(value "$results/nvme-$name-normal/torvik_usb_pssd_flash_id.json" .health.verdict)"
    verdicts="$verdicts, $(value "$results/nvme-$name-failing/torvik_usb_pssd_flash_id.json" \
        .health.verdict)"
    outcome="all checks passed"
    [ "$failed" -eq "$failed_before" ] || outcome="$((failed - failed_before)) checks FAILED"
    forms_summary+=("$name ($id, $tunnel tunnel): ${compared_fields:-0} fields and the identity\
 against nvme-cli in normal and failing ($verdicts); plain run: $plain; opcodes at the controller:\
 $(controller_opcodes "$log"); namespace checksum $(cat "$b/disk-before" 2> /dev/null) ->\
 $(cat "$b/disk-after" 2> /dev/null); $outcome")
}

echo "bridge checks (each tunnel form, QEMU's NVMe controller behind it, nvme-cli as the oracle):"
for form in e6 e4 a1; do
    bridge_form "$form"
done

# The 0xA1 bridge that garbles the log identifier: the controller's status, carried in the
# completion block, is what the tool reports.
r=$results/bridge-a1/rejected
log=$results/usbdev-bridge-a1-rejected.log
status=$(sed -n 's/^nvme: opcode=02 nsid=ffffffff cdw10=007f00c0 .* -> status=\([0-9a-f]*\) .*/\1/p' \
    "$log" 2> /dev/null | head -1)
completion=$(sed -n 's/^nvme: a1 completion status=\([0-9a-f]*\) .*/\1/p' "$log" 2> /dev/null |
    grep -v '^0000$' | head -1)
check "a1 rejected: the controller refused log page c0 (status ${status:-none})" \
    [ -n "$status" -a "$status" != 0000 ]
check "a1 rejected: the completion block carried that status (${completion:-none})" \
    [ -n "$status" -a "$completion" = "$status" ]
printed=$(grep -o 'NVMe read 0x02 through the USB bridge ended with NVMe status 0x[0-9a-f]*' \
    "$r/stderr" 2> /dev/null)
check "a1 rejected: the tool reports it: '${printed:-nothing}'" \
    [ -n "$status" -a "${printed##*0x}" = "$(printf '%x' "0x${status:-0}")" ]
got=$(value "$r/torvik_usb_pssd_flash_id.json" .health.source)
check "a1 rejected: the verdict is not judged from the bridge's failed read (source $got)" \
    [ "$got" != absent -a "$got" != nvme_smart ]

# bridge_without_form NAME REASON: a bridge with no tunnel of its own. Every run that reads the
# NVMe pages sends it the same reads: 0xE6 for a bridge the table does not list (as the fixed
# sequence does), none for a SATA bridge; the verdict gives REASON; --bridge is refused.
bridge_without_form() {
    local name=$1 b=$results/bridge-$1 log=$results/usbdev-bridge-$1.log id tunnel got
    echo "bridge $name:"
    if ! read -r id tunnel < "$b/bridge" 2> /dev/null || [ ! -s "$log" ]; then
        fail "$name: the guest did not run this bridge's case (see $b)"
        return
    fi
    local reason=${2//ID/$id} sent="" form=absent kind=absent refusal
    refusal="USB bridge $id is not in the bridge table: --bridge for it needs a typed yes"
    if [ "$name" = sata ]; then
        kind=sata
        refusal="USB bridge $id is a SATA bridge"
    else
        sent=$(expected_cdbs e6 | counted)
        form=e6
    fi
    local options=$b/options/torvik_usb_pssd_flash_id.json
    local sent_with_options sent_plain
    sent_with_options=$(tunnel_cdbs "$b/options/device.log" | counted)
    sent_plain=$(tunnel_cdbs "$b/default/device.log" | counted)
    check "$name ($id): --json --health sent ${sent:-no tunnel CDB} (${sent_with_options:-none})" \
        [ "$sent_with_options" = "$sent" ]
    check "$name: the run without options sent the same (${sent_plain:-none})" \
        [ "$sent_plain" = "$sent" ]
    check "$name: the tool ran through to its verdict ($(value "$options" .health.verdict))" \
        [ "$(value "$options" .health.verdict)" != absent -a -s "$b/options/device.log" ]
    got=$(value "$options" '[.health.reasons[] | select(.field == "usb_bridge") | .text] | first')
    check "$name: the verdict's reasons say why: '$got'" [ "$got" = "$reason" ]
    check "$name: the run without options says it on standard error" \
        grep -qF "$reason" "$b/default/stderr"
    check "$name: the JSON names the bridge $id, form $form, kind $kind" \
        [ "$(value "$options" .drive.usb_bridge.id)" = "$id" -a \
        "$(value "$options" .drive.usb_bridge.form)" = "$form" -a \
        "$(value "$options" .drive.usb_bridge.kind)" = "$kind" ]
    check "$name: --bridge=a1:$id is refused ('$refusal')" grep -qF "$refusal" "$b/forced/stderr"
    got=$(tunnel_cdbs "$b/forced/device.log" | counted)
    check "$name: the refused --bridge run sent no tunnel CDB (${got:-none})" [ -z "$got" ]
    got=$(grep -c 'cdb=\[a1 ' "$log")
    check "$name: no 0xA1 CDB reached the device in its three runs ($got)" [ "$got" = 0 ]
    refusals_summary+=("$name ($id): tunnel CDBs from --json --health: ${sent_with_options:-none};\
 without options: ${sent_plain:-none}; reason '$(value \
        "$options" '[.health.reasons[] | select(.field == "usb_bridge") | .text] | first')';\
 0xA1 CDBs in its three runs: $(grep -c 'cdb=\[a1 ' "$log")")
}
refusals_summary=()
bridge_without_form unknown \
    "NVMe health not read: USB bridge ID is not in the bridge table and did not answer the 0xE6 tunnel (see --bridge)"
bridge_without_form sata "USB bridge ID is a SATA bridge: it has no NVMe health to read"

echo "nvme summary: ${compared_fields:-0} fields compared with nvme-cli in each of $states_compared states" \
    "($([ "$failed" -eq 0 ] && echo "all equal" || echo "$failed checks failed")): ${names[*]}"
echo "nvme summary: verdicts:$states_seen"
for line in "${forms_summary[@]}" "${refusals_summary[@]}"; do
    echo "bridge summary: $line"
done
if [ "$identity_compared" = 1 ]; then
    echo "nvme summary: identity: model, serial and firmware compared"
else
    echo "nvme summary: identity: not compared (the tool does not show the NVMe identity yet)"
fi
checks_done nvme
