#!/usr/bin/env bash
# Nothing finished is lost when ferrodex is stopped, against a real sshd on
# three loopback addresses whose third never finishes its command:
#  - `refresh` stopped by SIGTERM (twice), SIGINT, SIGHUP saves the two
#    finished scans, says the third stopped, exits with the signal's status;
#  - its outputs onto a full disk (a small tmpfs) fail, and say so;
#  - the terminal console's Refresh All stopped by SIGTERM twice, or by its
#    terminal closing (under a shell that ignores SIGHUP), keeps the finished
#    scans and an unsaved group in the recovery file at once;
#  - recovered changes over a console file saved meanwhile: the save asks.
#   stop_recovery_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux, sshd or the test user is missing, unless
# FERRODEX_REQUIRE_PEERS is set.
set -u
ferrodex=${1:?usage: stop_recovery_tmux_test.sh FERRODEX}
step_timeout=30
. "$(dirname "$0")/tmux_face.sh"
need_sshd
face_begin stop
full="$work/full"
stop_more() {
    sshd_stop
    mountpoint -q "$full" && umount "$full"
}

ssh-keygen -q -N "" -t ed25519 -f "$work/hostkey" && ssh-keygen -q -N "" -t ed25519 -f "$work/id" || fail "ssh-keygen"
chmod 711 "$work"  # the server reads the keys as the test user
cp "$work/id.pub" "$work/authorized_keys" && chmod 644 "$work/authorized_keys"
sshd_match=$'Match LocalAddress 127.0.0.3\n    ForceCommand exec sleep 60'
sshd_start "$work" "$work/hostkey" "ListenAddress 127.0.0.2" "ListenAddress 127.0.0.3" \
    "AuthorizedKeysFile $work/authorized_keys"
command_line() { "$ferrodex" --console "$console" "$@"; }
command_line group add Lab >/dev/null 2>&1 || fail "group add failed"
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
    command_line host add Lab "$address" --port "$sshd_port" --login "$sshd_user" --identity "$work/id" \
        >/dev/null 2>&1 || fail "host add $address failed"
done
cp "$console" "$work/base.fdx"
recovery="$console.recovery"
scans() { "$ferrodex" --console "$1" export --format csv 2>/dev/null | grep -c ",Lab,127\.0\.0\.[0-9],$sshd_port,yes,"; }
record() { grep -F "\"host\":\"Lab/$1\"" "$work/out"; }
# Waits (at most 10 s) until process $1 has no child left, or is gone.
childless() {
    local deadline=$((SECONDS + 10))
    while kill -0 "$1" 2>/dev/null && [ -n "$(pgrep -P "$1")" ]; do
        ((SECONDS < deadline)) || fail "the hanging host's worker was not stopped"
        sleep 0.05
    done
}
# Waits (at most 10 s) until process $1 is gone.
gone() {
    local deadline=$((SECONDS + 10))
    while kill -0 "$1" 2>/dev/null; do ((SECONDS < deadline)) || fail "$2"; sleep 0.05; done
}

