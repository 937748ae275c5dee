#!/usr/bin/env bash
# The terminal console shows what a hostile host left in the inventory
# visibly, never as something the terminal acts on: a group and a host whose
# names hold an escape sequence and a bidirectional override, and a host whose
# hardware values hold escape sequences, C1 controls, bidirectional overrides
# and line feeds. The window title stays the face's own.
#   tui_hostile_text_test.sh FERRODEX HOSTILE_CONSOLE
# HOSTILE_CONSOLE: a console file of a release that took such names, its
# host holding the test data's hostile.xml.
# Exit 77 (skipped) when tmux is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: tui_hostile_text_test.sh FERRODEX HOSTILE_CONSOLE}
hostile_console=${2:?}
. "$(dirname "$0")/tmux_face.sh"
face_begin hostile
cp "$hostile_console" "$console" || fail "the console file could not be made"

run_face 150 40
title_before=$(tmx display-message -p -t face '#{pane_title}')
wait_for "My Linux Servers"

keys Right                        # the root
wait_for 'Lab\x1b[2J'
keys Down Right                   # the group
wait_for 'srv\u202e'
keys Down Right                   # the host: its login question, then its stored hardware
wait_for "Enter Host Login Details"
keys Tab Tab                      # from the host to the login field
tmx send-keys -t face -l -- "root"   # no password is needed for stored hardware
keys Enter
wait_for "general"
keys Down                         # "general": its values in the result pane
wait_for 'Computer\x1b]0;owned title\x07'
wait_for 'Box\u009b31mred\u0085next'
wait_for 'abc\u202egpj.exe\u2066isolated\u2069'
wait_for 'line one\x0aError: forged\x0dover'

# Nothing of it reached the terminal as a control: no character of those
# classes on the screen, and the title is untouched.
tmx capture-pane -p -t face >"$screen_file"
if LC_ALL=C grep -qP '[\x00-\x08\x0b-\x1f\x7f]|\xc2[\x80-\x9f]|\xe2\x80[\xaa-\xae]|\xe2\x81[\xa6-\xa9]' "$screen_file"; then
    fail "the screen holds a raw control character"
fi
title_after=$(tmx display-message -p -t face '#{pane_title}')
[ "$title_after" = "$title_before" ] || fail "the window title changed to \"$title_after\""
case "$title_after" in *owned*) fail "the host retitled the window" ;; esac

keys q                            # the login given counts as a change: not saved
wait_for "unsaved changes"
keys n
wait_for "FDX-EXIT=0"
echo "PASS"
