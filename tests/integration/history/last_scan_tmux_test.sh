#!/usr/bin/env bash
# A group's list in the terminal console, opened on a console file whose host
# holds hardware scanned in an earlier session: its Last scan is the time the
# history holds, as `show GROUP` prints it.
#   last_scan_tmux_test.sh FERRODEX CONSOLE_IMAGE_TOOL SOURCE_DIR
# Exit 77 (skipped) when tmux or python3 is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: last_scan_tmux_test.sh FERRODEX CONSOLE_IMAGE_TOOL SOURCE_DIR}
image_tool=${2:?}
source_dir=${3:?}
. "$(dirname "$0")/../../support/peer_missing.sh"
command -v tmux >/dev/null 2>&1 || peer_missing "tmux is missing"
command -v python3 >/dev/null 2>&1 || peer_missing "python3 is missing"

. "$(dirname "$0")/../console/tmux_face.sh"
face_begin lastscan
console="$work/lab.fdx"
"$image_tool" "$console" Lab srv1 "$source_dir/tests/data/lshw/root.xml" >/dev/null || fail "the console file could not be made"
python3 - "$source_dir/tests/data/lshw/root.xml" "$work/lab.history.db" <<'PY' || fail "the history could not be made"
import sqlite3, sys
db = sqlite3.connect(sys.argv[2])
db.executescript("CREATE TABLE scans(id INTEGER PRIMARY KEY, host TEXT, address TEXT, port INTEGER,"
                 " login TEXT, scanned_at INTEGER, xml TEXT); PRAGMA user_version = 1;")
db.execute("INSERT INTO scans(host, address, port, login, scanned_at, xml) VALUES(?, ?, ?, ?, ?, ?)",
           ("Lab/srv1", "srv1", 22, "root", 1765003600, open(sys.argv[1]).read()))
db.commit()
PY
chmod 600 "$work/lab.history.db"

shown=$("$ferrodex" --console "$console" show Lab) || fail "show Lab failed"
grep -q "^srv1  2025-12-06T06:46:40Z " <<<"$shown" || fail "show Lab does not give the history's time: $shown"

run_face 120 24
wait_for "My Linux Servers"
keys Right            # the root
wait_for "Lab"
keys Down Right       # the group, expanded: its list
wait_for "srv1"
wait_for "2025-12-06T06:46:40Z"
keys q
wait_for "FDX-EXIT=0"
echo "the last scan is shown after reopening"
