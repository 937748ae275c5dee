#!/usr/bin/env bash
# "Import Hosts..." in the terminal console, driven through tmux: the group's
# menu offers it, its form takes a file, the report names the refused lines
# and the hosts' routes, the new groups and hosts show in the tree at once
# under the inventory's names; a host is renamed in place, a name another
# host of the group has is refused, and all of it is saved.
#   tui_import_tmux_test.sh FERRODEX INVENTORY.INI
# Exit 77 (skipped) when tmux is missing.
# Where FERRODEX_REQUIRE_PEERS is set, a missing one fails the test instead.
set -u
ferrodex=${1:?usage: tui_import_tmux_test.sh FERRODEX INVENTORY}
inventory=${2:?usage: tui_import_tmux_test.sh FERRODEX INVENTORY}
. "$(dirname "$0")/tmux_face.sh"
face_begin import

"$ferrodex" --console "$console" group add Lab 2>"$work/err" || fail "group add: $(cat "$work/err")"
cp "$inventory" "$work/fleet.ini"
run_face 120 40
wait_for "My Linux Servers"

keys Right                      # expand the root
wait_for "Lab"
keys Down Right                 # select and expand Lab
keys m
wait_for "Import Hosts..."
keys Down Down Enter            # Add Host, Delete Group, Import Hosts...
wait_for "Import hosts"
wait_for "~/.ssh/config"        # the default file, selected: typing replaces it
type_text "$work/fleet.ini"
keys Enter
wait_for "8 hosts added, 0 updated, 0"
wait_for "fleet.ini:24: a range ends before it starts"
wait_for "added Lab.prod.web/web-canary.example.com: ops@192.0.2.50 port 2201"
keys Enter
wait_gone "hosts added"
wait_for "Lab.prod.web"
wait_for "Lab.prod.db"

keys Down                       # Lab's one host
wait_for "mail.example.com"
keys r
wait_for "Rename:"
keys C-u
type_text "mailhub"
keys Enter
wait_for "mailhub"
wait_gone "mail.example.com"
keys Down Right                 # Lab.prod.web, expanded
wait_for "web01.example.com"
keys Down                       # its first host
keys r
wait_for "Rename:"
keys C-u
type_text "web02.example.com"
keys Enter
wait_for "holds a host named"
keys Enter
wait_gone "holds a host named"
keys s
wait_gone "[modified]"
quit_face

tree=$("$ferrodex" --console "$console" tree 2>&1)
grep -qxF "    192.0.2.50" <<<"$tree" && fail "a host is named by its address, not by the inventory's name"
[ "$(grep -cxF "    web02.example.com" <<<"$tree")" = 1 ] || fail "a duplicate name was taken: $tree"
for line in "  Lab.prod.web" "    web-canary.example.com" "    web01.example.com" "    db-x.example.com" "    mailhub"; do
    grep -qxF -- "$line" <<<"$tree" || fail "the saved tree lacks \"$line\": $tree"
done
echo "import through the terminal console works"
