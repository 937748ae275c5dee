#!/usr/bin/python3
"""A scriptable SSH server for the client's corner cases.

Serves one connection on 127.0.0.1 and exits. Prints "PORT <n>" once it
listens and "RESULT <text>" lines for what it saw. The paramiko modes run a
real server whose behaviour the options bend; the raw modes speak just
enough of the protocol by hand to misbehave on purpose.
"""
import argparse
import hashlib
import hmac
import socket
import struct
import time
import sys
import threading

OLD_KEX = ("diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1")
OLD_KEYS = ("ssh-rsa", "ssh-dss")
OLD_CIPHERS = ("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc")
OLD_MACS = ("hmac-sha1", "hmac-md5")

VERSION = b"SSH-2.0-Scripted_1.0"
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


def packet(payload, block=8):
    """A packet before encryption, padded to a multiple of `block`."""
    padding = 4 + (block - (len(payload) + 5 + 4) % block) % block
    body = bytes([padding]) + payload + b"\0" * padding
    return struct.pack(">I", len(body)) + body


def kexinit(kex="diffie-hellman-group1-sha1", hostkeys="ssh-rsa", cipher="aes128-cbc", mac="hmac-sha1"):
    lists = [kex, hostkeys, cipher, cipher, mac, mac, "none", "none", "", ""]
    payload = bytes([20]) + b"\x11" * 16
    for item in lists:
        payload += ssh_string(item)
    return payload + b"\0" + b"\0\0\0\0"


def modern_kexinit(kex, cipher="aes128-ctr"):
    return kexinit(kex, "ssh-ed25519", cipher, "hmac-sha2-256")


def with_strict(kex, args):
    """The server's strict marker follows `kex` when the test asks for it."""
    return kex + (",kex-strict-s-v00@openssh.com" if args.strict else "")


def disconnect(reason, text, language=""):
    return bytes([1]) + struct.pack(">I", reason) + ssh_string(text) + ssh_string(language)


def read_packets(conn, count):
    """Reads the client's identification line and up to `count` clear
    packets, fewer when the client closes first."""
    wire = Wire(conn)
    found = []
    try:
        wire.line()
        while len(found) < count:
            found.append(wire.clear_packet())
    except EOFError:
        pass
    return found


def report_types(conn, count):
    """Reports the message numbers of the client's first `count` packets."""
    say("RESULT " + ",".join(str(p[0]) for p in read_packets(conn, count)))


