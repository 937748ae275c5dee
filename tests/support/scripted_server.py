#!/usr/bin/python3
"""A scriptable SSH server for the client's and the upload library's corner cases.

Listens on a free loopback port, printed as "PORT <n>", and prints
"RESULT <text>" lines for what it saw. The first argument names what it does.

One connection, then the server exits (the client's tests):
  paramiko           a real server whose behaviour the options bend: it runs
                     --commands exec requests, each answered with "hello",
                     "warn" on stderr, --extra bytes and an exit status
  raw-...            just enough of the protocol by hand to misbehave on
                     purpose (see raw_mode)

Connections until stopped, each ending with "RESULT done" (the upload
library's tests); the login user's name, when it is one of these, chooses
the behaviour of its own connection:
  sftp-ok            an SFTP subsystem that accepts every request
  sftp-status:OP:N   as sftp-ok, but answers request OP (open, write,
                     fsetstat, mkdir-stat) with status N
  sftp-badid         answers OPEN with an identifier that was never sent
  sftp-limits:W      offers limits@openssh.com with a write length of W
  sftp-rekey-newkey  takes another host key of the same type, then starts
                     new key exchanges at the third and the fortieth WRITE
  (every SFTP scenario reports "file PATH SIZE SHA256 LARGEST" at CLOSE)
  sftp-version4      answers INIT with version 4
  sftp-silent        grants the subsystem and then says nothing
  sink               refuses the subsystem; the scp command is a sink that
                     acknowledges every line and reports the bytes it got
  ack:B              refuses the subsystem; the scp command answers with
                     acknowledgement byte B and a message line
  refuse             refuses the subsystem and the command
  flood              the scp command acknowledges up to the first file's
                     line, then sends data nobody asked for (64 MiB at most)
  mute               accepts the connection and never speaks

Without --modern paramiko offers only an older installation's algorithms
(group exchange and group1 with SHA-1, ssh-rsa and ssh-dss, CBC ciphers,
hmac-sha1 and hmac-md5, plain zlib).
"""
import argparse
import hashlib
import hmac
import logging
import socket
import struct
import sys
import threading
import time

OLD_KEX = ("diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1")
OLD_KEYS = ("ssh-rsa", "ssh-dss")
OLD_CIPHERS = ("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc")
OLD_MACS = ("hmac-sha1", "hmac-md5")

VERSION = b"SSH-2.0-Scripted_1.0"
USER = "tester"
PASSWORD = "secret-pw"
UPLOAD_PASSWORD = "fdx-test-pw"
UPLOAD_SCENARIOS = ("sftp-", "ack:", "refuse", "sink", "flood", "mute")
LAST_KEX = ["?"]


def report(text):
    sys.stdout.write("RESULT " + text + "\n")
    sys.stdout.flush()


def listener(backlog):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(backlog)
    sys.stdout.write("PORT %d\n" % sock.getsockname()[1])
    sys.stdout.flush()
    return sock


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


def modern_kexinit(kex, cipher="aes128-ctr", mac="hmac-sha2-256"):
    return kexinit(kex, "ssh-ed25519", cipher, mac)


def with_strict(kex, args):
    """The server's strict marker follows `kex` when the test asks for it."""
    return kex + (",kex-strict-s-v00@openssh.com" if args.strict else "")


def hello(conn, *payloads):
    """The server's identification line, then clear packets of `payloads`."""
    conn.sendall(VERSION + b"\r\n" + b"".join(packet(p) for p in payloads))


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
    except (EOFError, OSError):
        pass
    return found


def report_types(conn, count):
    """Reports the message numbers of the client's first `count` packets."""
    packets = read_packets(conn, count)
    report(",".join(str(p[0]) for p in packets))
    return packets


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
    hello(conn, server_kexinit)
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
    report("newkeys %d" % newkeys[0])
    sizes = {"A": 16, "B": 16, "C": 16, "D": 16, "E": 32, "F": 32}
    wire.set_keys({letter: hashlib.sha256(mpint(k) + h + letter.encode() + h).digest()[:size]
                   for letter, size in sizes.items()})
    # Client: KEXINIT 0, ECDH_INIT 1, NEWKEYS 2; server: KEXINIT, REPLY, NEWKEYS.
    seq, payload = wire.protected_packet([0, 3])
    report("client sequence %s type %d" % (seq, payload[0]))
    wire.send_protected(disconnect(11, "counted"), 0 if args.strict else 3)


