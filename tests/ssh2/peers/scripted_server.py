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

OLD_KEX = ("diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1")
OLD_KEYS = ("ssh-rsa", "ssh-dss")
OLD_CIPHERS = ("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc")
OLD_MACS = ("hmac-sha1", "hmac-md5")

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


def kexinit(kex="diffie-hellman-group1-sha1", hostkeys="ssh-rsa", cipher="aes128-cbc", mac="hmac-sha1"):
    lists = [kex, hostkeys, cipher, cipher, mac, mac, "none", "none", "", ""]
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


def mpint(n):
    return ssh_string(n.to_bytes((n.bit_length() + 8) // 8, "big") if n else b"")


class Wire:
    """The server's side of a connection whose first key exchange this script
    does by hand: curve25519-sha256, ssh-ed25519, aes128-ctr, hmac-sha2-256."""

    def __init__(self, conn):
        self.conn = conn
        self.data = b""
        self.keys = None

    def more(self):
        chunk = self.conn.recv(65536)
        if not chunk:
            raise EOFError()
        self.data += chunk

    def line(self):
        while b"\n" not in self.data:
            self.more()
        line, self.data = self.data.split(b"\n", 1)
        return line.rstrip(b"\r")

    def take(self, n):
        while len(self.data) < n:
            self.more()
        out, self.data = self.data[:n], self.data[n:]
        return out

    def clear_packet(self):
        length = struct.unpack(">I", self.take(4))[0]
        body = self.take(length)
        return body[1:len(body) - body[0]]

    def protected_packet(self, candidates):
        """Reads a protected packet; returns the sequence number among
        `candidates` whose MAC matches, and the payload."""
        from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
        import hmac
        import hashlib
        if not hasattr(self, "dec"):
            self.dec = Cipher(algorithms.AES(self.keys["C"]), modes.CTR(self.keys["A"])).decryptor()
        first = self.dec.update(self.take(16))
        length = struct.unpack(">I", first[:4])[0]
        rest = self.dec.update(self.take(length + 4 - 16))
        clear = first + rest
        mac = self.take(32)
        for seq in candidates:
            if hmac.compare_digest(hmac.new(self.keys["E"], struct.pack(">I", seq) + clear, hashlib.sha256).digest(), mac):
                return seq, clear[5:len(clear) - clear[4]]
        return None, clear[5:len(clear) - clear[4]]

    def send_protected(self, payload, seq):
        from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
        import hmac
        import hashlib
        if not hasattr(self, "enc"):
            self.enc = Cipher(algorithms.AES(self.keys["D"]), modes.CTR(self.keys["B"])).encryptor()
        padding = 4 + (16 - (len(payload) + 9) % 16) % 16
        clear = struct.pack(">I", len(payload) + padding + 1) + bytes([padding]) + payload + b"\0" * padding
        mac = hmac.new(self.keys["F"], struct.pack(">I", seq) + clear, hashlib.sha256).digest()
        self.conn.sendall(self.enc.update(clear) + mac)


def strict_exchange(args, conn):
    """A complete key exchange by hand, with or without the strict marker;
    reports the sequence number the client's first protected packet used and
    answers with a DISCONNECT protected under the number the server counts."""
    import hashlib
    from cryptography.hazmat.primitives.asymmetric import ed25519, x25519
    from cryptography.hazmat.primitives import serialization
    raw = serialization.Encoding.Raw, serialization.PublicFormat.Raw
    wire = Wire(conn)
    kex = "curve25519-sha256" + (",kex-strict-s-v00@openssh.com" if args.strict else "")
    server_kexinit = kexinit(kex, "ssh-ed25519", "aes128-ctr", "hmac-sha2-256")
    version = b"SSH-2.0-Scripted_1.0"
    conn.sendall(version + b"\r\n" + packet(server_kexinit))
    client_version = wire.line()
    client_kexinit = wire.clear_packet()
    init = wire.clear_packet()
    q_c = init[5:5 + struct.unpack(">I", init[1:5])[0]]
    host = ed25519.Ed25519PrivateKey.generate()
    k_s = ssh_string("ssh-ed25519") + ssh_string(host.public_key().public_bytes(*raw))
    eph = x25519.X25519PrivateKey.generate()
    q_s = eph.public_key().public_bytes(*raw)
    k = int.from_bytes(eph.exchange(x25519.X25519PublicKey.from_public_bytes(q_c)), "big")
    h = hashlib.sha256(ssh_string(client_version) + ssh_string(version) + ssh_string(client_kexinit) +
                       ssh_string(server_kexinit) + ssh_string(k_s) + ssh_string(q_c) + ssh_string(q_s) +
                       mpint(k)).digest()
    signature = ssh_string("ssh-ed25519") + ssh_string(host.sign(h))
    conn.sendall(packet(bytes([31]) + ssh_string(k_s) + ssh_string(q_s) + ssh_string(signature)) + packet(bytes([21])))
    newkeys = wire.clear_packet()
    say("RESULT newkeys %d" % newkeys[0])
    sizes = {"A": 16, "B": 16, "C": 16, "D": 16, "E": 32, "F": 32}
    wire.keys = {letter: hashlib.sha256(mpint(k) + h + letter.encode() + h).digest()[:size]
                 for letter, size in sizes.items()}
    # Client: KEXINIT 0, ECDH_INIT 1, NEWKEYS 2; server: KEXINIT, REPLY, NEWKEYS.
    seq, payload = wire.protected_packet([0, 3])
    say("RESULT client sequence %s type %d" % (seq, payload[0]))
    wire.send_protected(bytes([1]) + struct.pack(">I", 11) + ssh_string("counted") + ssh_string(""),
                        0 if args.strict else 3)


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
    if args.mode == "raw-strict-exchange":
        strict_exchange(args, conn)
    elif args.mode == "raw-strict-ignore":
        # KEXINIT (with the strict marker if asked), then an IGNORE amid the
        # exchange, then a DISCONNECT once the client's init has come.
        kex = "curve25519-sha256" + (",kex-strict-s-v00@openssh.com" if args.strict else "")
        ignore = bytes([2]) + ssh_string(b"amid the exchange")
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(kexinit(kex, "ssh-ed25519", "aes128-ctr", "hmac-sha2-256")) +
                     packet(ignore))
        got = read_packets(conn, 2)
        say("RESULT " + ",".join(str(p[0]) for p in got))
        conn.sendall(packet(bytes([1]) + struct.pack(">I", 2) + ssh_string("not strict") + ssh_string("en")))
    elif args.mode == "raw-ignore-kexinit":
        ignore = bytes([2]) + ssh_string(b"noise")
        kex = "diffie-hellman-group1-sha1" + (",kex-strict-s-v00@openssh.com" if args.strict else "")
        conn.sendall(b"Some banner line\r\nSSH-2.0-Scripted_1.0\r\n" + packet(ignore) + packet(kexinit(kex)))
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
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(kexinit(hostkeys=args.hostkeys)))
        read_packets(conn, 2)
        f = int(args.f, 16)
        fbytes = f.to_bytes((f.bit_length() + 8) // 8, "big")
        key = ssh_string("ssh-rsa") + ssh_string(b"\x01\x00\x01") + ssh_string(b"\x00" + b"\xc3" * 128)
        reply = bytes([31]) + ssh_string(key) + ssh_string(fbytes) + ssh_string(ssh_string("ssh-rsa") + ssh_string(b"\x01" * 128))
        conn.sendall(packet(reply))
    elif args.mode == "raw-ecdh-reply":
        # An ECDH reply whose server value is the one the test gives.
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(kexinit(args.kex, "ssh-ed25519", "aes128-ctr", "hmac-sha2-256")))
        got = read_packets(conn, 2)
        say("RESULT " + ",".join(str(p[0]) for p in got))
        key = ssh_string("ssh-ed25519") + ssh_string(b"\x07" * 32)
        reply = bytes([31]) + ssh_string(key) + ssh_string(bytes.fromhex(args.q)) + \
            ssh_string(ssh_string("ssh-ed25519") + ssh_string(b"\x01" * 64))
        conn.sendall(packet(reply))
    elif args.mode == "raw-gex-group":
        # The current group request, answered with the group the test gives.
        conn.sendall(b"SSH-2.0-Scripted_1.0\r\n" + packet(kexinit("diffie-hellman-group-exchange-sha256", "ssh-ed25519",
                                                                    args.cipher, "hmac-sha2-256")))
        got = read_packets(conn, 2)
        if len(got) == 2 and got[1][0] == 34:
            say("RESULT request " + ",".join(str(v) for v in struct.unpack(">III", got[1][1:13])))
        p = (1 << (args.bits - 1)) | 0xff if args.bits else int(args.f, 16)
        conn.sendall(packet(bytes([31]) + mpint(p) + mpint(args.g)))
        # A group the client takes is followed by its init (32); a refused
        # one by the end of the connection.
        try:
            if conn.recv(4096):
                say("RESULT init")
        except OSError:
            pass
        conn.close()
        return
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
        if args.modern:
            # The delayed form only: the client prefers plain zlib otherwise.
            transport.get_security_options().compression = ("zlib@openssh.com", "none")
    # The server of an older installation unless --modern: only the
    # algorithms the client spoke before its current ones.
    options = transport.get_security_options()
    if not args.modern:
        options.kex = [k for k in options.kex if k in OLD_KEX]
        options.key_types = [k for k in options.key_types if k in OLD_KEYS]
        options.ciphers = [c for c in options.ciphers if c in OLD_CIPHERS]
        options.digests = [d for d in options.digests if d in OLD_MACS]
    if args.gex:
        transport.load_server_moduli()
    else:
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
    parser.add_argument("--modern", action="store_true")
    parser.add_argument("--strict", action="store_true")
    parser.add_argument("--hostkeys", default="ssh-rsa")
    parser.add_argument("--kex", default="curve25519-sha256")
    parser.add_argument("--cipher", default="aes128-ctr")
    parser.add_argument("--q", default="")
    parser.add_argument("--bits", type=int, default=0)
    parser.add_argument("--g", type=int, default=2)
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
