#!/usr/bin/env bash
# The terminal console end to end, driven through tmux like a user at a
# terminal: expand the root, add a group and a host through the menus and
# dialogs, rename the group in place, quit answering the save question, then
# open the console again and find everything there; a signal that ends the
# face leaves the terminal as it found it.
#   tui_tmux_test.sh FERRODEX
# Exit 77 (skipped) when tmux is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: tui_tmux_test.sh FERRODEX}
face_width=110
. "$(dirname "$0")/tmux_face.sh"
face_begin tui

# A mouse click at COLUMN ROW (from 0), as an X10 report: press, then release.
click() {
    local x=$(($1 + 33)) y=$(($2 + 33)) button=32
    [ "${3:-left}" = right ] && button=34
    tmx send-keys -t face -H 1b 5b 4d "$(printf %x $button)" "$(printf %x $x)" "$(printf %x $y)" \
        1b 5b 4d 23 "$(printf %x $x)" "$(printf %x $y)"
}

# Waits until the screen shows TEXT at least COUNT times.
wait_count() {
    local text=$1 count=$2 deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)); do
        tmx capture-pane -p -t face >"$screen_file" 2>/dev/null
        (($(grep -cF -- "$text" "$screen_file") >= count)) && return 0
        sleep 0.1
    done
    fail "the screen never showed \"$text\" $count times"
}

# A scriptable command at a terminal: its questions are typed in the pane.
start_command() { run_face 110 32 "$@"; }

# What the scriptable commands of the same program, on the same console
# file, print on standard output (command_line: nothing of it).
command_line_out() { "$ferrodex" --console "$console" "$@" 2>/dev/null; }
command_line() { command_line_out "$@" >/dev/null; }

# Opens the face on the encrypted console and expands its root.
start_unlocked() {
    start_face "${1:-Main password for}"
    [ -n "${2:-}" ] && { keys "$2"; wait_for "Main password for"; }
    type_text "main-pw-4"
    keys Enter
    wait_for "My Linux Servers"
    keys Right
    wait_for "Rack-Z3"
}

# --- First session: build the inventory -------------------------------------
start_face
keys Right                      # expand the root
add_group "Rack-Q7"

keys Down Right                 # select and expand the group
keys m
wait_for "Delete Group"
keys Enter                      # "Add Host" comes first
wait_for "Add a New Host"
wait_for "[22"                  # the port starts at 22, the login at root
wait_for "[root"
type_text "node-x9.example"
keys Tab Tab Tab                # (the port and password fields' editing: tests/console)
type_text "pw-Secret-1"
wait_for "***********"
keys Enter
wait_gone "Add a New Host"
wait_for "node-x9.example"

keys r                          # rename the group in place
wait_for "Rename:"
keys C-u
type_text "Rack-Z3"
keys Enter
wait_for "Rack-Z3"
wait_gone "Rack-Q7"

keys F1                         # the key help opens and closes
wait_for "context menu of the selected node"
keys Escape
wait_gone "context menu of the selected node"

quit_face y
[ -s "$console" ] || fail "no console file was written"

# --- Second session: everything is still there ------------------------------
start_face
click 0 1                       # the root's "+" (the mouse as TERM=screen reports it)
wait_for "Rack-Z3"
click 4 1 right                 # a right click on the root opens its menu
wait_for "About Ferrodex"
keys Escape
wait_gone "About Ferrodex"
click 6 2                       # a click selects the group
keys Right
wait_for "node-x9.example"
# A smaller terminal: the panes follow its new size.
tmx resize-window -t face -x 64 -y 20
deadline=$((SECONDS + step_timeout))
while :; do
    tmx capture-pane -p -t face >"$screen_file"
    rows=$(wc -l <"$screen_file")
    second=$(sed -n 2p "$screen_file")
    last=$(sed -n 20p "$screen_file")
    [ "$rows" -eq 20 ] && [ "${second:24:1}" = "│" ] && [[ "$last" == *"F1 help"* ]] && break
    ((SECONDS < deadline)) || fail "the face did not follow the new size"
    sleep 0.1
done
grep -qF "node-x9.example" "$screen_file" || fail "the tree lost its lines after the resize"

keys q
# Expanding is no change: the console quits without asking.
wait_for "FDX-EXIT=0"
grep -qF "unsaved changes" "$screen_file" && fail "quitting an unchanged console asked to save"

