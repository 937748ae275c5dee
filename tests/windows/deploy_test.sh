#!/usr/bin/env bash
# The engine deployment of the Windows snap-in, under Wine, against a real
# sshd: a host without lshw and without a compiler gets the engine package
# uploaded, installed and run.
#
#   tests/windows/deploy_test.sh BUILD_DIR HARNESS MODULE
#
# BUILD_DIR is the `windows` preset's tree (its signing key, its Wine
# prefix), HARNESS its fdx-harness.exe, MODULE its ferrodex.dll. A small
# package (the real install script, a VERSION, a data file and a stand-in
# prebuilt lshw for this machine that prints the folder it runs in) is
# signed and described the real way: an installer made by
# tools/installer/make-installer.sh, installed silently into a copy of the
# tree's prefix private to this test. A private sshd on 127.0.0.1 runs the
# login's commands with PATH holding only basic tools. The console then
#   - adds a group and the host through their dialogs, trusts the host's key
#     when strict checking asks, accepts the deployment and shows the
#     stand-in's product: it ran from the data folder the install made; the
#     upload left no copy on either side, and a refresh scans without
#     uploading again;
#   - with a package that no longer fits its signature, refuses before any
#     upload with the snap-in's message;
#   - with a package that has no prebuilt lshw for this machine, shows the
#     install script's own message.
# Exits 77 (skipped) when sshd or the deploy user is missing, unless
# FERRODEX_REQUIRE_PEERS (or FDX_REQUIRE_PEERS) is set; prints how long each
# stage took.
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
usage="usage: deploy_test.sh BUILD_DIR HARNESS MODULE"
build_dir=$(cd "${1:?$usage}" && pwd)
harness=${2:?$usage}
FDX_DLL=$(realpath "${3:?$usage}")
export FDX_DLL
run=$here/wine_run.sh

user=fdxdeploy
[ -n "${FDX_REQUIRE_PEERS:-}" ] && export FERRODEX_REQUIRE_PEERS=${FERRODEX_REQUIRE_PEERS:-$FDX_REQUIRE_PEERS}
. "$here/../support/peer_missing.sh"
. "$here/../support/sshd_peer.sh"
password=$sshd_password
[ -x "$sshd_program" ] || peer_missing "sshd is not installed (scripts/setup-peers.sh)"
home=$(getent passwd "$user" | cut -d: -f6) || peer_missing "no user $user (scripts/setup-peers.sh)"
[ "$(id -u)" -eq 0 ] || peer_missing "sshd needs root to log $user in"