def strict_ignore(args, conn):
    """KEXINIT (with the strict marker if asked), an IGNORE amid the exchange,
    then a DISCONNECT once the client's init (or its end) has come."""
    ignore = bytes([2]) + ssh_string(b"amid the exchange")
    hello(conn, modern_kexinit(with_strict("curve25519-sha256", args)), ignore)
    report_types(conn, 2)
    try:
        conn.sendall(packet(disconnect(2, "not strict", "en")))
    except OSError:
        pass


def raw_mode(args, conn):
    conn.settimeout(5)
    if args.mode in ("raw-silent", "mute"):
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
        strict_ignore(args, conn)
    elif args.mode == "raw-ignore-kexinit":
        ignore = bytes([2]) + ssh_string(b"noise")
        kex = with_strict("diffie-hellman-group1-sha1", args)
        conn.sendall(b"Some banner line\r\n" + VERSION + b"\r\n" + packet(ignore) + packet(kexinit(kex)))
        report_types(conn, 2)
        conn.sendall(packet(disconnect(2, "bye", "en")))
    elif args.mode == "raw-disconnect":
        hello(conn, disconnect(args.reason, args.text))
    elif args.mode == "raw-debug":
        hello(conn, bytes([4, 1]) + ssh_string("debugging") + ssh_string(""))
        got = read_packets(conn, 1)
        report(" ".join(p.hex() for p in got))
    elif args.mode == "raw-kexreply":
        # A DH reply with the f and host key the test asks for.
        hello(conn, kexinit(hostkeys=args.hostkeys))
        read_packets(conn, 2)
        f = int(args.f, 16)
        fbytes = f.to_bytes((f.bit_length() + 8) // 8, "big")
        key = ssh_string("ssh-rsa") + ssh_string(b"\x01\x00\x01") + ssh_string(b"\x00" + b"\xc3" * args.modulus_bytes)
        reply = bytes([31]) + ssh_string(key) + ssh_string(fbytes) + ssh_string(ssh_string("ssh-rsa") + ssh_string(b"\x01" * 128))
        conn.sendall(packet(reply))
    elif args.mode == "raw-ecdh-reply":
        # An ECDH reply whose server value is the one the test gives.
        hello(conn, modern_kexinit(args.kex))
        report_types(conn, 2)
        key = ssh_string("ssh-ed25519") + ssh_string(b"\x07" * 32)
        reply = bytes([31]) + ssh_string(key) + ssh_string(bytes.fromhex(args.q)) + \
            ssh_string(ssh_string("ssh-ed25519") + ssh_string(b"\x01" * 64))
        conn.sendall(packet(reply))
    elif args.mode == "raw-gex-group":
        # The current group request, answered with the group the test gives.
        hello(conn, modern_kexinit("diffie-hellman-group-exchange-sha256", args.cipher))
        got = read_packets(conn, 2)
        if len(got) == 2 and got[1][0] == 34:
            report("request " + ",".join(str(v) for v in struct.unpack(">III", got[1][1:13])))
        p = (1 << (args.bits - 1)) | 0xff if args.bits else int(args.f, 16)
        conn.sendall(packet(bytes([31]) + mpint(p) + mpint(args.g)))
        # A group the client takes is followed by its init (32); a refused
        # one by the end of the connection.
        try:
            if conn.recv(4096):
                report("init")
        except OSError:
            pass
        return
    elif args.mode == "raw-stall":
        # The key exchange stops half-way: KEXINIT, then nothing more.
        hello(conn, modern_kexinit("curve25519-sha256"))
        report_types(conn, 2)
        time.sleep(args.hold)
    elif args.mode == "raw-old-version":
        conn.sendall(b"SSH-1.5-Ancient\r\n")
    try:
        conn.recv(4096)
    except OSError:
        pass


# -------------------------------------------------------- paramiko modes

class KexNote(logging.Handler):
    """Keeps the key exchange method paramiko reports agreeing."""

    def emit(self, record):
        text = record.getMessage().strip()
        if text.startswith("Kex:") or text.startswith("Kex agreed:"):
            LAST_KEX[0] = text.split(":", 1)[1].strip()


def start_transport(conn, args, key, server):
    import paramiko
    transport = paramiko.Transport(conn, default_window_size=2097152)
    transport.local_version = "SSH-2.0-paramiko_scripted"
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
    if args.compress:
        transport.use_compression(True)
        if args.delayed_compression:
            options.compression = ("zlib@openssh.com", "none")
        elif not args.modern:
            options.compression = ("zlib", "none")
    transport.add_server_key(key)
    transport.start_server(server=server)
    return transport


def make_server(args):
    import paramiko

    class Server(paramiko.ServerInterface):
        def __init__(self):
            self.scenario = args.mode
            self.exec_event = threading.Event()
            self.command = None
            self.workers = []  # threads whose report must come before "done"

        def get_allowed_auths(self, username):
            return args.auths

        def check_auth_none(self, username):
            # A server that never gives up: "none" does not count as a
            # failure, so only the client's own bound ends the exchange.
            return paramiko.AUTH_PARTIALLY_SUCCESSFUL if args.never_accept else paramiko.AUTH_FAILED

        def check_auth_password(self, username, password):
            if args.upload:
                if username.startswith(UPLOAD_SCENARIOS):
                    self.scenario = username
                return paramiko.AUTH_SUCCESSFUL if password == UPLOAD_PASSWORD else paramiko.AUTH_FAILED
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
            if args.open_stall:
                # The channel's answer never comes (the transport waits too).
                time.sleep(args.hold)
            if args.open_fail:
                return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED
            return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_UNKNOWN_CHANNEL_TYPE

        def check_channel_subsystem_request(self, channel, name):
            report("subsystem " + name)
            if not self.scenario.startswith("sftp-") or name != "sftp":
                return False
            if self.scenario != "sftp-silent":
                threading.Thread(target=Sftp(channel, self.scenario).run, daemon=True).start()
            return True

        def check_channel_exec_request(self, channel, command):
            if not args.upload:
                self.command = command
                self.exec_event.set()
                return not args.refuse_exec
            report("exec " + command.decode())
            if self.scenario in ("sink", "flood"):
                worker = threading.Thread(target=scp_sink if self.scenario == "sink" else scp_flood,
                                          args=(channel,), daemon=True)
                self.workers.append(worker)
                worker.start()
                return True
            if not self.scenario.startswith("ack:"):
                return False
            byte = int(self.scenario.split(":")[1])

            def answer():
                channel.sendall(bytes([byte]) + b"scp: scripted answer\n")
                time.sleep(0.5)
                channel.send_exit_status(1)
                channel.close()

            threading.Thread(target=answer, daemon=True).start()
            return True

    return Server()


def paramiko_mode(args, conn, key):
    """One connection of --commands exec requests."""
    import paramiko

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

    server = make_server(args)
    transport = start_transport(conn, args, key, server)
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
        report("command " + server.command.decode())
        if args.disconnect_on_exec:
            # Ends the connection in the middle of the command.
            send(1, args.reason, args.text, "en")
            time.sleep(0.5)
            break
        if args.debug:
            send(4, True, "debugging", "")
        if args.hang:
            # The command never ends.
            time.sleep(args.hold)
            break
        channel.sendall(b"hello\n")
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
    report("agreed " + " ".join(str(a) for a in agreed))
    transport.close()


# --------------------------------------------------------- upload scenarios

class Sftp:
    """Just enough of an SFTP version 3 server, on a raw channel."""

    def __init__(self, channel, scenario):
        self.channel = channel
        self.scenario = scenario
        self.lock = threading.Lock()
        self.writes = 0
        self.path = ""
        self.data = bytearray()
        self.largest = 0
        self.rekeys = []

    def rekey(self):
        import paramiko
        transport = self.channel.get_transport()
        transport.add_server_key(paramiko.RSAKey.generate(1024))
        worker = threading.Thread(target=transport.renegotiate_keys, daemon=True)
        self.rekeys.append(worker)
        worker.start()

    def read_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.channel.recv(n - len(data))
            if not chunk:
                raise EOFError()
            data += chunk
        return data

    def send(self, type_, body):
        with self.lock:
            self.channel.sendall(struct.pack(">IB", len(body) + 1, type_) + body)

    def write(self, rid, body):
        (n,) = struct.unpack(">I", body[:4])
        offset, length = struct.unpack(">QI", body[4 + n:16 + n])
        data = body[16 + n:16 + n + length]
        self.writes += 1
        self.largest = max(self.largest, length)
        forced = self.forced("write")
        code = forced if forced is not None else 0
        if self.scenario == "sftp-rekey-newkey" and self.writes in (3, 40):
            self.rekey()
        if code == 0:
            if len(self.data) < offset + length:
                self.data.extend(b"\0" * (offset + length - len(self.data)))
            self.data[offset:offset + length] = data
        self.status(rid, code)

    def status(self, rid, code):
        self.send(101, struct.pack(">II", rid, code) + ssh_string(b"scripted") + struct.pack(">I", 0))

    def forced(self, op):
        if self.scenario.startswith("sftp-status:"):
            _, name, code = self.scenario.split(":")
            if name == op:
                return int(code)
        return None

    def run(self):
        try:
            while True:
                (length,) = struct.unpack(">I", self.read_exact(4))
                body = self.read_exact(length)
                self.handle(body[0], body[1:])
        except EOFError:
            pass
        except Exception as e:  # report and stop
            report("sftp error %r" % (e,))
        # Like a real sftp-server: exit when the client is done.
        self.channel.send_exit_status(0)
        self.channel.close()

    def handle(self, type_, body):
        if type_ == 1:  # INIT
            report("init version %d" % struct.unpack(">I", body[:4]))
            version = struct.pack(">I", 4 if self.scenario == "sftp-version4" else 3)
            if self.scenario.startswith("sftp-limits:"):
                version += ssh_string(b"limits@openssh.com") + ssh_string(b"1")
            self.send(2, version)
            return
        (rid,) = struct.unpack(">I", body[:4])
        rest = body[4:]
        (n,) = struct.unpack(">I", rest[:4]) if len(rest) >= 4 else (0,)
        name = rest[4:4 + n].decode(errors="replace")
        if type_ == 4:
            for worker in self.rekeys:
                worker.join(10)
            report("file %s %d %s %d" % (self.path, len(self.data), hashlib.sha256(self.data).hexdigest(),
                                         self.largest))
        if type_ == 17:  # STAT
            report("stat " + name)
            forced = self.forced("mkdir-stat") if name.endswith("/tree") else None
            if forced is not None:
                self.status(rid, forced)
            elif name.endswith(".txt"):
                self.status(rid, 2)
            else:
                self.send(105, struct.pack(">III", rid, 4, 0o40755))
        elif type_ == 200:  # EXTENDED
            report("extended " + name)
            if name == "limits@openssh.com" and self.scenario.startswith("sftp-limits:"):
                write = int(self.scenario.split(":")[1])
                self.send(201, struct.pack(">IQQQQ", rid, write + 1024, write, write, 64))
            else:
                self.status(rid, 8)
        elif type_ == 3:  # OPEN
            self.path = name
            self.data = bytearray()
            self.largest = 0
            report("open " + self.path)
            forced = self.forced("open")
            if forced is not None:
                self.status(rid, forced)
            else:
                self.send(102, struct.pack(">I", rid + (1000 if self.scenario == "sftp-badid" else 0)) + ssh_string(b"h1"))
        elif type_ == 6:  # WRITE
            self.write(rid, rest)
        elif type_ == 10:  # FSETSTAT
            forced = self.forced("fsetstat")
            self.status(rid, forced if forced is not None else 0)
        elif type_ in (4, 14):  # CLOSE, MKDIR
            self.status(rid, 0)
        else:
            self.status(rid, 8)


def scp_flood(channel):
    """Acknowledges the start and the first line, then floods the client
    while draining what it sends."""
    f = channel.makefile("rb")
    channel.sendall(b"\0")
    while True:
        line = f.readline()
        channel.sendall(b"\0")
        if not line or line[:1] == b"C":
            break
    received = [0]

    def drain():
        try:
            while True:
                chunk = f.read(4096)
                if not chunk:
                    break
                received[0] += len(chunk)
        except Exception:
            pass

    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    sent = 0
    try:
        chunk = b"x" * 65536
        while sent < 64 * 1024 * 1024 and not channel.closed:
            sent += channel.send(chunk)
    except Exception:
        pass
    reader.join(5)
    report("flood sent %d received %d" % (sent, received[0]))
    try:
        channel.close()
    except Exception:
        pass


def scp_sink(channel):
    """A minimal scp -t: acknowledges T, C, D and E lines and file data."""
    f = channel.makefile("rb")
    channel.sendall(b"\0")
    total = 0
    try:
        while True:
            line = f.readline()
            if not line:
                break
            if line[:1] in (b"\x01", b"\x02"):
                # An error from the source: reported, not acknowledged.
                report("sink message " + line[1:].decode(errors="replace").strip())
                continue
            if line[:1] == b"C":
                size = int(line.split(b" ")[1])
                channel.sendall(b"\0")
                left = size
                while left:
                    chunk = f.read(min(left, 65536))
                    if not chunk:
                        raise EOFError()
                    left -= len(chunk)
                total += size
                if f.read(1) != b"\0":
                    raise ValueError("no end of file byte")
            channel.sendall(b"\0")
    except Exception as e:
        report("sink error %r" % (e,))
    report("sink received %d" % total)
    channel.send_exit_status(0)
    channel.close()


def upload_connection(conn, args, key):
    try:
        if args.mode == "mute":
            raw_mode(args, conn)
            return
        server = make_server(args)
        transport = start_transport(conn, args, key, server)
        while transport.is_active():
            time.sleep(0.02)
        for worker in server.workers:
            worker.join(10)
        report("agreed %s %s %s %s" % (LAST_KEX[0], transport.remote_cipher, transport.remote_mac,
                                       transport.remote_compression))
    except Exception as e:
        report("negotiation failed %r" % (e,))
    finally:
        conn.close()
        report("done")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode")
    defaults = {"reason": 2, "text": "bye", "f": "2", "auths": "password", "banner": "", "hostkeys": "ssh-rsa",
                "kex": "curve25519-sha256", "cipher": "aes128-ctr", "q": "", "bits": 0, "modulus-bytes": 128,
                "g": 2, "status": 0, "extra": 0, "commands": 1, "endings": "", "hold": 10.0}
    for name, default in defaults.items():
        parser.add_argument("--" + name, type=type(default), default=default)
    for flag in ("compress", "no-compression", "delayed-compression", "gex", "modern", "strict", "never-accept",
                 "open-fail", "refuse-exec", "exit-want-reply", "other-request", "debug",
                 "disconnect-on-exec", "hang", "open-stall"):
        parser.add_argument("--" + flag, action="store_true")
    args = parser.parse_args()
    args.upload = args.mode.startswith(UPLOAD_SCENARIOS)
    if args.upload:
        # The upload tests' server: group exchange and compression unless
        # they are turned off.
        args.gex = True
        args.compress = not args.no_compression
    else:
        args.delayed_compression = args.compress and args.modern
    if args.mode.startswith("raw-"):
        conn = one_connection()
        try:
            raw_mode(args, conn)
        finally:
            conn.close()
        return
    import paramiko
    logging.getLogger("paramiko").setLevel(logging.DEBUG)
    logging.getLogger("paramiko").addHandler(KexNote())
    key = paramiko.RSAKey.generate(1024)
    if not args.upload:
        paramiko_mode(args, one_connection(), key)
        return
    sock = listener(8)
    sock.settimeout(120)
    while True:
        try:
            conn, _ = sock.accept()
        except socket.timeout:
            return
        threading.Thread(target=upload_connection, args=(conn, args, key), daemon=True).start()


def one_connection():
    sock = listener(1)
    sock.settimeout(20)
    conn, _ = sock.accept()
    sock.close()
    return conn


if __name__ == "__main__":
    main()
