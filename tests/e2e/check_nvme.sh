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

echo "nvme summary: ${compared_fields:-0} fields compared with nvme-cli in each of 5 states" \
    "($([ "$failed" -eq 0 ] && echo "all equal" || echo "$failed checks failed")): ${names[*]}"
echo "nvme summary: verdicts:$states_seen"
if [ "$identity_compared" = 1 ]; then
    echo "nvme summary: identity: model, serial and firmware compared"
else
    echo "nvme summary: identity: not compared (the tool does not show the NVMe identity yet)"
fi
checks_done nvme
