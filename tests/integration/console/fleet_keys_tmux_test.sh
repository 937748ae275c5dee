#!/usr/bin/env bash
# "Refresh All" in the terminal console, driven through tmux, of hosts that
# log in with keys only: a key file, the SSH agent, and a host behind a jump
# host, against a real sshd that takes nothing but keys. No question comes:
# every host finishes and its list line says OK, and the console file keeps
# each host's way in and route.
#   fleet_keys_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd, ssh-agent or the test user is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: fleet_keys_tmux_test.sh FERRODEX}
. "$(dirname "$0")/../../support/peer_missing.sh"
. "$(dirname "$0")/../../support/sshd_peer.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
command -v ssh-agent >/dev/null 2>&1 || peer_missing "ssh-agent is missing"
[ -x "$sshd_program" ] || peer_missing "sshd is missing"
id "$sshd_user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

step_timeout=60
. "$(dirname "$0")/tmux_face.sh"
face_begin fleetkeys
agent_pid=""
stop_more() {
    sshd_stop
    [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
}

ssh-keygen -q -N "" -t ed25519 -f "$work/hostkey" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t ed25519 -f "$work/id_file" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t ed25519 -f "$work/id_agent" || fail "ssh-keygen failed"
# The server reads the keys as the test user: a folder it may pass through.
chmod 711 "$work"
cat "$work/id_file.pub" "$work/id_agent.pub" >"$work/authorized_keys"
chmod 644 "$work/authorized_keys"
export SSH_AUTH_SOCK="$work/agent.sock"
agent_pid=$(ssh-agent -s -a "$SSH_AUTH_SOCK" | sed -n 's/^SSH_AGENT_PID=\([0-9]*\);.*/\1/p')
[ -n "$agent_pid" ] || fail "ssh-agent did not start"
SSH_ASKPASS_REQUIRE=never ssh-add -q "$work/id_agent" </dev/null || fail "ssh-add failed"
rm -f "$work/id_agent"

sshd_start "$work" "$work/hostkey" "ListenAddress 127.0.0.2" "ListenAddress 127.0.0.3" \
    "AuthenticationMethods publickey" "PasswordAuthentication no" "AuthorizedKeysFile $work/authorized_keys" \
    "AllowTcpForwarding yes"
port=$sshd_port

command_line() { "$ferrodex" --console "$console" "$@"; }
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
command_line host add Lab 127.0.0.1 --port "$port" --login "$sshd_user" --identity "$work/id_file" \
    >/dev/null 2>&1 || fail "host add 127.0.0.1 failed"
command_line host add Lab 127.0.0.2 --port "$port" --login "$sshd_user" --agent >/dev/null 2>&1 ||
    fail "host add 127.0.0.2 failed"
command_line host add Lab 127.0.0.3 --port "$port" --login "$sshd_user" --identity "$work/id_file" \
    --jump "$sshd_user@127.0.0.2:$port" >/dev/null 2>&1 || fail "host add 127.0.0.3 failed"

run_face 120 40
wait_for "My Linux Servers"
keys Right
wait_for "Lab"
keys Down
keys m
wait_for "Refresh All"
keys End Enter

# No login question: the three finish on their own, and the list says so.
deadline=$((SECONDS + step_timeout))
until [ "$(grep -c "  OK  " "$screen_file")" -eq 3 ]; do
    grep -qF "Enter Host Login Details" "$screen_file" && fail "a login question was asked"
    ((SECONDS < deadline)) || fail "three hosts should show OK"
    sleep 0.2
    tmx capture-pane -p -t face >"$screen_file"
done
[ "$(grep -c "Accepted publickey" "$work/sshd.log")" -ge 4 ] || fail "not every host and hop logged in with a key"
grep -q "Failed password\|Accepted password" "$work/sshd.log" && fail "a password was tried"
keys s
wait_gone "[modified]"
keys q
wait_for "FDX-EXIT=0"
# Each host kept its way in and its route.
tree=$(command_line tree --json 2>/dev/null)
[ "$(grep -o '"loginMethod":"key-file"' <<<"$tree" | wc -l)" -eq 2 ] || fail "the key-file hosts changed: $tree"
grep -q '"loginMethod":"agent"' <<<"$tree" || fail "the agent host changed: $tree"
grep -qF "\"jump\":\"$sshd_user@127.0.0.2:$port\"" <<<"$tree" || fail "the route was lost: $tree"
scanned=$(command_line export --format csv 2>/dev/null | grep -c ",Lab,127.0.0.[0-9],$port,yes,")
[ "$scanned" -eq 3 ] || fail "the file holds $scanned pictures, not 3"
echo "PASS"
