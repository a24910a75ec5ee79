#!/bin/busybox sh
# /init of the end-to-end guest: loads the USB, SCSI and virtio modules, builds a configfs gadget
# whose one function is our user-space mass-storage device, binds it to the dummy host
# controller, runs the tool against the disk usb-storage makes of it and against the virtio disk,
# and writes everything it saw as a tar archive onto the virtio disk. The host reads that back.

/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
echo "E2E: init started at $(cut -d' ' -f1 /proc/uptime)"

R=/results
mkdir -p $R
cut -d' ' -f1 /proc/uptime > $R/uptime-init
TOOL=/e2e/torvik_usb_pssd_flash_id
GADGET=/sys/kernel/config/usb_gadget/e2e
DEVICE_PID=

note() { echo "E2E: $*"; echo "$*" >> $R/guest.log; }

finish() {
    cut -d' ' -f1 /proc/uptime > $R/uptime-done
    dmesg > $R/dmesg.txt
    [ -n "$DEVICE_PID" ] && kill "$DEVICE_PID" 2>/dev/null
    # The results disk is the virtio disk the tool was refused on: written only now.
    (cd $R && tar -cf /dev/vda .) && sync
    note "results written"
    echo "E2E: done"
    poweroff -f
}

# waits up to $2 tenths of a second for the shell condition $1
wait_for() {
    n=0
    while ! eval "$1"; do
        n=$((n + 1))
        [ $n -ge "$2" ] && return 1
        sleep 0.1
    done
    return 0
}

while read -r module args; do
    insmod "/lib/e2e/$module" $args 2>> $R/insmod.log || note "insmod $module failed (see insmod.log)"
done < /lib/e2e/modules.list

mount -t configfs configfs /sys/kernel/config || { note "no configfs"; finish; }
mkdir $GADGET $GADGET/strings/0x409 $GADGET/configs/c.1 $GADGET/functions/ffs.storage
# The 0xE6 bridge of the bridge table, so that --health and --json read the NVMe pages through
# that tunnel; no usb-storage quirk entry names this ID.
echo 0x174c > $GADGET/idVendor
echo 0x2362 > $GADGET/idProduct
echo 0x0200 > $GADGET/bcdUSB
echo "E2E0001" > $GADGET/strings/0x409/serialnumber
echo "Torvik e2e" > $GADGET/strings/0x409/manufacturer
echo "USB storage" > $GADGET/strings/0x409/product
ln -s $GADGET/functions/ffs.storage $GADGET/configs/c.1/
mkdir -p /dev/ffs
mount -t functionfs storage /dev/ffs || { note "no functionfs"; finish; }

usb_disk() {
    for d in /sys/block/sd*; do
        [ -b "/dev/${d##*/}" ] || continue
        [ -e "$d/device/scsi_generic" ] || ! grep -qw '^sg' /proc/modules || continue
        echo "${d##*/}"
        return 0
    done
    return 1
}

# start_device NAME [device options...]: the device, bound and seen as a disk
start_device() {
    name=$1
    shift
    rm -f /tmp/ready
    /e2e/torvik_usbdev --log "$R/usbdev-$name.log" --ready /tmp/ready "$@" /dev/ffs &
    DEVICE_PID=$!
    DEVICE_LOG=$R/usbdev-$name.log
    wait_for '[ -e /tmp/ready ]' 100 || { note "device $name did not start"; return 1; }
    echo dummy_udc.0 > $GADGET/UDC
    if ! wait_for 'usb_disk > /dev/null' 300; then
        note "device $name: no disk after 30 s"
        return 1
    fi
    disk=$(usb_disk)
    sg=$(ls "/sys/block/$disk/device/scsi_generic" 2> /dev/null)
    [ -n "$sg" ] && wait_for "[ -c /dev/$sg ]" 50
    note "device $name: /dev/$disk ${sg:+/dev/$sg }at $(cut -d' ' -f1 /proc/uptime)"
    return 0
}

stop_device() {
    echo "" > $GADGET/UDC
    wait_for '! usb_disk > /dev/null' 100 || note "the USB disk did not go away"
    kill "$DEVICE_PID" 2>/dev/null
    wait "$DEVICE_PID" 2>/dev/null
    DEVICE_PID=
}

