#!/usr/bin/env bash
# `ferrodex refresh` of three loopback hosts of a real sshd, the third of
# which never finishes its command, stopped by SIGTERM, SIGINT and SIGHUP
# once the other two have finished: the two finished scans are saved, the
# third host is reported stopped, every record says whether its scan was
# saved, and the exit status is the signal's. Then the same outputs on a
# full disk (a small tmpfs): each fails with a non-zero exit, the records
# say that the scan was not saved, and no file is left under an -o name.
#   refresh_stop_test.sh FERRODEX
# Exit 77 (skipped) when sshd or the test user is missing. Where
# FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
export LC_ALL=C.UTF-8

ferrodex=${1:?usage: refresh_stop_test.sh FERRODEX}
. "$(dirname "$0")/../../support/peer_missing.sh"
. "$(dirname "$0")/../../support/sshd_peer.sh"
[ -x "$sshd_program" ] || peer_missing "sshd is missing"
id "$sshd_user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"

work=$(mktemp -d)
full="$work/full"
refresh_pid=""
cleanup() {
    [ -z "$refresh_pid" ] || kill -KILL "$refresh_pid" 2>/dev/null
    sshd_stop
    mountpoint -q "$full" && umount "$full"
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for f in "$work"/out "$work"/err; do [ -s "$f" ] && { echo "--- $f ---"; tail -20 "$f"; }; done
    exit 1
}
export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
mkdir -p "$FERRODEX_REGISTRY"

ssh-keygen -q -N "" -t ed25519 -f "$work/hostkey" || fail "ssh-keygen failed"
ssh-keygen -q -N "" -t ed25519 -f "$work/id" || fail "ssh-keygen failed"
chmod 711 "$work"  # the server reads the keys as the test user
cp "$work/id.pub" "$work/authorized_keys" && chmod 644 "$work/authorized_keys"
sshd_match=$'Match LocalAddress 127.0.0.3\n    ForceCommand exec sleep 60'
sshd_start "$work" "$work/hostkey" "ListenAddress 127.0.0.2" "ListenAddress 127.0.0.3" \
    "AuthorizedKeysFile $work/authorized_keys"
port=$sshd_port

base="$work/base.fdx"
"$ferrodex" --console "$base" group add Lab >/dev/null 2>&1 || fail "group add failed"
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
    "$ferrodex" --console "$base" host add Lab "$address" --port "$port" --login "$sshd_user" --identity "$work/id" \
        >/dev/null 2>&1 || fail "host add $address failed"
done

# Pictures in a console file: one CSV line per scanned host.
pictures() { "$ferrodex" --console "$1" export --format csv 2>/dev/null | grep -c ",Lab,127\.0\.0\.[0-9],$port,yes,"; }
# The JSON record of a host in $work/out.
record() { grep -F "\"host\":\"Lab/$1\"" "$work/out"; }
children() { pgrep -P "$1" | wc -l; }
logins() { grep -c "Accepted publickey" "$work/sshd.log"; }

# Starts a refresh of $1 in the background; returns once the two quick
# hosts are done and only the hanging host's worker is left.
start_refresh() {
    local before deadline
    before=$(logins)
    "$ferrodex" --console "$1" refresh --json >"$work/out" 2>"$work/err" &
    refresh_pid=$!
    deadline=$((SECONDS + 60))
    until (($(logins) >= before + 3)) && [ "$(children "$refresh_pid")" -eq 1 ]; do
        ((SECONDS < deadline)) || fail "the two quick hosts did not finish"
        kill -0 "$refresh_pid" 2>/dev/null || fail "the refresh ended before its signal"
        sleep 0.1
    done
}

# Waits for the refresh to end within 15 s (the hanging host's limit is
# minutes away); its exit status is in $status.
wait_refresh() {
    local deadline=$((SECONDS + 15))
    while kill -0 "$refresh_pid" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "the refresh did not end at its signal"
        sleep 0.1
    done
    wait "$refresh_pid"
    status=$?
    refresh_pid=""
}

for signal in TERM INT HUP; do
    console="$work/$signal.fdx"
    cp "$base" "$console"
    start_refresh "$console"
    kill -"$signal" "$refresh_pid"
    if [ "$signal" = TERM ]; then
        # A shutdown's second signal, once the scans are being stopped,
        # does not lose the finished ones.
        deadline=$((SECONDS + 10))
        while kill -0 "$refresh_pid" 2>/dev/null && [ "$(children "$refresh_pid")" -ne 0 ]; do
            ((SECONDS < deadline)) || fail "the hanging host's worker was not stopped"
            sleep 0.05
        done
        kill -TERM "$refresh_pid" 2>/dev/null
    fi
    wait_refresh
    number=$(kill -l "$signal")
    [ "$status" -eq $((128 + number)) ] || fail "SIG$signal: exit status $status, not $((128 + number))"
    grep -qF "refresh stopped by SIG$signal: 2 finished scan(s) saved" "$work/err" || fail "SIG$signal: not told"
    for address in 127.0.0.1 127.0.0.2; do
        record "$address" | grep -qF '"ok":true,"saved":true' || fail "SIG$signal: $address not saved"
    done
    record 127.0.0.3 | grep -qF '"ok":false,"saved":false' || fail "SIG$signal: the hanging host"
    record 127.0.0.3 | grep -qF '"result":"stopped before its scan finished' || fail "SIG$signal: not said stopped"
    [ "$(pictures "$console")" -eq 2 ] || fail "SIG$signal: the file holds $(pictures "$console") pictures, not 2"
done

# --- A full disk -------------------------------------------------------------
mkdir -p "$full"
if ! mount -t tmpfs -o size=1m tmpfs "$full" 2>/dev/null; then
    echo "mounting a small tmpfs is not permitted here: the full-disk part skipped"
    echo "PASS"
    exit 0
fi
scanned="$work/TERM.fdx"
# Fills the tmpfs to its last byte.
fill() { dd if=/dev/zero of="$full/fill-$1" bs=4k 2>/dev/null; dd if=/dev/zero of="$full/tail-$1" bs=1 2>/dev/null; }
cp "$scanned" "$full/inventory.fdx"
fill 1
before=$(md5sum <"$full/inventory.fdx")
"$ferrodex" --console "$full/inventory.fdx" refresh Lab/127.0.0.1 --json >"$work/out" 2>"$work/err"
status=$?
[ "$status" -ne 0 ] || fail "a refresh whose save failed exited 0"
record 127.0.0.1 | grep -qF '"ok":true,"saved":false' || fail "the record does not say that the scan was not saved"
[ "$(md5sum <"$full/inventory.fdx")" = "$before" ] || fail "the console file changed"

for command in "export --format json" "export --format csv" "export --format html" "tree --json" "tree" \
    "show Lab/127.0.0.1 --json" "find class=memory --json"; do
    # shellcheck disable=SC2086
    "$ferrodex" --console "$scanned" $command >"$full/out" 2>"$work/err" && fail "$command onto a full disk exited 0"
    grep -qF "Error: " "$work/err" || fail "$command onto a full disk said nothing"
    rm -f "$full/out"
    fill 2
    "$ferrodex" --console "$scanned" export --format json -o "$full/export.json" 2>"$work/err" &&
        fail "export -o onto a full disk exited 0"
done
ls "$full" | grep -q "export" && fail "a partial export was left: $(ls "$full")"
echo "PASS"