# --- Third session: a signal ends the face and the terminal comes back ------
start_face
kill -TERM "$(face_pid)"
wait_for "FDX-EXIT=143"
# Back on the normal screen: nothing of the face is left on it.
wait_gone "My Linux Servers"

# --- Saved passwords: the main password is asked for in the face ----------
command_line host add Rack-Z3 node-k2 --login root --password-stdin <<<"host-pw" || fail "host add failed"
command_line passwords on --main-password-stdin <<<"main-pw-4" || fail "passwords on failed"
start_face "Main password for"
wait_for "inventory.fdx:"
type_text "wrong"
keys Enter
wait_for "The main password is wrong."
keys Enter
wait_gone "*****"                     # asked again, with an empty field
wait_for "Main password for"
keys Escape                           # Cancel: the console is not opened, exit code 1
wait_for "main password was not given"
keys Enter
wait_for "FDX-EXIT=1"
wait_gone "Main password for"
start_face "Main password for"
type_text "main-pw-4"
keys Enter
wait_for "My Linux Servers"
keys Right
wait_for "Rack-Z3"
quit_face

# --- A new main password at a terminal is typed twice -----------------------
command_line passwords off <<<"main-pw-4" || fail "passwords off failed"
start_command passwords on
wait_for "New main password for inventory.fdx:"
type_text "first-pw"
keys Enter
wait_for "Repeat the new main password for inventory.fdx:"
type_text "frist-pw"
keys Enter
wait_for "The two passwords do not match"
wait_count "New main password for inventory.fdx:" 2
type_text "second-pw"
keys Enter
wait_count "Repeat the new main password for inventory.fdx:" 2
type_text "second-pw"
keys Enter
wait_for "FDX-EXIT=0"
command_line tree <<<"second-pw" || fail "the main password typed twice does not open the file"
# A host's password is asked for by its login and address.
command_line host add Rack-Z3 closed --address 127.0.0.1 --port 1 --login deploy <<<"second-pw" || fail "host add failed"
start_command host refresh Rack-Z3/closed --password-stdin
wait_for "Main password for inventory.fdx:"
type_text "second-pw"
keys Enter
wait_for "Password for deploy@127.0.0.1:"
type_text "host-pw"
keys Enter
wait_for "FDX-EXIT=1"
command_line host remove Rack-Z3/closed <<<"second-pw" || fail "host remove failed"
command_line tree <<<"first-pw" && fail "a mistyped main password was kept"
# The sections below open the console with the first main password again.
command_line passwords off <<<"second-pw" || fail "passwords off failed"
command_line passwords on --main-password-stdin <<<"main-pw-4" || fail "passwords on failed"

# --- Ended by SIGTERM with unsaved changes: kept, then offered and used -----
recovery="$console.recovery"
start_unlocked
add_group "Shelf-T1"
kill -TERM "$(face_pid)"
wait_for "FDX-EXIT=143"
[ -f "$recovery" ] || fail "SIGTERM left no recovery file"
[ "$(stat -c %a "$recovery")" = 600 ] || fail "the recovery file is not owner-only"
grep -qF "main-pw-4" "$recovery" && fail "the recovery file holds the main password"
command_line_out tree <<<"main-pw-4" | grep -qF "Shelf-T1" &&
    fail "the console file changed without a save"
start_unlocked "were kept in" y
wait_for "Shelf-T1"
wait_for "[modified]"
quit_face y
[ -e "$recovery" ] && fail "the recovery file stayed after its changes were saved"
command_line_out tree <<<"main-pw-4" | grep -qF "Shelf-T1" || fail "the recovered group was not saved"

# --- Ended by SIGHUP: kept, then offered and discarded ----------------------
start_unlocked
add_group "Bin-H4"
kill -HUP "$(face_pid)"
wait_for "FDX-EXIT=129"
[ -f "$recovery" ] || fail "SIGHUP left no recovery file"
start_unlocked "were kept in" n
grep -qF "Bin-H4" "$screen_file" && fail "discarded changes came back"
[ -e "$recovery" ] && fail "the discarded recovery file stayed"
quit_face

# --- SIGINT asks as quitting does --------------------------------------------
start_unlocked
add_group "Tray-I5"
kill -INT "$(face_pid)"
wait_for "unsaved changes"
keys Escape                     # Cancel: the console goes on
wait_gone "unsaved changes"
wait_for "Tray-I5"
quit_face n
[ -e "$recovery" ] && fail "quitting left a recovery file"

echo "PASS"
