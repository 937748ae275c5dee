#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program:
# it must find and register the module from the installed library folder,
# tell its version, and complete its commands and node paths in bash.
#   install_test.sh BUILD_DIR
set -eu
build=${1:?usage: install_test.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
program="$work/prefix/bin/ferrodex"
test -x "$program"
test -f "$work/prefix/share/man/man1/ferrodex.1"
"$program" group add Lab
"$program" tree | grep -qx '  Lab'
# The default console file, in a private data folder.
[ "$(stat -c %a "$XDG_DATA_HOME/ferrodex") $(stat -c %a "$XDG_DATA_HOME/ferrodex/console.fdx")" = "700 600" ]
grep -q "@=\"$work/prefix/lib/ferrodex/libferrodex-snapin.so\"" "$FERRODEX_REGISTRY/HKEY_CLASSES_ROOT.reg"
"$program" --version | grep -qx 'ferrodex [0-9][0-9.]*'
printf 'pw\n' | "$program" host add Lab 'srv 1' --login root --password-stdin
"$program" group add 'Big Rack'

completion="$work/prefix/share/bash-completion/completions/ferrodex"
test -f "$completion"
# Completes as bash would: COMP_WORDS holds the words, the last one being
# completed; prints the candidates one a line.
complete_line() {
    PATH="$work/prefix/bin:$PATH" bash -c '
        source "$1"; shift
        complete -p ferrodex >/dev/null || exit 1
        COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ferrodex
        printf "%s\n" "${COMPREPLY[@]}"' complete_line "$completion" "$@"
}
# offers yes|no LINE... -- CANDIDATE: whether CANDIDATE is offered for LINE.
offers() {
    local want=$1 args=() candidate found=no
    shift
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    candidate=$2
    complete_line "${args[@]}" | grep -qxF -- "$candidate" && found=yes
    [ "$found" = "$want" ] || {
        echo "completing '${args[*]}': '$candidate' offered: $found"; complete_line "${args[@]}"; exit 1; }
}
expect() { offers yes "$@"; }
refuse() { offers no "$@"; }
expect ferrodex tr -- tree
expect ferrodex host re -- refresh
expect ferrodex host refresh --y -- --yes
expect ferrodex host refresh '' -- 'Lab/srv\ 1'
refuse ferrodex host refresh '' -- Lab
expect ferrodex group delete B -- 'Big\ Rack'
refuse ferrodex group delete '' -- 'Lab/srv\ 1'
expect ferrodex show L -- Lab
expect ferrodex --keep 5 di -- diff
expect ferrodex diff --from 1 '' -- 'Lab/srv\ 1'
expect ferrodex history pr -- prune
refuse ferrodex history prune '' -- prune
expect ferrodex --history postgresql://db/x di -- diff
expect ferrodex import B -- 'Big\ Rack'
refuse ferrodex import '' -- 'Lab/srv\ 1'
expect ferrodex import Lab x --format a -- ansible
# Settings by the names of the one table, host keys by the hosts stored.
expect ferrodex con -- config
expect ferrodex config set Ref -- RefreshJobs
expect ferrodex config get Strict -- StrictHostKeys
expect ferrodex config set RefreshJobs d -- default
refuse ferrodex config set RefreshJobs 8 '' -- default
expect ferrodex kn -- known-hosts
hive="$FERRODEX_REGISTRY/HKEY_CURRENT_USER.reg"
[[ -f $hive ]] || printf 'Windows Registry Editor Version 5.00\n' >"$hive"
printf '\n[HKEY_CURRENT_USER\\Software\\Quillon\\Corvel\\SshHostKeys]\n"ssh-ed25519@2222:db1"="0x%s"\n' \
    "$(printf 'ab%.0s' $(seq 32))" >>"$hive"
expect ferrodex known-hosts forget '[d' -- '[db1]:2222'
expect ferrodex known-hosts list '' -- '[db1]:2222'
# The console file on the line is the one completed from.
"$program" --console "$work/other.fdx" group add Elsewhere
expect ferrodex --console "$work/other.fdx" tree '' -- Elsewhere
refuse ferrodex tree '' -- Elsewhere
# The helper asks nothing of a console it cannot open without a question.
printf 'main-pw\n' | "$program" passwords on --main-password-stdin
refuse ferrodex tree '' -- Lab
echo "installed ferrodex works"
