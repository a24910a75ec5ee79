#!/usr/bin/env bash
# End-to-end test of the Linux build through a real kernel's USB storage stack.
#
#   tests/e2e/run_e2e.sh [BUILD_DIR]
#
# Boots the distribution's stock kernel under QEMU (fetched with apt-get download and unpacked,
# never installed) with a busybox initramfs. In the guest, a configfs gadget on the dummy host
# controller carries our user-space mass-storage device (torvik_usbdev); usb-storage and sd_mod
# make a disk of it. The tool runs against that disk, against a virtio disk and at its drive
# prompt; the results come back on the virtio disk and are compared here with what the tool
# writes on the host against the same drive model (--sim, or torvik_e2e_expect for the models
# with a fault).
#
# A QEMU NVMe controller stands behind the device's bridge tunnel for the last cases: nvme-cli
# (fetched with apt-get download with its libraries, unpacked, never installed) reads the same
# controller in the guest, and its answers are the oracle for the tool's NVMe figures. The
# harness drives the controller into other states between the runs: data written to its
# namespace and its temperature threshold changed from the guest, its critical warning set
# through QEMU's monitor on the guest's request.
#
# Exit status: 0 all checks passed, 1 a check failed or the guest did not finish,
# 77 skipped: QEMU, the kernel or nvme-cli could not be had (never counted as passed).
#
# Environment: TORVIK_E2E_ACCEL=tcg|kvm forces the accelerator; TORVIK_E2E_TIMEOUT the guest's
# time limit in seconds (default 600).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(mkdir -p "${1:-$repo/build-e2e}" && cd "${1:-$repo/build-e2e}" && pwd)
cache=$build/e2e-cache
work=$build/e2e-run
guest_timeout=${TORVIK_E2E_TIMEOUT:-600}
export LC_ALL=C

t_start=$(date +%s.%N)
# shellcheck disable=SC2034 # read by the helpers
script_label=E2E
# shellcheck source=tests/script_helpers.sh
. "$here/../script_helpers.sh"
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
log() { echo "e2e: $*"; }

# ---- host tools --------------------------------------------------------------------------------

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo > /dev/null && sudo -n true 2> /dev/null; then
        sudo "$@"
    else
        return 1
    fi
}