# start_watch NAME PATH...: every open and close of the paths, logged to opens-NAME.log
start_watch() {
    name=$1
    shift
    rm -f /tmp/watching
    /e2e/torvik_e2e_open_watch --ready /tmp/watching "$@" > "$R/opens-$name.log" 2>&1 &
    WATCH_PID=$!
    wait_for '[ -e /tmp/watching ]' 50 || note "watch $name did not start"
}

stop_watch() {
    sleep 0.5  # the watcher prints the last close events
    kill "$WATCH_PID" 2>/dev/null
    wait "$WATCH_PID" 2>/dev/null
}

# run_case NAME ARGUMENT [INPUT]: the tool in its own directory, its console and exit status kept
run_case() {
    mkdir -p "$R/$1"
    start=$(cut -d' ' -f1 /proc/uptime)
    if [ -n "$3" ]; then
        (cd "$R/$1" && echo "$3" | timeout 120 $TOOL > stdout 2> stderr)
    elif [ -n "$2" ]; then
        (cd "$R/$1" && timeout 120 $TOOL "$2" < /dev/null > stdout 2> stderr)
    fi
    echo $? > "$R/$1/status"
    end=$(cut -d' ' -f1 /proc/uptime)
    echo "$start $end" > "$R/$1/uptime"
    note "case $1: status $(cat "$R/$1/status"), $start..$end"
}

wait_for '[ -b /dev/vda ]' 100 || note "no virtio disk"

# The tool's own simulated drive (--sim) behind USB, on a write-protected medium: the kernel
# marks the disk read-only and refuses to open its block node for writing.
start_device sim --profile sim --write-protected || finish
for d in /sys/block/*; do echo "${d##*/} $(readlink -f "$d")"; done > $R/sysfs-block.txt
cat "/sys/block/$disk/ro" > $R/usb-ro
nodes="/dev/$disk ${sg:+/dev/$sg} /dev/vda"
echo "$nodes" > $R/watched-nodes
# The watch must see an open for writing: one read-write open of each node, the block node's
# refused on this medium.
start_watch control $nodes
for node in $nodes; do
    (exec 3<> "$node") 2> /dev/null
    echo "$node $?" >> $R/rw-open-status
done
stop_watch
# Drive numbers follow the natural order of /sys/block: the USB disk sda is 0, vda is 1.
start_watch runs $nodes
run_case usb 0y
run_case virtio 1y
run_case listing "" 99y
stop_watch

# ---- the drive by its OS names, the drive list, an output folder ----
# run_args NAME ARGUMENT...: as run_case, with any number of arguments
run_args() {
    name=$1
    shift
    mkdir -p "$R/$name"
    (cd "$R/$name" && timeout 120 $TOOL "$@" < /dev/null > stdout 2> stderr)
    echo $? > "$R/$name/status"
    note "case $name: status $(cat "$R/$name/status")"
}
# No udev in this guest: the by-id link is made as udev would make it.
mkdir -p /dev/disk/by-id
ln -sf ../../sda /dev/disk/by-id/usb-Test_Disk-0:0
run_args device --device /dev/sda y
run_args device-path /dev/sda y
run_args device-byid y --device /dev/disk/by-id/usb-Test_Disk-0:0
run_args device-sg --device "/dev/$(ls /sys/block/sda/device/scsi_generic)" y
run_args list --list
run_args list-json --list --json
run_args outdir 0y --output-dir files
# Every USB drive in one call: the USB disk examined into its folder, the virtio disk skipped.
run_args all --all
# ---- end of the OS names block ----
stop_device
# With the virtio disk alone there is no USB drive to examine.
run_args all-none --all

# Every page byte non-zero: a byte lost or moved on the way shows in the dumps.
if start_device patterned --profile patterned; then
    run_case patterned 0y
    stop_device
fi
# Larger than 2 TiB: READ CAPACITY (16), for the kernel and for the tool.
if start_device large --profile sim:large; then
    run_case large 0y
    stop_device
fi
if start_device checkcond --profile sim --check-condition 0600fd13; then
    run_case checkcond 0y
    stop_device
fi
if start_device noreply --profile sim --no-reply 0600fd13; then
    run_case noreply 0y
    # The device must answer again after the host's reset.
    run_case noreply-after 0y
    stop_device
