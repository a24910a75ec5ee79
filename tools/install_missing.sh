# Sourced by the tools/ scripts: install_missing PACKAGE... installs Debian packages with apt-get,
# through sudo unless already root, waiting for another apt's lock instead of failing. The
# output is shown only when the installation fails.
install_missing() {
    [ $# -gt 0 ] || return 0
    local sudo_cmd="" started=$SECONDS log
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    log=$(mktemp)
    if ! { $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
            --no-install-recommends "$@"; } >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        echo "Could not install $*" >&2
        exit 1
    fi
    rm -f "$log"
    echo "Installed $* in $((SECONDS - started)) s"
}