work=$build_dir/deploy-test
prefix=$work/prefix
host_side=""
# No lshw in the login's home, and Debian's stock ~/.bashrc.
reset_user() {
    rm -rf "$home/.local/bin/lshw" "$home/.local/lib/lshw" "$home/.local/share/lshw"
    cp /etc/skel/.bashrc "$home/.bashrc"
}
cleanup() {
    sshd_stop
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    [ -n "$host_side" ] && rm -rf "$host_side"
    reset_user
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
stage_started=$SECONDS
stage() { echo "deploy_test: $1 took $((SECONDS - stage_started)) s"; stage_started=$SECONDS; }

# The package: the real install script, a VERSION, a data file, and for
# the architectures given a stand-in lshw that tells the folder it runs in
# and the data file it finds there.
make_package() {
    local version=$1 stage_dir=$work/stage-$1
    shift
    local folder=$stage_dir/lshw-$version
    mkdir -p "$folder/src"
    cp "$source_dir/tools/engine/install" "$folder/install"
    echo "$version" >"$folder/VERSION"
    echo "ids of $version" >"$folder/src/pci.ids"
    local arch
    for arch in "$@"; do
        mkdir -p "$folder/prebuilt/$arch"
        cat >"$folder/prebuilt/$arch/lshw" <<'EOF'
#!/bin/sh
[ "$1" = -help ] && exit 0
echo "<?xml version='1.0'?><node id='box'><node id='cpu' class='processor'><product>$(pwd) $(cat pci.ids)</product></node></node>"
EOF
    done
    chmod -R a+rX,u+w "$folder"
    chmod 755 "$folder/install" "$folder"/prebuilt/*/lshw 2>/dev/null || true
    tar -C "$stage_dir" -czf "$work/lshw-$version.tar.gz" "lshw-$version"
    echo "$work/lshw-$version.tar.gz"
}

arch=$(uname -m)
package=$(make_package 3.0 "$arch")
"$source_dir/tools/installer/make-installer.sh" "$build_dir" "$package" "$work/ferrodex-setup.exe" >/dev/null
stage "building the package and the installer"

# A copy of the build tree's prefix, this test's own.
. "$here/private_prefix.sh"
private_prefix "$prefix" "$build_dir"
status=0
"$run" "$work/ferrodex-setup.exe" /S || status=$?
prefix_settled
[ "$status" -eq 0 ] || { echo "FAIL: the silent install ended with exit code $status" >&2; exit 1; }
stage "installing into a private prefix"

# The server: its own folder (readable by the login, whose PATH holds the
# basic tools linked there), host key and configuration.
host_side=$(mktemp -d /tmp/fdx-deploy-XXXXXX)
chmod 755 "$host_side"
mkdir -m 755 "$host_side/tools"
for tool in cat mktemp rm uname tar gzip id mkdir cp chmod mv grep getconf tail ls; do
    for bin in /usr/bin /bin; do
        [ -x "$bin/$tool" ] && { ln -s "$bin/$tool" "$host_side/tools/$tool"; break; }
    done
done
ssh-keygen -q -N "" -t ed25519 -f "$host_side/host_key"
reset_user
sshd_start "$host_side" "$host_side/host_key" "SetEnv PATH=$host_side/tools" "Subsystem sftp internal-sftp" || exit 1
port=$sshd_port
stage "starting sshd"

# Runs the harness over console script $1 against the installed snap-in;
# what it prints goes to $1.out (carriage returns dropped), its errors to
# $1.err. Shows both when the exit status is not 0.
console() {
    local script=$1 status=0
    # A console that hangs on its way out ends here rather than at ctest's
    # timeout.
    FDX_WINE_TIMEOUT=60 "$run" "$harness" "$script" >"$script.raw" 2>"$script.err" || status=$?
    tr -d '\r' <"$script.raw" >"$script.out"
    if [ "$status" -ne 0 ]; then
        fail "$(basename "$script") ended with exit status $status"
        show_run "$script"
    fi
}
show_run() {
    echo "--- console output of $(basename "$1"):" >&2
    cat "$1.out" >&2
    echo "--- its errors:" >&2
    cat "$1.err" >&2
    echo "--- sshd:" >&2
    tail -n 20 "$host_side/sshd.log" >&2
}
# Fails unless the output of script $1 has line $2 (expect_line) or text
# $2 (expect_text).
expect_line() {
    grep -qxF -- "$2" "$1.out" || { fail "$(basename "$1") did not show: $2"; show_run "$1"; }
}
expect_text() {
    grep -qF -- "$2" "$1.out" || { fail "$(basename "$1") did not show: $2"; show_run "$1"; }
}
# The group and the host, added through their dialogs with the deploy
# login (no sudo: the host's PATH has none).
add_host_lines() {
    cat <<EOF
answer IDOK 1002=Lab
menu "" "Add Group"
expand Lab
answer IDOK 1003=127.0.0.1 1004=$port 1005=$user 1006=$password
menu Lab "Add Host"
EOF
}
uploads() { grep -c "subsystem 'sftp'" "$host_side/sshd.log" || true; }
logins() { grep -c "^Accepted password for $user " "$host_side/sshd.log" || true; }
# The login's folders in the server's /tmp: the deployment's private folder
# goes when it is done.
host_folders() { find /tmp -maxdepth 1 -user "$user" | sort; }
# Copies of the package outside the install folder, and the private folders
# (ferrodex-*) the upload copies it into, in the prefix.
local_copies() {
    find "$prefix/drive_c" \( -name 'lshw-*' -o -name 'ferrodex-*' \) -not -path '*/Program Files/*' | sort
}
reg_value() {
    local line
    line=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -m 1 -E '^    .*    REG_[A-Z_]+    ') || return 1
    sed -E 's/^    .*    REG_[A-Z_]+    //' <<<"$line"
}
product_key='HKLM\Software\Quillon\Ferrodex'
folders_before=$(host_folders)

# 1. With strict host-key checking the new host's key is asked about and
# trusted (what the question says is the parity test's). The host has no lshw: both deployment questions are answered, the
# package goes up over SFTP, the install puts the prebuilt lshw into the
# login's home, and the scan runs it from its data folder. A refresh scans
# again without asking or uploading.
wine reg add 'HKCU\Software\Quillon\Ferrodex' /v StrictHostKeys /t REG_DWORD /d 1 /f >/dev/null 2>&1
script=$work/deploy.txt
{
    add_host_lines
    cat <<EOF
answer IDYES
answer IDOK
answer IDOK
expand Lab/127.0.0.1
tree
show Lab/127.0.0.1/cpu
menu Lab/127.0.0.1 "Refresh Information"
tree
EOF
} >"$script"
console "$script"
stage "the deployment"
expect_line "$script" 'dialog "Vorbex not found." -> IDOK'
expect_line "$script" 'dialog "Ready to install" -> IDOK'
expect_text "$script" "$home/.local/share/lshw ids of 3.0"
[ "$(grep -c '^      cpu$' "$script.out")" -eq 2 ] || { fail "the host's tree is not shown after the scan and the refresh"; show_run "$script"; }
[ "$(uploads)" -eq 1 ] || fail "$(uploads) uploads for one deployment and a refresh"
# The scan with the deployment, the upload, the refresh's scan.
[ "$(logins)" -eq 3 ] || fail "$(logins) logins for a deployment and a refresh, not 3"
[ -x "$home/.local/lib/lshw/lshw" ] && [ -x "$home/.local/bin/lshw" ] || fail "lshw is not installed in $home/.local"
[ "$(reg_value "$product_key" LSHWInstalledFrom)" = prebuilt ] || fail "LSHWInstalledFrom is not prebuilt"
[ "$(reg_value "$product_key" LSHWInstalledArch)" = "$arch" ] || fail "LSHWInstalledArch is not $arch"
[ "$(host_folders)" = "$folders_before" ] || fail "the host's private folder stayed: $(host_folders)"
[ -z "$(local_copies)" ] || fail "the upload left copies of the package: $(local_copies)"

# 2. A package that no longer fits its signature is refused before any
# upload, with the snap-in's message, and nothing is installed.
reset_user
installed_package="$prefix/drive_c/Program Files/Ferrodex/engine/lshw-3.0.tar.gz"
cp "$installed_package" "$work/original.tar.gz"
echo tampered >>"$installed_package"
script=$work/tampered.txt
{
    add_host_lines
    cat <<EOF
answer IDOK
answer IDOK
expand Lab/127.0.0.1
EOF
} >"$script"
console "$script"
stage "a tampered package"
expect_line "$script" 'dialog "Vorbex not found." -> IDOK'
expect_line "$script" 'message "Error": Vorbex is corrupted or not found at your workstation. -> IDOK'
[ "$(uploads)" -eq 1 ] || fail "the tampered package was uploaded"
[ -e "$home/.local/bin/lshw" ] && fail "lshw was installed from a tampered package"
cp "$work/original.tar.gz" "$installed_package"

# 3. A package without a prebuilt lshw for this machine, installed over the
# first one: the host has no compiler, and the install script's own message
# is shown; its private folder goes all the same.
package=$(make_package 4.0 "not-$arch")
"$source_dir/tools/installer/make-installer.sh" "$build_dir" "$package" "$work/ferrodex-setup-4.0.exe" >/dev/null
status=0
"$run" "$work/ferrodex-setup-4.0.exe" /S || status=$?
prefix_settled
[ "$status" -eq 0 ] || fail "the silent install over the first ended with exit code $status"
script=$work/failing.txt
{
    add_host_lines
    cat <<EOF
answer IDOK
answer IDOK
answer IDOK
expand Lab/127.0.0.1
EOF
} >"$script"
console "$script"
stage "a package the host cannot install"
expect_text "$script" "Vorbex install: this package has no prebuilt lshw for $arch, and there is no C++ compiler (g++) on this host to build it"
[ "$(uploads)" -eq 2 ] || fail "$(uploads) uploads after the failing install, not 2"
[ -e "$home/.local/bin/lshw" ] && fail "a failed install left lshw behind"
[ "$(host_folders)" = "$folders_before" ] || fail "the failed install's private folder stayed: $(host_folders)"
[ -z "$(local_copies)" ] || fail "the failed upload left copies of the package: $(local_copies)"

if [ "$failures" -ne 0 ]; then
    echo "deploy_test: $failures failure(s)" >&2
    exit 1
fi
echo "deploy_test: passed"