def mpint(n):
    return ssh_string(n.to_bytes((n.bit_length() + 8) // 8, "big") if n else b"")


class Wire:
    """The server's side of a connection whose first key exchange this script
    does by hand: curve25519-sha256, ssh-ed25519, aes128-ctr, hmac-sha2-256."""

    def __init__(self, conn):
        self.conn = conn
        self.data = b""

    def set_keys(self, keys):
        from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
        self.keys = keys
        self.dec = Cipher(algorithms.AES(keys["C"]), modes.CTR(keys["A"])).decryptor()
        self.enc = Cipher(algorithms.AES(keys["D"]), modes.CTR(keys["B"])).encryptor()

    def mac(self, letter, seq, clear):
        return hmac.new(self.keys[letter], struct.pack(">I", seq) + clear, hashlib.sha256).digest()

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
        first = self.dec.update(self.take(16))
        length = struct.unpack(">I", first[:4])[0]
        rest = self.dec.update(self.take(length + 4 - 16))
        clear = first + rest
        mac = self.take(32)
        for seq in candidates:
            if hmac.compare_digest(self.mac("E", seq, clear), mac):
                return seq, clear[5:len(clear) - clear[4]]
        return None, clear[5:len(clear) - clear[4]]

    def send_protected(self, payload, seq):
        clear = packet(payload, 16)
        self.conn.sendall(self.enc.update(clear) + self.mac("F", seq, clear))


def strict_exchange(args, conn):
    """A complete key exchange by hand, with or without the strict marker;
    reports the sequence number the client's first protected packet used and
    answers with a DISCONNECT protected under the number the server counts."""
    from cryptography.hazmat.primitives.asymmetric import ed25519, x25519
    from cryptography.hazmat.primitives import serialization
    raw = serialization.Encoding.Raw, serialization.PublicFormat.Raw
    wire = Wire(conn)
    server_kexinit = modern_kexinit(with_strict("curve25519-sha256", args))
    conn.sendall(VERSION + b"\r\n" + packet(server_kexinit))
    client_version = wire.line()
    client_kexinit = wire.clear_packet()
    init = wire.clear_packet()
    q_c = init[5:5 + struct.unpack(">I", init[1:5])[0]]
    host = ed25519.Ed25519PrivateKey.generate()
    k_s = ssh_string("ssh-ed25519") + ssh_string(host.public_key().public_bytes(*raw))
    eph = x25519.X25519PrivateKey.generate()
    q_s = eph.public_key().public_bytes(*raw)
    k = int.from_bytes(eph.exchange(x25519.X25519PublicKey.from_public_bytes(q_c)), "big")
    h = hashlib.sha256(ssh_string(client_version) + ssh_string(VERSION) + ssh_string(client_kexinit) +
                       ssh_string(server_kexinit) + ssh_string(k_s) + ssh_string(q_c) + ssh_string(q_s) +
                       mpint(k)).digest()
    signature = ssh_string("ssh-ed25519") + ssh_string(host.sign(h))
    conn.sendall(packet(bytes([31]) + ssh_string(k_s) + ssh_string(q_s) + ssh_string(signature)) + packet(bytes([21])))
    newkeys = wire.clear_packet()
    say("RESULT newkeys %d" % newkeys[0])
    sizes = {"A": 16, "B": 16, "C": 16, "D": 16, "E": 32, "F": 32}
    wire.set_keys({letter: hashlib.sha256(mpint(k) + h + letter.encode() + h).digest()[:size]
                   for letter, size in sizes.items()})
    # Client: KEXINIT 0, ECDH_INIT 1, NEWKEYS 2; server: KEXINIT, REPLY, NEWKEYS.
    seq, payload = wire.protected_packet([0, 3])
    say("RESULT client sequence %s type %d" % (seq, payload[0]))
    wire.send_protected(disconnect(11, "counted"), 0 if args.strict else 3)


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
        ignore = bytes([2]) + ssh_string(b"amid the exchange")
        conn.sendall(VERSION + b"\r\n" + packet(modern_kexinit(with_strict("curve25519-sha256", args))) +
                     packet(ignore))
        report_types(conn, 2)
        conn.sendall(packet(disconnect(2, "not strict", "en")))
    elif args.mode == "raw-ignore-kexinit":
        ignore = bytes([2]) + ssh_string(b"noise")
        kex = with_strict("diffie-hellman-group1-sha1", args)
        conn.sendall(b"Some banner line\r\n" + VERSION + b"\r\n" + packet(ignore) + packet(kexinit(kex)))
        report_types(conn, 2)
        conn.sendall(packet(disconnect(2, "bye", "en")))
    elif args.mode == "raw-disconnect":
        conn.sendall(VERSION + b"\r\n")
        conn.sendall(packet(disconnect(args.reason, args.text)))
    elif args.mode == "raw-debug":
        conn.sendall(VERSION + b"\r\n" + packet(bytes([4, 1]) + ssh_string("debugging") + ssh_string("")))
        got = read_packets(conn, 1)
        say("RESULT " + " ".join(p.hex() for p in got))
    elif args.mode == "raw-kexreply":
        # A DH reply with the f and host key the test asks for.
        conn.sendall(VERSION + b"\r\n" + packet(kexinit(hostkeys=args.hostkeys)))
        read_packets(conn, 2)
        f = int(args.f, 16)
        fbytes = f.to_bytes((f.bit_length() + 8) // 8, "big")
        key = ssh_string("ssh-rsa") + ssh_string(b"\x01\x00\x01") + ssh_string(b"\x00" + b"\xc3" * args.modulus_bytes)
        reply = bytes([31]) + ssh_string(key) + ssh_string(fbytes) + ssh_string(ssh_string("ssh-rsa") + ssh_string(b"\x01" * 128))
        conn.sendall(packet(reply))
    elif args.mode == "raw-ecdh-reply":
        # An ECDH reply whose server value is the one the test gives.
        conn.sendall(VERSION + b"\r\n" + packet(modern_kexinit(args.kex)))
        report_types(conn, 2)
        key = ssh_string("ssh-ed25519") + ssh_string(b"\x07" * 32)
        reply = bytes([31]) + ssh_string(key) + ssh_string(bytes.fromhex(args.q)) + \
            ssh_string(ssh_string("ssh-ed25519") + ssh_string(b"\x01" * 64))
        conn.sendall(packet(reply))
    elif args.mode == "raw-gex-group":
        # The current group request, answered with the group the test gives.
        conn.sendall(VERSION + b"\r\n" + packet(modern_kexinit("diffie-hellman-group-exchange-sha256",
                                                               args.cipher)))
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
    elif args.mode == "raw-stall":
        # The key exchange stops half-way: KEXINIT, then nothing more.
        conn.sendall(VERSION + b"\r\n" + packet(modern_kexinit("curve25519-sha256")))
        report_types(conn, 2)
        time.sleep(args.hold)
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

        def check_auth_interactive(self, username, submethods):
            if "keyboard-interactive" not in args.auths.split(","):
                return paramiko.AUTH_FAILED
            query = paramiko.InteractiveQuery("", "")
            query.add_prompt("Password: ", False)
            return query

        def check_auth_interactive_response(self, responses):
            if args.never_accept or list(responses) != [PASSWORD]:
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

    def send(kind, *fields):
        """Sends a message paramiko has no call for, of ints, booleans and strings."""
        m = paramiko.Message()
        m.add_byte(bytes([kind]))
        for field in fields:
            if isinstance(field, bool):
                m.add_boolean(field)
            elif isinstance(field, int):
                m.add_int(field)
            else:
                m.add_string(field)
        transport._send_user_message(m)

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
    endings = args.endings.split(",") if args.endings else []
    for index in range(args.commands):
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
            send(1, args.reason, args.text, "en")
            time.sleep(0.5)
            break
        if args.debug:
            send(4, True, "debugging", "")
        if args.ignore:
            transport.send_ignore(50)
        if args.hang:
            # The command never ends.
            time.sleep(args.hold)
            break
        channel.sendall(b"hello\n")
        if args.rekey:
            # New keys between two data packets of the command's output.
            channel.sendall(b"a" * args.rekey)
            transport.renegotiate_keys()
            channel.sendall(b"b" * args.rekey)
            say("RESULT rekeyed")
        channel.sendall_stderr(b"warn\n")
        try:
            channel.sendall(b"x" * args.extra)
        except Exception:
            pass  # the client stopped reading
        ending = endings[index] if index < len(endings) else None
        if ending is not None:
            # One command's end: a status, a signal, or nothing at all.
            if ending.isdigit():
                channel.send_exit_status(int(ending))
            elif ending != "none":
                send(98, channel.remote_chanid, "exit-signal", False, ending, False, "killed", "")
            channel.close()
            continue
        if args.other_request:
            send(98, channel.remote_chanid, "keepalive@example.com", True)
        if args.exit_want_reply:
            send(98, channel.remote_chanid, "exit-status", True, args.status)
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
    parser.add_argument("--hostkeys", default="ssh-rsa")
    parser.add_argument("--kex", default="curve25519-sha256")
    parser.add_argument("--cipher", default="aes128-ctr")
    parser.add_argument("--q", default="")
    parser.add_argument("--bits", type=int, default=0)
    parser.add_argument("--modulus-bytes", type=int, default=128)
    parser.add_argument("--g", type=int, default=2)
    parser.add_argument("--status", type=int, default=0)
    parser.add_argument("--extra", type=int, default=0)
    parser.add_argument("--commands", type=int, default=1)
    parser.add_argument("--endings", default="")
    parser.add_argument("--hold", type=float, default=10)
    parser.add_argument("--rekey", type=int, default=0)
    for flag in ("compress", "gex", "modern", "strict", "never-accept", "open-fail", "refuse-exec", "exit-want-reply",
                 "other-request", "debug", "ignore", "disconnect-on-exec", "hang"):
        parser.add_argument("--" + flag, action="store_true")
    args = parser.parse_args()
    if args.mode.startswith("raw-"):
        raw_mode(args)
    else:
        paramiko_mode(args)


if __name__ == "__main__":
    main()
