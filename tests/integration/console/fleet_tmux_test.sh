#!/usr/bin/env bash
# "Refresh All" of a group in the terminal console, driven through tmux,
# against a real sshd on three loopback addresses: the third runs every
# command for ever. The progress line counts the hosts as they finish while
# the third still runs, then the group's list shows each host's result.
#   fleet_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd, lshw or the test user is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: fleet_tmux_test.sh FERRODEX}
sshd=/usr/sbin/sshd
user=fdxtest
password=fdx-test-pw
. "$(dirname "$0")/../../support/peer_missing.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
command -v lshw >/dev/null 2>&1 || peer_missing "lshw is missing"
[ -x "$sshd" ] || peer_missing "sshd is missing"
id "$user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

work=$(mktemp -d)
socket="fdx-fleet-$$"
sshd_pid=""
cleanup() {
    tmx kill-server >/dev/null 2>&1
    if [ -n "$sshd_pid" ]; then
        kill "$sshd_pid" 2>/dev/null
        wait "$sshd_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/tmux_face.sh"

console="$work/inventory.fdx"
screen_file="$work/screen.txt"
step_timeout=60
export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
mkdir -p "$FERRODEX_REGISTRY"
# A command may take 5 seconds here.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quillon\\Ferrodex]\r\n"CommandTimeoutSeconds"=dword:00000005\r\n\r\n' \
    >"$FERRODEX_REGISTRY/HKEY_CURRENT_USER.reg"

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    tmx capture-pane -p -t face 2>/dev/null
    echo "--- sshd ---"
    tail -20 "$work/sshd.log" 2>/dev/null
    exit 1
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
ssh-keygen -q -N "" -t ed25519 -f "$work/key" || fail "ssh-keygen failed"
cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
ListenAddress 127.0.0.2
ListenAddress 127.0.0.3
HostKey $work/key
PidFile $work/sshd.pid
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PermitRootLogin no
StrictModes no
LogLevel VERBOSE
Match LocalAddress 127.0.0.3
    ForceCommand exec sleep 3600
EOF
"$sshd" -f "$work/sshd_config" -D -E "$work/sshd.log" &
sshd_pid=$!
deadline=$((SECONDS + 10))
until grep -q "Server listening" "$work/sshd.log" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "sshd did not start"
    sleep 0.1
done

command_line() { "$ferrodex" --console "$console" "$@"; }
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
    command_line host add Lab "$address" --port "$port" --login "$user" --password-stdin <<<"$password" \
        >/dev/null 2>&1 || fail "host add $address failed"
done

tmx new-session -d -s face -x 120 -y 40 \
    "env LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=screen '$ferrodex' --console '$console'; echo FDX-EXIT=\$?; sleep 120" ||
    fail "tmux could not start"
wait_for "My Linux Servers"
keys Right
wait_for "Lab"
keys Down
keys m
wait_for "Refresh All"
keys End Enter

# The file keeps no password: each host's login question comes first.
answered=""
deadline=$((SECONDS + step_timeout))
while [ "$answered" != " 127.0.0.1 127.0.0.2 127.0.0.3" ]; do
    ((SECONDS < deadline)) || fail "the login questions did not come (answered:$answered)"
    tmx capture-pane -p -t face >"$screen_file"
    asked=$(grep -o "Host: *\[127\.0\.0\.[0-9]" "$screen_file" | grep -o "127\.0\.0\.[0-9]")
    if grep -qF "Enter Host Login Details" "$screen_file" && [ -n "$asked" ] && [[ $answered != *" $asked"* ]]; then
        keys Tab Tab
        tmx send-keys -t face -l -- "$user"
        keys Tab
        tmx send-keys -t face -l -- "$password"
        keys Enter
        answered="$answered $asked"
    fi
    sleep 0.2
done

# Two finish while the third still runs its command.
wait_for "2/3 done, 0 failed"
# Then the third passes its limit, and the list says what happened to each.
wait_gone "done,"
wait_for "lshw did"
[ "$(grep -c "  OK  " "$screen_file")" -eq 2 ] || fail "two hosts should show OK"
[ "$(grep -c "Accepted password" "$work/sshd.log")" -ge 3 ] || fail "not every host logged in"
# The results are saved: the two pictures are in the file afterwards.
keys s
wait_gone "[modified]"
keys q
wait_for "FDX-EXIT=0"
scanned=$(command_line export --format csv 2>/dev/null | grep -c ",Lab,127.0.0.[0-9],$port,yes,")
[ "$scanned" -eq 2 ] || fail "the file holds $scanned pictures, not 2"
echo "PASS"
