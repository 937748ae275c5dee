#!/usr/bin/env bash
# "Changes Since Last Scan" in the terminal console, driven through tmux: a
# history of two scans of a host (written in the older schema, so opening it
# migrates it) shows as a list of what changed.
#   history_tmux_test.sh FERRODEX SOURCE_DIR
# Exit 77 (skipped) when tmux or python3 is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: history_tmux_test.sh FERRODEX SOURCE_DIR}
source_dir=${2:?usage: history_tmux_test.sh FERRODEX SOURCE_DIR}
. "$(dirname "$0")/../../support/peer_missing.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
command -v python3 >/dev/null 2>&1 || peer_missing "python3 is missing"

work=$(mktemp -d)
socket="fdx-history-$$"
tmx() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
    tmx kill-server >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
console="$work/lab.fdx"
screen_file="$work/screen.txt"

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    tmx capture-pane -p -t face 2>/dev/null
    exit 1
}
wait_for() {
    local text=$1 deadline=$((SECONDS + 15))
    while ((SECONDS < deadline)); do
        tmx capture-pane -p -t face >"$screen_file" 2>/dev/null
        grep -qF -- "$text" "$screen_file" && return 0
        sleep 0.1
    done
    fail "the screen never showed \"$text\""
}
keys() { tmx send-keys -t face "$@"; }
run() {
    env FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" \
        "$ferrodex" --console "$console" "$@" >/dev/null || fail "ferrodex $* failed"
}

mkdir -p "$work/registry"
run group add Lab
run host add Lab srv1 --login root

python3 - "$source_dir/tests/data/lshw/root.xml" "$work/lab.history.db" <<'PY' || fail "the history could not be made"
import sqlite3, sys
xml = open(sys.argv[1]).read()
changed = xml.replace('25769803776', '17179869184', 1)
db = sqlite3.connect(sys.argv[2])
db.executescript("CREATE TABLE scans(id INTEGER PRIMARY KEY, host TEXT, address TEXT, port INTEGER,"
                 " login TEXT, scanned_at INTEGER, xml TEXT); PRAGMA user_version = 1;")
for when, text in ((1765000000, xml), (1765003600, changed)):
    db.execute("INSERT INTO scans(host, address, port, login, scanned_at, xml) VALUES(?, ?, ?, ?, ?, ?)",
               ("Lab/srv1", "srv1", 22, "root", when, text))
db.commit()
PY

tmx new-session -d -s face -x 120 -y 32 \
    "env FERRODEX_REGISTRY='$work/registry' XDG_DATA_HOME='$work/data' XDG_STATE_HOME='$work/state' \
         LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=screen '$ferrodex' --console '$console'; echo FDX-EXIT=\$?; sleep 60" ||
    fail "tmux could not start"
wait_for "My Linux Servers"
keys Right            # expand the root
wait_for "Lab"
keys Down Right       # the group, expanded
wait_for "srv1"
keys Down             # the host, not expanded: nothing is scanned
wait_for "(nothing to show)"
tmx capture-pane -p -t face | head -1 | grep -qF "[modified]" && fail "modified before the changes were shown"
keys m
wait_for "Changes Since Last Scan"
keys Enter
wait_for "Old value"
wait_for "core/memory"
wait_for "24 Gb"
wait_for "16 Gb"
wait_for "scan 1 ("
tmx capture-pane -p -t face | grep -F "core/memory" | grep -qF "changed" || fail "the row is no change"
# Reading the scans changed nothing of the console.
tmx capture-pane -p -t face | head -1 | grep -qF "[modified]" && fail "reading the scans marked the console modified"
keys Up               # another node: its own view again
wait_for "Last scan"
keys q                # nothing to save: no question
wait_for "FDX-EXIT=0"
echo "changes since the last scan shown"
