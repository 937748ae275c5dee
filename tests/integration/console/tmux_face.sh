# Shell helpers for the tests that drive the terminal console in a tmux
# pane named "face". The test sets socket, screen_file and step_timeout and
# defines fail() before sourcing this file.

tmx() { tmux -L "$socket" -f /dev/null "$@"; }

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
