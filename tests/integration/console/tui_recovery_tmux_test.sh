#!/usr/bin/env bash
# What the terminal console keeps when it is ended, driven through tmux
# against a real sshd on three loopback addresses whose third never finishes
# its command:
#  - Refresh All stopped by SIGTERM, then a second SIGTERM: it ends at once,
#    and its recovery file holds the two finished scans;
#  - the recovery file's changes over a console file that another ferrodex
#    saved meanwhile: the offer says so, and the save asks as any save does;
#  - the terminal really closed (tmux kill-session) during Refresh All with an
#    unsaved change: the change and the finished scans are in the recovery
#    file, at once.
#   tui_recovery_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd or the test user is missing. Where
# FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: tui_recovery_tmux_test.sh FERRODEX}
. "$(dirname "$0")/../../support/peer_missing.sh"
. "$(dirname "$0")/../../support/sshd_peer.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
[ -x "$sshd_program" ] || peer_missing "sshd is missing"
id "$sshd_user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

step_timeout=30
. "$(dirname "$0")/tmux_face.sh"
face_begin recovery
stop_more() { sshd_stop; }

ssh-keygen -q -N "" -t ed25519 -f "$work/hostkey" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t ed25519 -f "$work/id" || fail "ssh-keygen failed"
chmod 711 "$work"  # the server reads the keys as the test user
cp "$work/id.pub" "$work/authorized_keys" && chmod 644 "$work/authorized_keys"
sshd_match=$'Match LocalAddress 127.0.0.3\n    ForceCommand exec sleep 60'
sshd_start "$work" "$work/hostkey" "ListenAddress 127.0.0.2" "ListenAddress 127.0.0.3" \
    "AuthorizedKeysFile $work/authorized_keys"
port=$sshd_port

command_line() { "$ferrodex" --console "$console" "$@"; }
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
    command_line host add Lab "$address" --port "$port" --login "$sshd_user" --identity "$work/id" \
        >/dev/null 2>&1 || fail "host add $address failed"
done
recovery="$console.recovery"

# The process id of the face running in the tmux pane.
face_pid() {
    local pane pid="" deadline=$((SECONDS + 5))
    pane=$(tmx display-message -p -t face '#{pane_pid}')
    until [ -n "$pid" ]; do
        ((SECONDS < deadline)) || fail "the face's process was not found"
        pid=$(pgrep -P "$pane" | head -n1)
        [ -n "$pid" ] || sleep 0.1
    done
    echo "$pid"
}
# The recovery file as a console file of its own (without its first line).
recovered_copy() { tail -n +2 "$recovery" >"$work/recovered.fdx"; }
pictures() { "$ferrodex" --console "$1" export --format csv 2>/dev/null | grep -c ",Lab,127\.0\.0\.[0-9],$port,yes,"; }

# --- Refresh All, SIGTERM twice ---------------------------------------------
run_face 120 40
wait_for "My Linux Servers"
keys Right
wait_for "Lab"
keys Down m
wait_for "Refresh All"
pid=$(face_pid)                 # before the refresh's workers are there
keys End Enter
wait_for "2/3 done, 0 failed"
kill -TERM "$pid"
# The hanging host's worker goes at once; the second signal comes while the
# face keeps its changes (or after it ended).
deadline=$((SECONDS + 10))
while kill -0 "$pid" 2>/dev/null && [ -n "$(pgrep -P "$pid")" ]; do
    ((SECONDS < deadline)) || fail "the first SIGTERM did not stop the hanging host's worker"
    sleep 0.05
done
kill -TERM "$pid" 2>/dev/null
step_timeout=10 wait_for "FDX-EXIT=143"
[ -f "$recovery" ] || fail "Refresh All ended by SIGTERM left no recovery file"
recovered_copy
[ "$(pictures "$work/recovered.fdx")" -eq 2 ] || fail "the recovery file holds $(pictures "$work/recovered.fdx") scans, not 2"
[ "$(pictures "$console")" -eq 0 ] || fail "the console file changed without a save"

# --- Another ferrodex saves before the recovery file is opened --------------
command_line group add Other >/dev/null 2>&1 || fail "group add Other failed"
run_face 120 40
wait_for "were kept in"
wait_for "was saved by another"
keys y
wait_for "[modified]"
keys s
wait_for "Console file changed"
keys Escape                     # Cancel: neither side's changes are lost
wait_for "Not saved"
command_line tree 2>/dev/null | grep -qF "Other" || fail "the other ferrodex's group was written over"
keys s
wait_for "Console file changed"
keys y                          # reload the file as the other one saved it
wait_gone "[modified]"
keys Right
wait_for "Other"
keys q
wait_for "FDX-EXIT=0"

# --- The terminal closed during Refresh All, with an unsaved change --------
# The face may get no SIGHUP at all: the kernel sends it to the session's
# leader, here a shell that ignores it. The face sees its terminal gone
# while it waits for the hanging host, long before that host's limit.
rm -f "$recovery"
tmx kill-session -t face >/dev/null 2>&1
tmx new-session -d -s face -x 120 -y 40 \
    "trap '' HUP; env FERRODEX_REGISTRY='$FERRODEX_REGISTRY' XDG_DATA_HOME='$XDG_DATA_HOME' \
         XDG_STATE_HOME='$XDG_STATE_HOME' LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=screen '$ferrodex' --console '$console'; echo FDX-EXIT=\$?" ||
    fail "tmux could not start"
wait_for "My Linux Servers"
keys Right m
wait_for "Add Group"
keys Enter
wait_for "Add a new group"
type_text "Shelf-K9"
keys Enter
wait_for "[modified]"
pid=$(face_pid)                 # before the refresh's workers are there
keys Home Down                  # Lab
keys m
wait_for "Refresh All"
keys End Enter
wait_for "2/3 done, 0 failed"
tmx kill-session -t face
deadline=$((SECONDS + 10))
while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "the face went on after its terminal closed"
    sleep 0.1
done
[ -f "$recovery" ] || fail "closing the terminal left no recovery file"
recovered_copy
"$ferrodex" --console "$work/recovered.fdx" tree 2>/dev/null | grep -qF "Shelf-K9" ||
    fail "the recovery file lacks the unsaved group"
[ "$(pictures "$work/recovered.fdx")" -eq 2 ] || fail "the recovery file holds $(pictures "$work/recovered.fdx") scans, not 2"
command_line tree 2>/dev/null | grep -qF "Shelf-K9" && fail "the console file changed without a save"
echo "PASS"
