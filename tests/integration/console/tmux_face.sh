# Shell helpers for the tests that drive the terminal console in a tmux
# pane named "face". Sourced after $ferrodex is set; ends the test as a
# missing peer without tmux (need_programs and need_sshd: without others).
# Strings are sliced character-wise. `face_begin NAME` makes
# the test's folder $work with its console file, registry and data folders
# (exported for every ferrodex the test starts) and removes it with the tmux
# server on exit; a test with more to stop defines stop_more. fail() shows
# the screen and the logs; a test may define its own after sourcing.

export LC_ALL=C.UTF-8
face_support="$(dirname "${BASH_SOURCE[0]}")/../../support"
. "$face_support/peer_missing.sh"

need_programs() {
    local program
    for program; do command -v "$program" >/dev/null 2>&1 || peer_missing "$program is missing"; done
}
need_programs tmux

# Sources the private sshd's helpers (../../support/sshd_peer.sh) and needs
# sshd and the test user.
need_sshd() {
    . "$face_support/sshd_peer.sh"
    [ -x "$sshd_program" ] || peer_missing "sshd is missing"
    id "$sshd_user" >/dev/null 2>&1 || peer_missing "the test user is missing (scripts/setup-peers.sh)"
}

tmx() { tmux -L "$socket" -f /dev/null "$@"; }

face_begin() {
    work=$(mktemp -d)
    socket="fdx-$1-$$"
    console="$work/inventory.fdx"
    screen_file="$work/screen.txt"
    step_timeout=${step_timeout:-15}
    export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
    mkdir -p "$FERRODEX_REGISTRY"
    trap face_end EXIT
}

face_end() {
    declare -F stop_more >/dev/null && stop_more
    tmx kill-server >/dev/null 2>&1
    rm -rf "$work"
}

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    tmx capture-pane -p -t face 2>/dev/null
    if [ -s "$work/sshd.log" ]; then
        echo "--- sshd ---"
        tail -20 "$work/sshd.log"
    fi
    if ls "$work"/state/ferrodex/*.log >/dev/null 2>&1; then
        echo "--- log ---"
        cat "$work"/state/ferrodex/*.log | tail -20
    fi
    exit 1
}

# Runs `ferrodex --console $console ARGS...` in the face, in a window of
# WIDTH x HEIGHT; the pane stays when it ends and shows its exit status
# (FDX-EXIT=N). A tmux server that is still going away after the last
# session refuses a new one for a moment ("server exited unexpectedly"):
# tried again.
run_face() {
    local width=$1 height=$2 attempt
    shift 2
    tmx kill-session -t face >/dev/null 2>&1
    for attempt in 1 2 3 4 5 6; do
        tmx new-session -d -s face -x "$width" -y "$height" \
            "env FERRODEX_REGISTRY='$FERRODEX_REGISTRY' XDG_DATA_HOME='$XDG_DATA_HOME' XDG_STATE_HOME='$XDG_STATE_HOME' \
                 LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=screen '$ferrodex' --console '$console' $*; echo FDX-EXIT=\$?; sleep 120" &&
            return 0
        sleep 0.5
    done
    fail "tmux could not start"
}

# Waits until the screen shows TEXT.
wait_for() {
    local text=$1 deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)); do
        tmx capture-pane -p -t face >"$screen_file" 2>/dev/null
        grep -qF -- "$text" "$screen_file" && return 0
        sleep 0.1
    done
    fail "the screen never showed \"$text\""
}

# Waits until the screen no longer shows TEXT.
wait_gone() {
    local text=$1 deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)); do
        tmx capture-pane -p -t face >"$screen_file" 2>/dev/null
        grep -qF -- "$text" "$screen_file" || return 0
        sleep 0.1
    done
    fail "the screen kept showing \"$text\""
}

keys() { tmx send-keys -t face "$@"; }
type_text() { tmx send-keys -t face -l -- "$1"; }

# Starts the face at WIDTH x 32 (face_width, else 120) and waits for its
# first screen (TEXT, else the root).
start_face() {
    run_face "${face_width:-120}" 32
    wait_for "${1:-My Linux Servers}"
}

# The process id of the face running in the pane.
face_pid() {
    local pid="" deadline=$((SECONDS + 5))
    until [ -n "$pid" ]; do
        ((SECONDS < deadline)) || fail "the face's process was not found"
        pid=$(pgrep -P "$(tmx display-message -p -t face '#{pane_pid}')" | head -n1)
        [ -n "$pid" ] || sleep 0.05
    done
    echo "$pid"
}

# Quits the face, answering the save question with ANSWER when one is given.
quit_face() {
    keys q
    [ -z "${1:-}" ] || { wait_for "unsaved changes"; keys "$1"; }
    wait_for "FDX-EXIT=0"
}

# Adds the group NAME through the menu of the selected root.
add_group() {
    keys m
    wait_for "Add Group"
    wait_for "About Ferrodex"
    keys Enter
    wait_for "Add a new group"
    type_text "$1"
    keys Enter
    wait_gone "Add a new group"
    wait_for "$1"
    wait_for "[modified]"
}
