#!/usr/bin/env bash
# Fetches Debian's prometheus and prometheus-node-exporter packages with apt-get download and
# unpacks them with dpkg-deb into a cache folder: nothing is installed, no daemon is started. The
# metrics tests take promtool, prometheus and prometheus-node-exporter from there.
#
#   tools/fetch_prometheus.sh CACHE_DIR
#
# Prints the folder that holds the three programs (CACHE_DIR/root/usr/bin). Exit status 1 when
# the packages cannot be had (no network, another distribution); a cache already filled is
# used as it is.
set -uo pipefail

[ $# -eq 1 ] || { echo "usage: $0 CACHE_DIR" >&2; exit 2; }
mkdir -p "$1" || exit 1
cache=$(cd "$1" && pwd)
bin=$cache/root/usr/bin
programs=(promtool prometheus prometheus-node-exporter)

have_all() {
    local p
    for p in "${programs[@]}"; do
        [ -x "$bin/$p" ] || return 1
    done
}

if ! have_all; then
    if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
        echo "apt-get and dpkg-deb are needed to fetch the packages" >&2
        exit 1
    fi
    tmp=$(mktemp -d "$cache/tmp.XXXXXX")
    trap 'rm -rf "$tmp"' EXIT
    if ! (cd "$tmp" && apt-get download prometheus prometheus-node-exporter >download.log 2>&1); then
        tail -n 5 "$tmp/download.log" >&2
        echo "apt-get download prometheus prometheus-node-exporter failed" >&2
        exit 1
    fi
    mkdir -p "$tmp/root"
    for deb in "$tmp"/*.deb; do
        dpkg-deb -x "$deb" "$tmp/root" || exit 1
    done
    rm -rf "$cache/root"
    mv "$tmp/root" "$cache/root"
    have_all || { echo "the packages hold no ${programs[*]}" >&2; exit 1; }
fi
# Go programs that need nothing but the C library: they run from the unpacked tree.
"$bin/promtool" --version >/dev/null 2>&1 || { echo "$bin/promtool does not run here" >&2; exit 1; }
echo "$bin"
