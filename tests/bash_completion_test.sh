#!/usr/bin/env bash
# The bash completion made from the option table, run as bash runs it: every option --help names
# completes, --sim completes to the simulated drives (after a space, and after '=' whether or not
# bash splits the word there), --output-dir and --replay to folders only, --history and --metrics
# to files and folders, the drive argument to nothing.
# Usage: bash_completion_test.sh COMPLETION_FILE TOOL
set -uo pipefail
script=$1
tool=$2
# shellcheck source=/dev/null
source "$script"
failed=0

# The completions of the words given, the last one being completed, one a line, sorted.
completions() {
    COMP_WORDS=(torvik_usb_pssd_flash_id "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _torvik_usb_pssd_flash_id
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
    local want=$1 got
    shift
    got=$(completions "$@")
    if [ "$got" != "$want" ]; then
        printf 'completing [%s]:\n got: %s\nwant: %s\n' "$*" "${got//$'\n'/ }" "${want//$'\n'/ }"
        failed=1
    fi
}

options=$({ "$tool" --help | grep -o -- '--[a-z][a-z-]*'; echo --json=-; } | sort -u)
profiles=$({ echo list; "$tool" --sim=list | cut -d' ' -f1; } | sort)
[ "$(echo "$options" | wc -l)" -ge 10 ] || { echo "too few options in --help: $options"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir outdir other
touch afile

expect "$options" --
expect "--sim" --si
expect "$profiles" --sim ""
expect "$profiles" 0y --sim = ""
expect "hot" --sim h
expect "hot" --sim = h
expect "--sim=hot" --sim=h
expect "outdir" --output-dir ou
expect "$(printf 'other\noutdir')" --replay ""
expect "afile" --history af
expect "$(printf 'afile\nother\noutdir')" --metrics ""
expect "--replay=outdir" --replay=ou
expect "" 3y
expect "" --json 0
expect "$(printf -- '--json\n--json=-')" --jso
expect "-" --json = ""
expect "--json=-" --json=
expect "hot,default" --sim hot,d
expect "--sim=hot,default" --sim=hot,d
expect "$(printf 'hot,large\nhot,list')" --sim = hot,l
exit $failed