# --- refresh, stopped once two hosts are done ---------------------------------
for signal in TERM INT HUP; do
    cp "$work/base.fdx" "$console"
    "$ferrodex" --console "$console" refresh --json >"$work/out" 2>"$work/err" &
    pid=$!
    deadline=$((SECONDS + 60))
    until (($(grep -c "Accepted publickey" "$work/sshd.log") >= 3)) && [ "$(pgrep -P "$pid" | wc -l)" -eq 1 ]; do
        ((SECONDS < deadline)) || fail "the two quick hosts did not finish"
        sleep 0.1
    done
    : >"$work/sshd.log"
    kill -"$signal" "$pid"
    # A shutdown's second signal, once the scans are being stopped, waits.
    [ "$signal" = TERM ] && childless "$pid" && kill -TERM "$pid" 2>/dev/null
    gone "$pid" "SIG$signal did not end the refresh"
    wait "$pid"
    status=$?
    [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || fail "SIG$signal: exit status $status"
    grep -qF "refresh stopped by SIG$signal: 2 finished scan(s) saved" "$work/err" || fail "SIG$signal: not told"
    record 127.0.0.1 | grep -qF '"ok":true,"saved":true' || fail "SIG$signal: a finished scan is not saved"
    record 127.0.0.3 | grep -qF '"saved":false,"result":"stopped before its scan finished' || fail "SIG$signal: not stopped"
    [ "$(scans "$console")" -eq 2 ] || fail "SIG$signal: the file holds $(scans "$console") scans, not 2"
done

# --- a full disk --------------------------------------------------------------
mkdir -p "$full"
if mount -t tmpfs -o size=1m tmpfs "$full" 2>/dev/null; then
    cp "$console" "$full/inventory.fdx"
    fill() { dd if=/dev/zero of="$full/fill-$1" bs=4k 2>/dev/null; dd if=/dev/zero of="$full/tail-$1" bs=1 2>/dev/null; }
    fill 1
    "$ferrodex" --console "$full/inventory.fdx" refresh Lab/127.0.0.1 --json >"$work/out" 2>/dev/null &&
        fail "a refresh whose save failed exited 0"
    record 127.0.0.1 | grep -qF '"ok":true,"saved":false' || fail "the record says the unsaved scan was saved"
    for command in "export --format json" "export --format html" "tree --json" "show Lab" "find class=memory"; do
        # shellcheck disable=SC2086
        command_line $command >"$full/out" 2>"$work/err" && fail "$command onto a full disk exited 0"
        grep -qF "Error: " "$work/err" || fail "$command onto a full disk said nothing"
        rm -f "$full/out" && fill 2
        command_line export --format csv -o "$full/export.csv" 2>/dev/null && fail "export -o onto a full disk exited 0"
    done
    ls "$full" | grep -q "export" && fail "a partial export was left: $(ls "$full")"
else
    echo "mounting a small tmpfs is not permitted: the full-disk part is skipped"
fi

# --- the terminal console: Refresh All, SIGTERM twice -------------------------
cp "$work/base.fdx" "$console"
refresh_all() {
    keys m
    wait_for "Refresh All"
    keys End Enter
    wait_for "2/3 done, 0 failed"
}
run_face 120 40
wait_for "My Linux Servers"
pid=$(face_pid)
keys Right Down
refresh_all
kill -TERM "$pid" || fail "the console is gone before its signal"
childless "$pid"
kill -TERM "$pid" 2>/dev/null
step_timeout=10 wait_for "FDX-EXIT=143"
tail -n +2 "$recovery" >"$work/recovered.fdx"
[ "$(scans "$work/recovered.fdx")" -eq 2 ] || fail "the recovery file holds $(scans "$work/recovered.fdx") scans"
[ "$(scans "$console")" -eq 0 ] || fail "the console file changed without a save"

# --- another ferrodex saved before the recovery is opened ---------------------
command_line group add Other >/dev/null 2>&1 || fail "group add Other failed"
run_face 120 40
wait_for "was saved by another"
keys y
wait_for "[modified]"
keys s
wait_for "Console file changed"
keys Escape
wait_for "Not saved"
command_line tree 2>/dev/null | grep -qF "Other" || fail "the other ferrodex's group was written over"
keys q n
wait_for "FDX-EXIT=0"

# --- the terminal closed during Refresh All, with an unsaved group -------------
# The kernel sends SIGHUP to the session's leader, here a shell that ignores
# it: only the closed terminal tells the console.
tmx kill-session -t face
tmx new-session -d -s face -x 120 -y 40 "trap '' HUP; env FERRODEX_REGISTRY='$FERRODEX_REGISTRY' \
    XDG_DATA_HOME='$XDG_DATA_HOME' XDG_STATE_HOME='$XDG_STATE_HOME' LANG=C.UTF-8 TERM=screen \
    '$ferrodex' --console '$console'; echo FDX-EXIT=\$?" || fail "tmux could not start"
wait_for "My Linux Servers"
pid=$(face_pid)
keys Right
add_group "Shelf-K9"
keys Home Down
refresh_all
tmx kill-session -t face
gone "$pid" "the console went on after its terminal closed"
tail -n +2 "$recovery" >"$work/recovered.fdx"
"$ferrodex" --console "$work/recovered.fdx" tree 2>/dev/null | grep -qF "Shelf-K9" || fail "the unsaved group is lost"
[ "$(scans "$work/recovered.fdx")" -eq 2 ] || fail "the recovery file holds $(scans "$work/recovered.fdx") scans"
echo "PASS"
