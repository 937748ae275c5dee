# Sourced by the test scripts that log in to a private sshd: it listens on a
# free port of 127.0.0.1 with a host key of the test's own and takes the test
# user's password. The test defines fail() and stops the server on exit with
# sshd_stop. sshd_start returns 1 when the server does not start (after
# fail(), should that return).
#   sshd_start FOLDER KEY [LINE...]  writes FOLDER/sshd_config (each LINE
#       before the defaults, so that it wins; $sshd_match, when set, after
#       them), starts sshd with its log in FOLDER/sshd.log and waits until it
#       listens on $sshd_port (a free port, chosen at the first start and
#       chosen again when another program took it first).
#   sshd_stop                        ends the server and waits for it.
sshd_program=/usr/sbin/sshd
sshd_user=${FDX_TEST_ACCOUNT:-fdxtest}
sshd_password=fdx-test-pw
sshd_pid=""
sshd_port=""
sshd_match=""

# A port of 127.0.0.1 that nobody listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

sshd_start() {
    local folder=$1 key=$2 chosen=0 attempt
    shift 2
    [ -n "$sshd_port" ] || { sshd_port=$(free_port); chosen=1; }
    for attempt in 1 2 3; do
        sshd_try "$folder" "$key" "$@" && return 0
        # A port chosen here may have been taken by another program before
        # sshd bound it: another one is tried. A port kept across restarts
        # is not changed.
        ((chosen)) && grep -q "Address already in use" "$folder/sshd.log" || break
        sshd_port=$(free_port)
    done
    fail "sshd did not start: $(tail -3 "$folder/sshd.log" 2>/dev/null)"
    return 1
}

# One start on $sshd_port; false when sshd ends or does not listen within
# 10 s.
sshd_try() {
    local folder=$1 key=$2
    shift 2
    {
        printf '%s\n' "$@"
        cat <<CONFIG
Port $sshd_port
ListenAddress 127.0.0.1
HostKey $key
PidFile $folder/sshd.pid
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PermitRootLogin no
StrictModes no
LogLevel VERBOSE
CONFIG
        [ -z "$sshd_match" ] || printf '%s\n' "$sshd_match"
    } >"$folder/sshd_config"
    : >"$folder/sshd.log"
    "$sshd_program" -f "$folder/sshd_config" -D -E "$folder/sshd.log" &
    sshd_pid=$!
    local deadline=$((SECONDS + 10))
    until grep -q "Server listening" "$folder/sshd.log" 2>/dev/null; do
        if ((SECONDS >= deadline)) || ! kill -0 "$sshd_pid" 2>/dev/null; then
            sshd_stop
            return 1
        fi
        sleep 0.1
    done
}

sshd_stop() {
    [ -n "$sshd_pid" ] || return 0
    # Quietly, also under `set -e`: the server may have ended already.
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
    sshd_pid=""
}
