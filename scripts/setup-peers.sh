#!/bin/sh
# Prepares this machine for the tests that talk to real SSH peers: the
# servers and tools they start, the run-time folder sshd needs, and the
# local test user the peers log in as. Safe to run any number of times.
set -eu

TEST_USER=fdxtest
TEST_PASSWORD=fdx-test-pw
DEPLOY_USER=fdxdeploy
SCAN_USERS="fdxscan fdxfleet"

if [ "$(id -u)" -ne 0 ]; then
    echo "setup-peers: not running as root; run these commands as root:" >&2
    echo "  apt-get install -y openssh-server python3-paramiko lshw dropbear-bin chromium python3-jsonschema sudo libreoffice-calc-nogui ansible-core" >&2
    echo "  id -u $TEST_USER >/dev/null 2>&1 || useradd -m $TEST_USER" >&2
    echo "  echo '$TEST_USER:$TEST_PASSWORD' | chpasswd" >&2
    for user in $SCAN_USERS; do
        echo "  id -u $user >/dev/null 2>&1 || useradd -m $user" >&2
        echo "  echo '$user:$TEST_PASSWORD' | chpasswd" >&2
    done
    echo "  id -u $DEPLOY_USER >/dev/null 2>&1 || useradd -m -s /bin/bash $DEPLOY_USER" >&2
    echo "  echo '$DEPLOY_USER:$TEST_PASSWORD' | chpasswd" >&2
    echo "  mkdir -p /run/sshd" >&2
    exit 1
fi

missing=""
[ -x /usr/sbin/sshd ] || missing="$missing openssh-server"
[ -x /usr/bin/ssh ] || missing="$missing openssh-client"
/usr/bin/python3 -c 'import paramiko' 2>/dev/null || missing="$missing python3-paramiko"
command -v lshw >/dev/null 2>&1 || missing="$missing lshw"
command -v make >/dev/null 2>&1 || missing="$missing make"
command -v sshpass >/dev/null 2>&1 || missing="$missing sshpass"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
# sudo: the scans with root rights; the tests write their own rules into
# /etc/sudoers.d (checked with visudo) and remove them again.
[ -x /usr/bin/sudo ] && [ -x /usr/sbin/visudo ] || missing="$missing sudo"
command -v dropbear >/dev/null 2>&1 || [ -x /usr/sbin/dropbear ] || missing="$missing dropbear-bin"
# The exports' readers: the JSON schema check and the browser for the report.
/usr/bin/python3 -c 'import jsonschema' 2>/dev/null || missing="$missing python3-jsonschema"
command -v chromium >/dev/null 2>&1 || missing="$missing chromium"
# The programs the host import is compared with: ssh -G (above) and
# ansible-inventory.
command -v ansible-inventory >/dev/null 2>&1 || missing="$missing ansible-core"
# The spreadsheet that opens the CSV export in the tests.
command -v soffice >/dev/null 2>&1 || missing="$missing libreoffice-calc-nogui"
if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y $missing || { apt-get update && apt-get install -y $missing; }
fi

# The test user, and two more like it for the scan and fleet tests: they look
# at what a scan leaves in the account's home, /tmp and process list, which
# another test's logins would disturb, so they log in to accounts of their own.
for user in "$TEST_USER" $SCAN_USERS; do
    id -u "$user" >/dev/null 2>&1 || useradd -m -s /bin/sh "$user"
    echo "$user:$TEST_PASSWORD" | chpasswd
done
# A second user with bash and Debian's stock ~/.bashrc, on whose account the
# engine package is deployed (it puts lshw into ~/.local/bin).
id -u "$DEPLOY_USER" >/dev/null 2>&1 || useradd -m -s /bin/bash "$DEPLOY_USER"
echo "$DEPLOY_USER:$TEST_PASSWORD" | chpasswd
mkdir -p /run/sshd
chmod 0755 /run/sshd
echo "setup-peers: ready (user $TEST_USER)"
