#!/usr/bin/env bash
# The terminal console's host-key dialog, driven through tmux: a host is
# scanned once, its sshd is restarted with another RSA key on the same port,
# and Refresh Information asks. No (the default) stops before any
# authentication and keeps the stored key; Yes stores the new key but sends
# no password on that connection, and the next refresh scans.
#   hostkey_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd or the test user is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: hostkey_tmux_test.sh FERRODEX}
. "$(dirname "$0")/../../support/peer_missing.sh"
. "$(dirname "$0")/../../support/sshd_peer.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
[ -x "$sshd_program" ] || peer_missing "sshd is missing"
id "$sshd_user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

step_timeout=30
. "$(dirname "$0")/tmux_face.sh"
face_begin hk
stop_more() { sshd_stop; }
user=$sshd_user
password=$sshd_password

# The cached key of the host (its hive file's line for rsa2@port:127.0.0.1).
cached_key() { grep -F "\"rsa2@$port:127.0.0.1\"" "$FERRODEX_REGISTRY"/*.reg 2>/dev/null; }

command_line() { "$ferrodex" --console "$console" "$@"; }

ssh-keygen -q -N "" -t rsa -b 2048 -f "$work/key1" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t rsa -b 2048 -f "$work/key2" || fail "ssh-keygen failed"

# --- The host is scanned once, its key stored -------------------------------
sshd_start "$work" "$work/key1"
port=$sshd_port
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
command_line host add Lab 127.0.0.1 --port "$port" --login "$user" --password-stdin <<<"$password" >/dev/null 2>&1 ||
    fail "host add failed"
command_line host refresh Lab/127.0.0.1 --login "$user" --password-stdin <<<"$password" >"$work/first.txt" 2>&1 ||
    { cat "$work/first.txt"; fail "the first refresh failed"; }
first_key=$(cached_key)
[ -n "$first_key" ] || fail "the first contact stored no key"

# --- The server comes back with another key ---------------------------------
sshd_stop
sshd_start "$work" "$work/key2"

run_face 120 40
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
while [ "$(cached_key)" = "$first_key" ]; do
    ((SECONDS < deadline)) || fail "Yes did not store the new key"
    sleep 0.2
done
[ -n "$(cached_key)" ] || fail "the key vanished"
# The key was taken only on the user's word: that connection sends no password.
wait_for "was not sent"
grep -q "password for" "$work/sshd.log" && fail "the password went to the server whose key changed"
tmx capture-pane -p -t face >"$work/withheld.txt"
keys Enter
wait_gone "was not sent"

# The next refresh, with the new key stored, asks nothing and logs in.
keys m
wait_for "Refresh Information"
keys Down Enter
deadline=$((SECONDS + 120))
until grep -q "Accepted password" "$work/sshd.log"; do
    ((SECONDS < deadline)) || fail "the refresh after Yes did not log in"
    answer_login
    sleep 0.2
done

echo "PASS"