fi
# ---- a real NVMe controller behind the bridge ----
# The device passes its tunnel's admin commands to QEMU's NVMe controller; nvme-cli reads the
# same controller directly. Loaded only now: an NVMe disk would have changed the drive listing.
nvme_cli() { LD_LIBRARY_PATH=/usr/lib/e2e-nvme /e2e/nvme "$@"; }

# run_logged DIR ARGUMENT...: the tool in DIR with its console and exit status kept, and the
# device's log lines of that run in DIR/device.log
run_logged() {
    dir=$1
    shift
    mkdir -p "$dir"
    before=$(wc -l < "$DEVICE_LOG")
    (cd "$dir" && timeout 120 $TOOL "$@" < /dev/null > stdout 2> stderr)
    echo $? > "$dir/status"
    tail -n +$((before + 1)) "$DEVICE_LOG" > "$dir/device.log"
}

# nvme_state NAME: the tool with --json --health on the USB disk, then nvme-cli on the controller
nvme_state() {
    d=$R/nvme-$1
    run_logged "$d" --json --health 0y
    for page in id-ctrl smart-log; do
        nvme_cli $page /dev/nvme0 -o json > "$d/$page.json" 2>> "$d/nvme-cli.err"
        nvme_cli $page /dev/nvme0 -o binary > "$d/$page.bin" 2>> "$d/nvme-cli.err"
    done
    note "nvme state $1: tool status $(cat "$d/status")"
}

# plain_state NAME: the tool with no option, then nvme-cli's raw pages for its dumps
plain_state() {
    d=$R/nvme-$1
    run_logged "$d" 0y
    for page in id-ctrl smart-log; do
        nvme_cli $page /dev/nvme0 -o binary > "$d/$page.bin" 2>> "$d/nvme-cli.err"
    done
    note "nvme plain run $1: tool status $(cat "$d/status")"
}

# critical_warning: the controller's critical warning as nvme-cli reads it
critical_warning() {
    nvme_cli smart-log /dev/nvme0 -o json 2> /dev/null |
        sed -n 's/^[[:space:]]*"critical_warning"[[:space:]]*:[[:space:]]*\([0-9]*\).*/\1/p'
}

# set_critical_warning VALUE: asks the host to set it through QEMU's monitor, waits until it shows
set_critical_warning() {
    echo "E2E: monitor smart_critical_warning $1"
    wait_for "[ \"\$(critical_warning)\" = $1 ]" 150 || note "critical warning $1 did not show"
}

nvme_cases() {
    while read -r module args; do
        insmod "/lib/e2e/$module" $args 2>> $R/insmod.log || note "insmod $module failed"
    done < /lib/e2e/nvme.list
    wait_for '[ -c /dev/nvme0 ] && [ -b /dev/nvme0n1 ]' 100 || { note "no NVMe controller"; return; }
    start_device nvme --profile sim --nvme /dev/nvme0 || return
    nvme_state normal
    # The harness's writes and reads on the namespace move the data units and host commands, and
    # in different amounts, so that a field read at another counter's offset shows.
    dd if=/dev/urandom of=/dev/nvme0n1 bs=64k count=16 conv=fsync 2> /dev/null
    echo 3 > /proc/sys/vm/drop_caches
    dd if=/dev/nvme0n1 of=/dev/null bs=64k count=96 2> /dev/null
    nvme_state written
    # An over-temperature threshold below the composite temperature raises warning bit 1.
    threshold=$(nvme_cli get-feature /dev/nvme0 -f 4 2> /dev/null |
        sed -n 's/.*Current value:\(0x[0-9a-fA-F]*\).*/\1/p')
    echo "${threshold:-none}" > $R/nvme-threshold
    nvme_cli set-feature /dev/nvme0 -f 4 -v 300 > /dev/null 2>&1 || note "set-feature failed"
    nvme_state hot
    [ -n "$threshold" ] && nvme_cli set-feature /dev/nvme0 -f 4 -v $((threshold)) > /dev/null 2>&1
    # Spare below threshold and media read-only (bits 0 and 3), set by QEMU as a controller would.
    set_critical_warning 9
    nvme_state failing
    set_critical_warning 0
    nvme_state restored
    # The test's own probe asks for a log page the controller does not have.
    mkdir -p $R/nvme-probe
    /e2e/torvik_e2e_tunnel_probe "/dev/${sg:-$disk}" 02 c0 512 > $R/nvme-probe/probe.txt 2>&1
    echo $? > $R/nvme-probe/status
    stop_device
    # A bridge that garbles the log identifier: the controller rejects the tool's SMART read.
    if start_device nvme-rejected --profile sim --nvme /dev/nvme0 --tunnel-log-id c0; then
        run_case nvme-rejected 0y
        stop_device
    fi
}
nvme_cases