apt_get() {
    # Another job may hold the dpkg lock: wait for it rather than fail.
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

static_busybox() {
    [ -x /bin/busybox ] && ! readelf -d /bin/busybox 2> /dev/null | grep -q NEEDED
}

need=()
command -v qemu-system-x86_64 > /dev/null || need+=(qemu-system-x86)
command -v cpio > /dev/null || need+=(cpio)
command -v depmod > /dev/null || need+=(kmod)
command -v xz > /dev/null || need+=(xz-utils)
command -v readelf > /dev/null || need+=(binutils)
command -v jq > /dev/null || need+=(jq)
command -v readelf > /dev/null && static_busybox || need+=(busybox-static)
if [ ${#need[@]} -gt 0 ]; then
    log "installing ${need[*]}"
    if ! apt_get install -y -qq --no-install-recommends "${need[@]}" > "$build/e2e-apt.log" 2>&1; then
        apt_get update -qq >> "$build/e2e-apt.log" 2>&1
        apt_get install -y -qq --no-install-recommends "${need[@]}" >> "$build/e2e-apt.log" 2>&1 ||
            skip "cannot install ${need[*]} (see $build/e2e-apt.log)"
    fi
fi
static_busybox || skip "/bin/busybox is not the static build"

# ---- the project's binaries --------------------------------------------------------------------

tool_static=$build/tests/e2e/torvik_usb_pssd_flash_id_static
usbdev=$build/tests/e2e/torvik_usbdev
tool_host=$build/torvik_usb_pssd_flash_id
expect=$build/tests/e2e/torvik_e2e_expect
watch=$build/tests/e2e/torvik_e2e_open_watch
probe=$build/tests/e2e/torvik_e2e_tunnel_probe
if [ ! -x "$tool_static" ] || [ ! -x "$usbdev" ] || [ ! -x "$expect" ] || [ ! -x "$tool_host" ] ||
    [ ! -x "$watch" ] || [ ! -x "$probe" ]; then
    log "building the guest programs in $build"
    cmake -S "$repo" -B "$build" -DTORVIK_BUILD_E2E=ON > /dev/null || die "cmake failed"
    cmake --build "$build" -j2 --target torvik_usb_pssd_flash_id torvik_e2e_expect \
        torvik_usb_pssd_flash_id_static torvik_usbdev torvik_e2e_open_watch \
        torvik_e2e_tunnel_probe > /dev/null || die "build failed"
fi

# ---- the stock kernel, cached in the build folder ----------------------------------------------

current_kernel_package() {
    apt-cache depends linux-image-amd64 2> /dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

# Unpacks the kernel package into $1: the uncompressed vmlinux (booted through its PVH entry,
# much faster under TCG than the compressed image), the bzImage as a fallback, the modules the
# guest needs in load order, and nothing else.
prepare_kernel() {
    local pkg=$1 dir=$2 tmp
    tmp=$(mktemp -d "$cache/tmp.XXXXXX")
    (cd "$tmp" && apt-get download "$pkg" > download.log 2>&1) || {
        rm -rf "$tmp"
        return 1
    }
    mkdir -p "$tmp/root"
    dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp/root" || {
        rm -rf "$tmp"
        return 1
    }
    local version bz
    version=$(ls "$tmp/root/lib/modules" | head -1)
    bz=$(ls "$tmp"/root/boot/vmlinuz-* | head -1)
    mkdir -p "$tmp/out/modules"
    cp "$bz" "$tmp/out/bzImage"
    local offset
    offset=$(grep -obUaP '\xfd7zXZ\x00' "$bz" | head -1 | cut -d: -f1)
    if [ -n "$offset" ]; then
        tail -c +$((offset + 1)) "$bz" | xz -dc --single-stream > "$tmp/out/vmlinux" 2> /dev/null
        # XEN_ELFNOTE_PHYS32_ENTRY (18): the PVH entry QEMU boots an ELF kernel through.
        readelf -n "$tmp/out/vmlinux" 2> /dev/null | grep -q 'Xen.*(0x00000012)' ||
            rm -f "$tmp/out/vmlinux"
    fi
    depmod -b "$tmp/root" "$version" || {
        rm -rf "$tmp"
        return 1
    }
    # virtio-rng feeds the guest's random number generator: without it the first program that
    # asks for random bytes (the tool, for its temporary file names) waits seconds under TCG.
    local wanted="usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_fs
        scsi_common scsi_mod usb-storage sd_mod sg virtio virtio_ring virtio_pci virtio_blk
        virtio-rng"
    local m path name
    # The CPU-specific CRC module is left out: TCG's CPU model lacks the instruction, and the
    # generic module serves the same algorithm.
    : > "$tmp/out/modules.list"
    for m in $wanted; do
        modprobe -d "$tmp/root" -S "$version" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
    done | awk '!seen[$0]++' | grep -v -- '-pclmul\.ko$' | while read -r path; do
        name=$(basename "$path")
        cp "$path" "$tmp/out/modules/$name"
        case $name in
            usb-storage.ko) echo "$name delay_use=0" ;;  # no 1 s wait before the scan
            *) echo "$name" ;;
        esac >> "$tmp/out/modules.list"
    done
    # The NVMe driver is loaded later, once the cases that count the guest's disks have run.
    for path in $(modprobe -d "$tmp/root" -S "$version" --show-depends nvme |
        awk '$1 == "insmod" { print $2 }' | grep -v -- '-pclmul\.ko$'); do
        name=$(basename "$path")
        grep -qx "$name.*" "$tmp/out/modules.list" && continue
        cp "$path" "$tmp/out/modules/$name"
        echo "$name" >> "$tmp/out/nvme.list"
    done
    grep -q dummy_hcd "$tmp/out/modules.list" && grep -q '^nvme\.ko' "$tmp/out/nvme.list" || {
        rm -rf "$tmp"
        return 1
    }
    echo "$pkg $version" > "$tmp/out/version"
    echo "$kernel_layout" > "$tmp/out/layout"
    rm -rf "$dir"
    mv "$tmp/out" "$dir"
    rm -rf "$tmp"
}

# Raised whenever the cached kernel folder gains something: an older one is prepared again.
kernel_layout=2
cached_layout() { [ "$(cat "$1/layout" 2> /dev/null)" = "$kernel_layout" ]; }

mkdir -p "$cache"
t_kernel=$(date +%s.%N)
pkg=$(current_kernel_package)
if [ -z "$pkg" ]; then
    apt_get update -qq > /dev/null 2>&1
    pkg=$(current_kernel_package)
fi
kernel=
if [ -n "$pkg" ] && [ -f "$cache/$pkg/version" ] && cached_layout "$cache/$pkg"; then
    kernel=$cache/$pkg
elif [ -n "$pkg" ]; then
    log "fetching $pkg"
    if prepare_kernel "$pkg" "$cache/$pkg" || { apt_get update -qq > /dev/null 2>&1 &&
        prepare_kernel "$pkg" "$cache/$pkg"; }; then
        kernel=$cache/$pkg
        # Older kernels in the cache are of no further use: the mirror has moved on.
        for old in "$cache"/linux-image-*; do
            [ "$old" != "$kernel" ] && rm -rf "$old"
        done
    fi
fi
if [ -z "$kernel" ]; then
    # Offline: any kernel cached by an earlier run still does.
    kernel=$(ls -d "$cache"/linux-image-* 2> /dev/null | tail -1)
    [ -n "$kernel" ] && [ -f "$kernel/version" ] && cached_layout "$kernel" ||
        skip "cannot fetch the stock kernel (linux-image-amd64: '${pkg:-unresolved}')"
fi
log "kernel $(cat "$kernel/version") ($(elapsed "$t_kernel") s to get ready)"

# ---- nvme-cli and its libraries, cached in the build folder --------------------------------------

nvme_packages="nvme-cli libnvme1 libjson-c5"
candidate_version() {
    apt-cache policy "$1" 2> /dev/null | awk '$1 == "Candidate:" && $2 != "(none)" { print $2 }'
}

# Unpacks the packages into $1: the nvme program and every shared library it loads, the dynamic
# loader included, the libraries of the packages first and those of this host for the rest.
prepare_nvme_cli() {
    local dir=$1 tmp p
    tmp=$(mktemp -d "$cache/tmp.XXXXXX")
    (cd "$tmp" && apt-get download $nvme_packages > download.log 2>&1) || {
        rm -rf "$tmp"
        return 1
    }
    mkdir -p "$tmp/root" "$tmp/out/lib"
    for p in "$tmp"/*.deb; do
        dpkg-deb --fsys-tarfile "$p" | tar -x -C "$tmp/root" || {
            rm -rf "$tmp"
            return 1
        }
    done
    local bin=$tmp/root/usr/sbin/nvme libs
    [ -x "$bin" ] || {
        rm -rf "$tmp"
        return 1
    }
    libs=$(LD_LIBRARY_PATH=$tmp/root/lib/x86_64-linux-gnu:$tmp/root/usr/lib/x86_64-linux-gnu \
        ldd "$bin" 2> /dev/null)
    if [ -z "$libs" ] || grep -q 'not found' <<< "$libs"; then
        rm -rf "$tmp"
        return 1
    fi
    cp "$bin" "$tmp/out/nvme"
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\/.*ld-linux/ { print $1 }' <<< "$libs" |
        while read -r p; do cp -L "$p" "$tmp/out/lib/"; done
    ls "$tmp"/*.deb | sed 's|.*/||' > "$tmp/out/version"
    rm -rf "$dir"
    mv "$tmp/out" "$dir"
    rm -rf "$tmp"
}

t_nvme=$(date +%s.%N)
nvme_version=$(candidate_version nvme-cli)
nvme_cli=
if [ -n "$nvme_version" ] && [ -f "$cache/nvme-cli-$nvme_version/version" ]; then
    nvme_cli=$cache/nvme-cli-$nvme_version
elif [ -n "$nvme_version" ]; then
    log "fetching $nvme_packages"
    if prepare_nvme_cli "$cache/nvme-cli-$nvme_version"; then
        nvme_cli=$cache/nvme-cli-$nvme_version
        for old in "$cache"/nvme-cli-*; do
            [ "$old" != "$nvme_cli" ] && rm -rf "$old"
        done
    fi
fi
if [ -z "$nvme_cli" ]; then
    nvme_cli=$(ls -d "$cache"/nvme-cli-* 2> /dev/null | tail -1)
    [ -n "$nvme_cli" ] && [ -f "$nvme_cli/version" ] ||
        skip "cannot fetch nvme-cli and its libraries ($nvme_packages)"
fi
log "nvme-cli $(tr '\n' ' ' < "$nvme_cli/version")($(elapsed "$t_nvme") s to get ready)"

# ---- the initramfs and the results disk --------------------------------------------------------

rm -rf "$work"
mkdir -p "$work/initramfs"/{bin,dev,proc,sys,tmp,e2e,lib/e2e,lib64,usr/lib/e2e-nvme} "$work/results"
root=$work/initramfs
cp /bin/busybox "$root/bin/busybox"
cp "$kernel"/modules/*.ko "$kernel/modules.list" "$kernel/nvme.list" "$root/lib/e2e/"
# nvme-cli finds its libraries through LD_LIBRARY_PATH; its program header names the loader.
cp "$nvme_cli/nvme" "$root/e2e/nvme"
cp "$nvme_cli"/lib/* "$root/usr/lib/e2e-nvme/"
cp "$nvme_cli"/lib/ld-linux-x86-64.so.2 "$root/lib64/"
cp "$here/guest_init.sh" "$root/init"
cp "$usbdev" "$root/e2e/torvik_usbdev"
cp "$watch" "$root/e2e/torvik_e2e_open_watch"
cp "$probe" "$root/e2e/torvik_e2e_tunnel_probe"
cp "$tool_static" "$root/e2e/torvik_usb_pssd_flash_id"
chmod 755 "$root/init" "$root/e2e/"*
(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio" || die "cpio failed"
truncate -s 64M "$work/results.img"
truncate -s 64M "$work/nvme.img"

# ---- boot ----------------------------------------------------------------------------------------

kvm_usable() {
    [ -e /dev/kvm ] && grep -qwE 'vmx|svm' /proc/cpuinfo && (exec 3<> /dev/kvm) 2> /dev/null
}

# The guest asks for a change of the NVMe controller's critical warning with a console line
# "E2E: monitor smart_critical_warning N"; each new request goes to QEMU's monitor once. Only that
# property, with a decimal value, is ever set.
serve_monitor() {
    local image=$1 requests value
    requests=$(grep -a -o 'E2E: monitor smart_critical_warning [0-9]*' "$image" |
        awk '{ print $4 }')
    [ -z "$requests" ] && return 0
    tail -n +$((monitor_served + 1)) <<< "$requests" | while read -r value; do
        printf '{"execute": "qom-set", "arguments": {"path": "/machine/peripheral/nvme0", %s}}\n' \
            "\"property\": \"smart_critical_warning\", \"value\": $value" >&8
        echo "$value" >> "$work/monitor-requests.log"
    done
    monitor_served=$(wc -l <<< "$requests")
}

boot() {
    local accel=$1 limit=$2 image=$work/console-$1.log
    local kernel_image=$kernel/vmlinux
    [ -f "$kernel_image" ] || kernel_image=$kernel/bzImage
    : > "$image"
    rm -f "$work/monitor.in" "$work/monitor.out" "$work/monitor-requests.log"
    mkfifo "$work/monitor.in" "$work/monitor.out" || die "mkfifo failed"
    # Held open for reading and writing, so that a write never waits for QEMU. The monitor speaks
    # QMP, which takes commands once the capabilities are negotiated.
    exec 8<> "$work/monitor.in"
    echo '{"execute": "qmp_capabilities"}' >&8
    monitor_served=0
    t_boot=$(date +%s.%N)
    # no_timer_check: on a loaded host TCG can miss the kernel's early test of the timer
    # interrupt, and the kernel then panics ("IO-APIC + timer doesn't work!").
    qemu-system-x86_64 -machine pc,accel="$accel" -m 384 -smp 1 \
        -nodefaults -no-user-config -display none -no-reboot \
        -kernel "$kernel_image" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 panic=-1 loglevel=4 no_timer_check" \
        -serial "file:$image" \
        -chardev "pipe,id=monitor,path=$work/monitor" -mon chardev=monitor,mode=control \
        -drive "file=$work/results.img,if=none,format=raw,id=results" \
        -device virtio-blk-pci,drive=results -device virtio-rng-pci \
        -drive "file=$work/nvme.img,if=none,format=raw,id=nvm" \
        -device "nvme,id=nvme0,serial=E2ENVME0001,drive=nvm" &
    qemu_pid=$!
    # QEMU holds both pipes open for reading and writing; its answers are kept for the record.
    cat "$work/monitor.out" > "$work/monitor-$accel.log" &
    local monitor_reader=$!
    # A KVM that does not reach init within $limit seconds (it boots in one or two) is given up.
    local ticks=0 waited=0 result=
    while kill -0 "$qemu_pid" 2> /dev/null; do
        if ! grep -q "E2E: init started" "$image" && [ "$waited" -ge "$limit" ]; then
            result=2
            break
        fi
        if [ "$waited" -ge "$guest_timeout" ]; then
            result=3
            break
        fi
        serve_monitor "$image"
        sleep 0.2
        ticks=$((ticks + 1))
        waited=$((ticks / 5))
    done
    if [ -n "$result" ]; then
        kill "$qemu_pid" "$monitor_reader"
        wait "$qemu_pid" "$monitor_reader" 2> /dev/null
        exec 8>&-
        return $result
    fi
    wait "$qemu_pid"
    local status=$?
    kill "$monitor_reader" 2> /dev/null
    wait "$monitor_reader" 2> /dev/null
    exec 8>&-
    # QEMU that ends before init (a KVM that refuses the CPU model, say) did not boot either.
    grep -q "E2E: init started" "$image" || return 2
    return $status
}

accel=${TORVIK_E2E_ACCEL:-}
if [ -z "$accel" ]; then
    accel=tcg
    kvm_usable && accel=kvm
fi
log "booting ($accel)"
boot "$accel" 20
result=$?
if [ $result -eq 2 ] && [ "$accel" = kvm ]; then
    log "KVM did not reach init: falling back to TCG"
    accel=tcg
    boot tcg "$guest_timeout"
    result=$?
fi
console=$work/console-$accel.log
cp "$console" "$work/console.log"
[ $result -eq 3 ] && die "the guest did not finish within $guest_timeout s; console: $work/console.log"
[ $result -eq 2 ] && die "the guest did not reach init; console: $work/console.log"
grep -q "E2E: done" "$console" || die "the guest did not finish its cases; console: $work/console.log"
log "guest ran for $(elapsed "$t_boot") s"
tar -xf "$work/results.img" -C "$work/results" 2> /dev/null || die "no results on the results disk"

# ---- checks ----------------------------------------------------------------------------------------

"$here/check_e2e.sh" "$work/results" "$tool_host" "$expect" "$work"
status=$?
"$here/check_nvme.sh" "$work/results" "$expect" "$work" || status=1
# Which of the bridge IDs the device borrowed this kernel's usb-storage keeps a quirk entry for
# (its module's aliases; the flags are named in guest_init.sh).
aliases=$(modinfo -F alias "$kernel/modules/usb-storage.ko" 2> /dev/null)
listed="" unlisted=""
for f in "$work"/results/bridge-*/bridge; do
    read -r id _ < "$f" || continue
    if grep -qi "^usb:v${id%:*}p${id#*:}d" <<< "$aliases"; then
        listed="$listed $id"
    else
        unlisted="$unlisted $id"
    fi
done
log "usb-storage quirk entries in this kernel for:${listed:- none}; for none of:${unlisted:- none}"
first=$(awk '{ printf "%.1f", $2 }' "$work/results/usb/uptime" 2> /dev/null)
all=$(awk '{ printf "%.1f", $1 }' "$work/results/uptime-done")
log "guest uptime at the first report: ${first:-?} s, at the last: $all s; wall time $(elapsed "$t_start") s"
log "console log: $work/console.log; guest results: $work/results"
exit $status
