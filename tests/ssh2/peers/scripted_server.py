#!/usr/bin/python3
"""A scriptable SSH server for the client's corner cases.

Serves one connection on 127.0.0.1 and exits. Prints "PORT <n>" once it
listens and "RESULT <text>" lines for what it saw. The paramiko modes run a
real server whose behaviour the options bend; the raw modes speak just
enough of the protocol by hand to misbehave on purpose.
"""
import argparse
import socket
import struct
import time
import sys
import threading

USER = "tester"
PASSWORD = "secret-pw"


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def listen():
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(1)
    say("PORT %d" % sock.getsockname()[1])
    sock.settimeout(20)
    conn, _ = sock.accept()
    sock.close()
    return conn


# ------------------------------------------------------------- raw modes

def ssh_string(data):
    if isinstance(data, str):
        data = data.encode()
    return struct.pack(">I", len(data)) + data


def packet(payload):
    """An unencrypted packet with padding to a multiple of 8."""
    padding = 4 + (8 - (len(payload) + 5 + 4) % 8) % 8
    body = bytes([padding]) + payload + b"\0" * padding
    return struct.pack(">I", len(body)) + body


def kexinit():
    lists = ["diffie-hellman-group1-sha1", "ssh-rsa", "aes128-cbc", "aes128-cbc",
             "hmac-sha1", "hmac-sha1", "none", "none", "", ""]
    payload = bytes([20]) + b"\x11" * 16
    for item in lists:
        payload += ssh_string(item)
    return payload + b"\0" + b"\0\0\0\0"


def read_packets(conn, count):
    """Reads the client's identification line and `count` clear packets."""
    data = b""
    while b"\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return []
        data += chunk
    data = data[data.index(b"\n") + 1:]
    found = []
    while len(found) < count:
        while len(data) < 4 or len(data) < 4 + struct.unpack(">I", data[:4])[0]:
            chunk = conn.recv(4096)
            if not chunk:
                return found
            data += chunk
        length = struct.unpack(">I", data[:4])[0]
        body = data[4:4 + length]
        data = data[4 + length:]
        found.append(body[1:len(body) - body[0]])
    return found


