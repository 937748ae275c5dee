#!/usr/bin/env bash
# The terminal console's host-key dialog, driven through tmux: a host is
# scanned once, its sshd is restarted with another RSA key on the same port,
# and Refresh Information asks. No (the default) stops before any
# authentication and keeps the stored key; Yes stores the new key and scans.
#   hostkey_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd or the test user is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: hostkey_tmux_test.sh FERRODEX}
sshd=/usr/sbin/sshd
user=fdxtest
password=fdx-test-pw
. "$(dirname "$0")/../../support/peer_missing.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
[ -x "$sshd" ] || peer_missing "sshd is missing"
id "$user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

work=$(mktemp -d)
socket="fdx-hk-$$"
sshd_pid=""
stop_sshd() {
    if [ -n "$sshd_pid" ]; then
        kill "$sshd_pid" 2>/dev/null
        wait "$sshd_pid" 2>/dev/null
        sshd_pid=""
    fi
}
cleanup() {
    tmx kill-server >/dev/null 2>&1
    stop_sshd
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/tmux_face.sh"

console="$work/inventory.fdx"
screen_file="$work/screen.txt"
step_timeout=30
export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
mkdir -p "$FERRODEX_REGISTRY"

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    tmx capture-pane -p -t face 2>/dev/null
    echo "--- sshd ---"
    tail -20 "$work/sshd.log" 2>/dev/null
    exit 1
}




# A free port of 127.0.0.1.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# Starts sshd on $port with host key $1.
start_sshd() {
    local key=$1
    cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $key
PidFile $work/sshd.pid
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PermitRootLogin no
StrictModes no
LogLevel VERBOSE
EOF
    : >"$work/sshd.log"
    "$sshd" -f "$work/sshd_config" -D -E "$work/sshd.log" &
    sshd_pid=$!
    local deadline=$((SECONDS + 10))
    until grep -q "Server listening" "$work/sshd.log" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "sshd did not start"
        sleep 0.1
    done
}

# The cached key of the host (its hive file's line for rsa2@port:127.0.0.1).
cached_key() { grep -F "\"rsa2@$port:127.0.0.1\"" "$FERRODEX_REGISTRY"/*.reg 2>/dev/null; }

command_line() { "$ferrodex" --console "$console" "$@"; }

ssh-keygen -q -N "" -t rsa -b 2048 -f "$work/key1" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t rsa -b 2048 -f "$work/key2" || fail "ssh-keygen failed"

# --- The host is scanned once, its key stored -------------------------------
start_sshd "$work/key1"
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
command_line host add Lab 127.0.0.1 --port "$port" --login "$user" --password-stdin <<<"$password" >/dev/null 2>&1 ||
    fail "host add failed"
command_line host refresh Lab/127.0.0.1 --login "$user" --password-stdin <<<"$password" >"$work/first.txt" 2>&1 ||
    { cat "$work/first.txt"; fail "the first refresh failed"; }
first_key=$(cached_key)
[ -n "$first_key" ] || fail "the first contact stored no key"

# --- The server comes back with another key ---------------------------------
stop_sshd
start_sshd "$work/key2"

tmx new-session -d -s face -x 120 -y 40 \
    "env LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=screen '$ferrodex' --console '$console'; echo FDX-EXIT=\$?; sleep 120" ||
    fail "tmux could not start"
wait_for "My Linux Servers"
keys Right
wait_for "Lab"
keys Down Right
wait_for "127.0.0.1"
keys Down Right                     # a host offers its menu once expanded
answer_login() {
    tmx capture-pane -p -t face >"$screen_file"
    if grep -qF "Enter Host Login Details" "$screen_file"; then
        # The login is not kept in a file without saved passwords.
        keys Tab Tab
        tmx send-keys -t face -l -- "$user"
        keys Tab
        tmx send-keys -t face -l -- "$password"
        keys Enter
        wait_gone "Enter Host Login Details"
    fi
}
deadline=$((SECONDS + step_timeout))
until grep -qF -- "general" "$screen_file"; do
    ((SECONDS < deadline)) || fail "the host did not expand"
    answer_login
    sleep 0.1
done

# Refresh Information from the host's menu; the login dialog may come first.
refresh() {
    keys m
    wait_for "Refresh Information"
    keys Down Enter
    local deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)); do
        tmx capture-pane -p -t face >"$screen_file"
        grep -qF "Host key warning" "$screen_file" && return 0
        answer_login
        sleep 0.1
    done
    fail "no host-key dialog"
}

refresh
wait_for "CHANGED"
wait_for "Stored key: rsa2 SHA256:"
keys Enter                          # No has the focus
wait_for "was not trusted"
keys Enter
wait_gone "was not trusted"
grep -q "Accepted\|Failed" "$work/sshd.log" && fail "an authentication request reached the server after No"
[ "$(cached_key)" = "$first_key" ] || fail "No changed the stored key"

refresh
keys Left Enter                     # Yes
wait_gone "Host key warning"
deadline=$((SECONDS + 120))
until grep -q "Accepted password" "$work/sshd.log"; do
    ((SECONDS < deadline)) || fail "Yes did not log in"
    sleep 0.2
done
deadline=$((SECONDS + 120))
while [ "$(cached_key)" = "$first_key" ]; do
    ((SECONDS < deadline)) || fail "Yes did not store the new key"
    sleep 0.2
done
[ -n "$(cached_key)" ] || fail "the key vanished"

echo "PASS"
