#!/usr/bin/python3
"""A jump host that writes down every login offered to it (paramiko).

Listens on 127.0.0.1 at --port and serves any number of connections until it
is stopped. Every secret and key a client offers is appended to --log, one
line each, with the login it came with:

  password USER SECRET      a password login
  kbdint USER SECRET        an answer to the keyboard-interactive prompt
  publickey USER TYPE B64   a public key, asked about or signed with
  accepted USER METHOD      a password or keyboard-interactive login taken
  forward HOST PORT         a direct-tcpip channel, forwarded

Every user may try publickey, password and keyboard-interactive, so that a
client that holds a password would offer it. It takes the password given by
--password (none when empty) and the keys of the --authorized files
(OpenSSH ".pub" lines), those for the first --key-logins connections that
offer one only when given, and forwards direct-tcpip channels to 127.0.0.1
only.
"""
import argparse
import logging
import select
import socket
import threading

import paramiko

LOCK = threading.Lock()
KEY_LOGINS = [0]  # connections that offered a key it takes, so far


class Notes:
    def __init__(self, path):
        self.path = path

    def write(self, *words):
        with LOCK, open(self.path, "a") as out:
            out.write(" ".join(str(w) for w in words) + "\n")


class Server(paramiko.ServerInterface):
    def __init__(self, args, notes, keys):
        self.args = args
        self.notes = notes
        self.keys = keys
        self.user = ""
        self.destinations = {}
        self.key_login = 0  # which connection of those offering a good key

    def key_taken(self):
        if self.args.key_logins < 0:
            return True
        if not self.key_login:
            with LOCK:
                KEY_LOGINS[0] += 1
                self.key_login = KEY_LOGINS[0]
        return self.key_login <= self.args.key_logins

    def get_allowed_auths(self, username):
        return "publickey,password,keyboard-interactive"

    def check_auth_password(self, username, password):
        self.notes.write("password", username, password)
        if self.args.password and password == self.args.password:
            self.notes.write("accepted", username, "password")
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_auth_publickey(self, username, key):
        self.notes.write("publickey", username, key.get_name(), key.get_base64())
        if key.get_base64() in self.keys and self.key_taken():
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_auth_interactive(self, username, submethods):
        self.user = username
        return paramiko.InteractiveQuery("", "", ("Password: ", False))

    def check_auth_interactive_response(self, responses):
        for answer in responses:
            self.notes.write("kbdint", self.user, answer)
        if self.args.password and list(responses) == [self.args.password]:
            self.notes.write("accepted", self.user, "keyboard-interactive")
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_direct_tcpip_request(self, chanid, origin, destination):
        host, port = destination
        if host not in ("127.0.0.1", "localhost"):
            return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED
        self.destinations[chanid] = (host, port)
        return paramiko.OPEN_SUCCEEDED


def relay(channel, conn):
    """Copies both ways; an end of input is passed on as a half close."""
    channel_open = conn_open = True
    try:
        while channel_open or conn_open:
            watched = ([channel] if channel_open else []) + ([conn] if conn_open else [])
            ready, _, _ = select.select(watched, [], [], 1.0)
            if channel in ready:
                data = channel.recv(32768)
                if data:
                    conn.sendall(data)
                else:
                    channel_open = False
                    conn.shutdown(socket.SHUT_WR)
            if conn in ready:
                data = conn.recv(32768)
                if data:
                    channel.sendall(data)
                else:
                    conn_open = False
                    channel.shutdown_write()
    except (OSError, EOFError, paramiko.SSHException):
        pass
    finally:
        channel.close()
        conn.close()


def serve(client, args, notes, host_key, keys):
    transport = paramiko.Transport(client)
    transport.add_server_key(host_key)
    server = Server(args, notes, keys)
    try:
        transport.start_server(server=server)
    except (paramiko.SSHException, EOFError, OSError):
        return
    # The login happens while accept waits for the first channel.
    while transport.is_active():
        channel = transport.accept(1.0)
        if channel is None:
            continue
        host, port = server.destinations.get(channel.get_id(), ("", 0))
        try:
            conn = socket.create_connection((host, port), timeout=10)
        except OSError:
            channel.close()
            continue
        conn.settimeout(None)
        notes.write("forward", host, port)
        threading.Thread(target=relay, args=(channel, conn), daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--password", default="")
    parser.add_argument("--authorized", action="append", default=[])
    parser.add_argument("--key-logins", type=int, default=-1)
    args = parser.parse_args()
    logging.getLogger("paramiko").setLevel(logging.CRITICAL)
    keys = set()
    for path in args.authorized:
        with open(path) as lines:
            for line in lines:
                words = line.split()
                if len(words) >= 2:
                    keys.add(words[1])
    host_key = paramiko.ECDSAKey.generate()
    notes = Notes(args.log)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, args, notes, host_key, keys), daemon=True).start()


if __name__ == "__main__":
    main()
