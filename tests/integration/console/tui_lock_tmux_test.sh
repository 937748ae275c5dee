#!/usr/bin/env bash
# The terminal console and a second ferrodex on the same console file,
# driven through tmux: with unsaved changes in the console, a command from
# another shell adds a group; the console's save then asks (Cancel by
# default, Reload keeps the other group, Overwrite only when told so), and
# its save waits on the file's lock and gives up cleanly when another
# process keeps it. Also: the menus of a root and a group never expanded
# open all the same.
#   tui_lock_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux or flock(1) is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: tui_lock_tmux_test.sh FERRODEX}
. "$(dirname "$0")/tmux_face.sh"
need_programs flock
face_begin lock
holder=""
stop_more() { [ -z "$holder" ] || kill "$holder" 2>/dev/null; }

# The scriptable commands on the same file, as from another shell.
command_line() { "$ferrodex" --console "$console" "$@" >/dev/null 2>"$work/command.err"; }
saved_tree() { "$ferrodex" --console "$console" tree 2>/dev/null; }
saved_has() { saved_tree | grep -qF -- "$1"; }

# Saves and waits for the question about the file changed by someone else.
save_expecting_question() {
    keys s
    wait_for "Console file changed"
}

command_line group add Rack-A || fail "group add failed: $(cat "$work/command.err")"

# --- Menus of nodes never expanded ------------------------------------------
start_face
keys m                              # the root, not expanded
wait_for "About Ferrodex"
keys Escape
wait_gone "About Ferrodex"
grep -qF "No menu for this node" "$screen_file" && fail "the root's menu needed an expansion"
keys Right
wait_for "Rack-A"
keys Down m                         # the group, not expanded
wait_for "Delete Group"
wait_for "Add Host"
keys Escape
wait_gone "Delete Group"
keys Up

# --- Another ferrodex adds a group while the console has unsaved changes ----
add_group "Mine-B"
command_line group add Other-X || fail "the command was refused: $(cat "$work/command.err")"
save_expecting_question
keys Enter                          # Cancel is the default: nothing is saved
wait_gone "Console file changed"
wait_for "Not saved"
wait_for "[modified]"
saved_has Other-X || fail "the other command's group is gone"
saved_has Mine-B && fail "Cancel saved the console"

save_expecting_question
keys y                              # Reload: the other group comes in, ours goes
wait_gone "Console file changed"
wait_gone "[modified]"
keys Right
wait_for "Other-X"
grep -qF "Mine-B" "$screen_file" && fail "the reloaded console kept the given-up group"
saved_has Other-X || fail "reloading lost the other command's group"

# --- Overwrite only when told so; then saves ask no more --------------------
add_group "Mine-C"
command_line group add Other-Y || fail "the command was refused: $(cat "$work/command.err")"
save_expecting_question
keys n                              # Overwrite
wait_for "Saved to"
saved_has Mine-C || fail "Overwrite did not save the console"
saved_has Other-Y && fail "Overwrite kept the other group"

add_group "Mine-D"
keys s
wait_for "Saved to"
grep -qF "Console file changed" "$screen_file" && fail "the console's own save counted as another's"
saved_has Mine-D || fail "the second save did not save"

# --- The save takes the file's lock ------------------------------------------
add_group "Mine-E"
# One process that holds the lock until it is killed.
python3 -c 'import fcntl, sys, time
f = open(sys.argv[1], "a"); fcntl.flock(f, fcntl.LOCK_EX); time.sleep(120)' "$console.lock" &
holder=$!
for _ in $(seq 50); do flock -n "$console.lock" true || break; sleep 0.1; done
flock -n "$console.lock" true && fail "the lock holder did not take the lock"
keys s
wait_for "Waiting for another ferrodex"
wait_for "nothing was saved"
keys Enter
wait_gone "nothing was saved"
saved_has Mine-E && fail "the console saved while another process held the lock"
kill "$holder"
wait "$holder" 2>/dev/null
holder=""
keys s
wait_for "Saved to"
saved_has Mine-E || fail "the save after the lock was let go did not save"

# --- Quitting with a save that meets another's: Yes gives ours up and quits
add_group "Mine-F"
command_line group add Other-Z || fail "the command was refused: $(cat "$work/command.err")"
keys q
wait_for "unsaved changes"
keys y
wait_for "Console file changed"
keys y
wait_for "FDX-EXIT=0"
saved_has Other-Z || fail "quitting lost the other command's group"
saved_has Mine-F && fail "quitting saved the given-up group"
echo "PASS"
