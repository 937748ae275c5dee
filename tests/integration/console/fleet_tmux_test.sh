#!/usr/bin/env bash
# "Refresh All" of a group in the terminal console, driven through tmux,
# against a real sshd on three loopback addresses: the third runs every
# command for ever. The progress line counts the hosts as they finish while
# the third still runs, then the group's list shows each host's result.
#   fleet_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd, lshw or the test user is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: fleet_tmux_test.sh FERRODEX}
step_timeout=60
. "$(dirname "$0")/tmux_face.sh"
need_programs lshw
need_sshd
face_begin fleet
stop_more() { sshd_stop; }
# A command may take 5 seconds here.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quillon\\Ferrodex]\r\n"CommandTimeoutSeconds"=dword:00000005\r\n\r\n' \
    >"$FERRODEX_REGISTRY/HKEY_CURRENT_USER.reg"

ssh-keygen -q -N "" -t ed25519 -f "$work/key" || fail "ssh-keygen failed"
sshd_match=$'Match LocalAddress 127.0.0.3\n    ForceCommand exec sleep 60'
sshd_start "$work" "$work/key" "ListenAddress 127.0.0.2" "ListenAddress 127.0.0.3"
port=$sshd_port

command_line() { "$ferrodex" --console "$console" "$@"; }
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
    command_line host add Lab "$address" --port "$port" --login "$sshd_user" --password-stdin <<<"$sshd_password" \
        >/dev/null 2>&1 || fail "host add $address failed"
done

run_face 120 40
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
        tmx send-keys -t face -l -- "$sshd_user"
        keys Tab
        tmx send-keys -t face -l -- "$sshd_password"
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
# Another ferrodex saves the file meanwhile: the console only scanned, so
# its save adds the scans to that file instead of asking, and shows it again.
command_line group add Other >/dev/null 2>&1 || fail "the command was refused"
keys s
wait_for "was saved by another"
keys Enter
wait_gone "was saved by another"
wait_for "My Linux Servers"
grep -qF "[modified]" "$screen_file" && fail "the merged console is still modified"
quit_face
scanned=$(command_line export --format csv 2>/dev/null | grep -c ",Lab,127.0.0.[0-9],$port,yes,")
[ "$scanned" -eq 2 ] || fail "the file holds $scanned pictures, not 2"
command_line tree 2>/dev/null | grep -qF "Other" || fail "the other command's group is gone"
echo "PASS"