# ---- every tunnel form, and two bridges that must never be sent one ----
# All in this boot: between the cases the gadget is unbound, given the bridge's USB ID and bound
# again, with the device playing that bridge. The real IDs are those of the tool's bridge table.
# This kernel's usb-storage quirk lists name two of them, 152d:0583 (NO_REPORT_OPCODES) and
# 152d:0578 (BROKEN_FUA); neither flag touches a command the tool sends, and neither is
# NO_ATA_1X, which would have the driver answer 0xA1 itself. 174c:2362 and 0bda:9210 are in no
# list. The host's check finds the 0xA1 phases in the device's log, so a driver that answered
# them would show.
set_usb_id() {
    echo "0x$1" > $GADGET/idVendor
    echo "0x$2" > $GADGET/idProduct
}

# disk_sum: a checksum of the NVMe namespace's contents, read past the page cache
disk_sum() {
    echo 3 > /proc/sys/vm/drop_caches
    md5sum < /dev/nvme0n1 | cut -d' ' -f1
}

# bridge_case NAME VID PID TUNNEL: the device as a bridge of that USB ID and tunnel form ("none":
# it knows no tunnel). A form is compared with nvme-cli in the normal and the failing state and
# in the plain run (no options), with the namespace's checksum before and after; a bridge with no
# form gets the tool with the options that need the NVMe pages, the default run, and --bridge
# naming the 0xA1 form for it.
bridge_case() {
    bdir=$R/bridge-$1
    mkdir -p "$bdir"
    echo "$2:$3 $4" > "$bdir/bridge"
    [ "$4" = none ] || echo "$namespace_sum" > "$bdir/disk-before"
    set_usb_id "$2" "$3"
    if [ "$4" = none ]; then
        start_device "bridge-$1" --profile sim --tunnel none || return
        run_logged "$bdir/options" --json --health 0y
        run_logged "$bdir/default" 0y
        run_logged "$bdir/forced" "--bridge=a1:$2:$3" --json --health 0y
        stop_device
    else
        start_device "bridge-$1" --profile sim --nvme /dev/nvme0 --tunnel "$4" || return
        nvme_state "$1-normal"
        plain_state "$1-plain"
        set_critical_warning 9
        nvme_state "$1-failing"
        set_critical_warning 0
        stop_device
    fi
    # The 0xA1 bridge garbles the log identifier: the controller's status comes back in the
    # completion block.
    if [ "$4" = a1 ] &&
        start_device "bridge-$1-rejected" --profile sim --nvme /dev/nvme0 --tunnel a1 \
            --tunnel-log-id c0; then
        run_logged "$bdir/rejected" --json --health 0y
        stop_device
    fi
    if [ "$4" != none ]; then
        namespace_sum=$(disk_sum)
        echo "$namespace_sum" > "$bdir/disk-after"
    fi
    note "bridge $1 ($2:$3, tunnel $4) at $(cut -d' ' -f1 /proc/uptime)"
}

if [ -b /dev/nvme0n1 ]; then
    namespace_sum=$(disk_sum)
    bridge_case e6 174c 2362 e6
    bridge_case e4 0bda 9210 e4
    bridge_case a1 152d 0583 a1
    bridge_case unknown f0e1 0d0c none
    bridge_case sata 152d 0578 none
    set_usb_id 174c 2362
fi

# Without the sg driver the tool has only the block node, whose time-out is at least 7 s.
if rmmod sg && start_device blocknode --profile sim --no-reply 0600fd13; then
    run_case noreply-block 0y
    stop_device
fi
finish
