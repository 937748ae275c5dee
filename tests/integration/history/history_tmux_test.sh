#!/usr/bin/env bash
# The history in the terminal console, driven through tmux, on a console file
# whose host holds hardware scanned in an earlier session, beside a history
# of two scans of it (written in the older schema, so opening it migrates
# it): the group's list gives the last scan's time as `show GROUP` prints it,
# and "Changes Since Last Scan" lists what changed.
#   history_tmux_test.sh FERRODEX CONSOLE_IMAGE_TOOL SOURCE_DIR
# Exit 77 (skipped) when tmux or python3 is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: history_tmux_test.sh FERRODEX CONSOLE_IMAGE_TOOL SOURCE_DIR}
image_tool=${2:?}
source_dir=${3:?}
. "$(dirname "$0")/../console/tmux_face.sh"
need_programs python3
face_begin history
console="$work/lab.fdx"
"$image_tool" "$console" Lab srv1 "$source_dir/tests/data/lshw/root.xml" >/dev/null || fail "the console file could not be made"
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
chmod 600 "$work/lab.history.db"

shown=$("$ferrodex" --console "$console" show Lab) || fail "show Lab failed"
grep -q "^srv1  2025-12-06T06:46:40Z " <<<"$shown" || fail "show Lab does not give the history's time: $shown"

run_face 120 32
wait_for "My Linux Servers"
keys Right            # expand the root
wait_for "Lab"
keys Down Right       # the group, expanded: its list
wait_for "srv1"
wait_for "2025-12-06T06:46:40Z"
keys Down             # the host, not expanded
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
echo "the last scan and the changes since it are shown"