def raw_mode(args):
    conn = listen()
    conn.settimeout(5)
    if args.mode == "raw-silent":
        # Accept and never say a word.
        try:
            conn.recv(4096)
            conn.recv(4096)
        except OSError:
            pass
        return
    if args.mode == "raw-ignore-kexinit":
        ignore = bytes([2]) + ssh_string(b"noise")
        conn.sendall(b"Some banner line\r\nSSH-2.0-Scripted_1.0\r\n" + packet(ignore) + packet(kexinit()))
        got = read_packets(conn, 2)
        say("RESULT " + ",".join(str(p[0]) for p in got))
        conn.sendall(packet(bytes([1]) + struct.pack(">I", 2) + ssh_string("bye") + ssh_string("en")))
    elif args.mode == "raw-disconnect":
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n")
        conn.sendall(packet(bytes([1]) + struct.pack(">I", args.reason) + ssh_string(args.text) + ssh_string("")))
    elif args.mode == "raw-debug":
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(bytes([4, 1]) + ssh_string("debugging") + ssh_string("")))
        got = read_packets(conn, 1)
        say("RESULT " + " ".join(p.hex() for p in got))
    elif args.mode == "raw-kexreply":
        # A DH reply with the f and host key the test asks for.
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(kexinit()))
        read_packets(conn, 2)
        f = int(args.f, 16)
        fbytes = f.to_bytes((f.bit_length() + 8) // 8, "big")
        key = ssh_string("ssh-rsa") + ssh_string(b"\x01\x00\x01") + ssh_string(b"\x00" + b"\xc3" * 128)
        reply = bytes([31]) + ssh_string(key) + ssh_string(fbytes) + ssh_string(ssh_string("ssh-rsa") + ssh_string(b"\x01" * 128))
        conn.sendall(packet(reply))
    elif args.mode == "raw-old-version":
        conn.sendall(b"SSH-1.5-Ancient\r\n")
    try:
        conn.recv(4096)
    except OSError:
        pass
    conn.close()


# -------------------------------------------------------- paramiko modes

def paramiko_mode(args):
    import paramiko

    class Server(paramiko.ServerInterface):
        def __init__(self):
            self.exec_event = threading.Event()
            self.command = None

        def get_allowed_auths(self, username):
            return args.auths

        def check_auth_none(self, username):
            # A server that never gives up: "none" does not count as a
            # failure, so only our own bound ends the exchange.
            return paramiko.AUTH_PARTIALLY_SUCCESSFUL if args.never_accept else paramiko.AUTH_FAILED

        def check_auth_password(self, username, password):
            if args.never_accept or username != USER or password != PASSWORD:
                return paramiko.AUTH_FAILED
            return paramiko.AUTH_SUCCESSFUL

        def get_banner(self):
            return (args.banner + "\n", "en") if args.banner else (None, None)

        def check_channel_request(self, kind, chanid):
            if args.open_fail:
                return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED
            return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_UNKNOWN_CHANNEL_TYPE

        def check_channel_exec_request(self, channel, command):
            self.command = command
            self.exec_event.set()
            return not args.refuse_exec

    conn = listen()
    transport = paramiko.Transport(conn)
    if args.compress:
        transport.use_compression(True)
    if args.gex:
        transport.load_server_moduli()
    else:
        options = transport.get_security_options()
        options.kex = [k for k in options.kex if "group-exchange" not in k]
    key = paramiko.RSAKey.generate(1024) if args.key == "rsa" else paramiko.DSSKey.generate(1024)
    transport.add_server_key(key)
    server = Server()
    transport.start_server(server=server)
    for _ in range(args.commands):
        channel = transport.accept(20)
        if channel is None:
            break
        if not server.exec_event.wait(10):
            break
        server.exec_event.clear()
        if args.refuse_exec:
            continue
        say("RESULT command " + server.command.decode())
        if args.disconnect_on_exec:
            # Ends the connection in the middle of the command.
            m = paramiko.Message()
            m.add_byte(bytes([1]))
            m.add_int(args.reason)
            m.add_string(args.text)
            m.add_string("en")
            transport._send_user_message(m)
            time.sleep(0.5)
            break
        if args.debug:
            m = paramiko.Message()
            m.add_byte(bytes([4]))
            m.add_boolean(True)
            m.add_string("debugging")
            m.add_string("")
            transport._send_user_message(m)
        if args.ignore:
            transport.send_ignore(50)
        channel.sendall(b"hello\n")
        channel.sendall_stderr(b"warn\n")
        channel.sendall(b"x" * args.extra)
        if args.other_request:
            m = paramiko.Message()
            m.add_byte(bytes([98]))
            m.add_int(channel.remote_chanid)
            m.add_string("keepalive@example.com")
            m.add_boolean(True)
            transport._send_user_message(m)
        if args.exit_want_reply:
            m = paramiko.Message()
            m.add_byte(bytes([98]))
            m.add_int(channel.remote_chanid)
            m.add_string("exit-status")
            m.add_boolean(True)
            m.add_int(args.status)
            transport._send_user_message(m)
        else:
            channel.send_exit_status(args.status)
        channel.close()
    try:
        transport.join(20)
    except Exception:
        pass
    agreed = [transport.remote_cipher, transport.local_cipher, transport.remote_mac, transport.local_mac,
              transport.remote_compression, transport.local_compression]
    say("RESULT agreed " + " ".join(str(a) for a in agreed))
    transport.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode")
    parser.add_argument("--reason", type=int, default=2)
    parser.add_argument("--text", default="bye")
    parser.add_argument("--f", default="2")
    parser.add_argument("--auths", default="password")
    parser.add_argument("--banner", default="")
    parser.add_argument("--key", default="rsa")
    parser.add_argument("--compress", action="store_true")
    parser.add_argument("--gex", action="store_true")
    parser.add_argument("--never-accept", action="store_true")
    parser.add_argument("--open-fail", action="store_true")
    parser.add_argument("--refuse-exec", action="store_true")
    parser.add_argument("--exit-want-reply", action="store_true")
    parser.add_argument("--other-request", action="store_true")
    parser.add_argument("--debug", action="store_true")
    parser.add_argument("--ignore", action="store_true")
    parser.add_argument("--status", type=int, default=0)
    parser.add_argument("--extra", type=int, default=0)
    parser.add_argument("--commands", type=int, default=1)
    parser.add_argument("--disconnect-on-exec", action="store_true")
    args = parser.parse_args()
    if args.mode.startswith("raw-"):
        raw_mode(args)
    else:
        paramiko_mode(args)


if __name__ == "__main__":
    main()
