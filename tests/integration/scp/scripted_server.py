#!/usr/bin/python3
"""A scriptable SSH server for the upload library's tests (paramiko).

Serves connections on a free loopback port, printed as "PORT <n>" on
standard output, until it is stopped. Each connection behaves as the scenario
named on the command line asks, or as the one named by the login user when
that is a scenario name:

  sftp-ok            an SFTP subsystem that accepts every request
  sftp-nolimit       as sftp-ok, with no limit on failed logins
  sftp-status:OP:N   as sftp-ok, but answers request OP (open, write,
                     fsetstat, mkdir-stat) with status N
  sftp-badid         answers OPEN with an identifier that was never sent
  sftp-reorder       holds the replies to WRITE requests until four are held
                     or no more requests come for a moment, then sends them
                     newest first
  sftp-delay         answers each WRITE from a timer 1 to 40 ms later, so
                     replies come late and out of order
  sftp-fail5         refuses the fifth WRITE (status 4); reports its offset
  sftp-limits:W      offers limits@openssh.com with a write length of W
  sftp-rekey         starts a new key exchange at the third and the
                     fortieth WRITE, while more requests are arriving;
                     reports "rekeyed N" at CLOSE
  sftp-rekey-newkey  as sftp-rekey, but the server takes another host key of
                     the same type before the first renegotiation
  sftp-slowread      reads its channel in small pieces with pauses, so a
                     small --window opens slowly
  (every SFTP scenario reports "file PATH SIZE SHA256 LARGEST" at CLOSE: the
  bytes written and the longest WRITE)
  sftp-version4      answers INIT with version 4
  sftp-silent        grants the subsystem and then says nothing
  sink               refuses the subsystem; the scp command is a sink that
                     acknowledges every line and reports the bytes it got
  ack:B              refuses the subsystem; the scp command answers with
                     acknowledgement byte B and a message line
  refuse             refuses the subsystem and the command
  mute               accepts the TCP connection and never speaks
  flood              refuses the subsystem; the scp command acknowledges the
                     lines up to the first file's and then, while that
                     file's bytes come, sends data nobody asked for
                     (64 MiB at most) while it takes what the client sends
  raw-stall          no paramiko: sends its identification and a KEXINIT,
                     then nothing more (the key exchange stops half-way)
  raw-strict         no paramiko: a raw socket that sends its identification,
                     a KEXINIT offering strict key exchange and at once an
                     IGNORE message, then DISCONNECT
  raw-plain          the same without strict key exchange
  raw-nomac          no paramiko: a KEXINIT whose only MAC is "none" beside a
                     CTR cipher; reports how the client ends the connection
  raw-nokex          no paramiko: a KEXINIT with a key-exchange method the
                     client does not know; reports as raw-nomac

--version TEXT sets the software version of the identification line;
--window N the channel window the server grants; --modern lets paramiko
offer its whole algorithm set (otherwise only an older installation's:
group exchange and group1 with SHA-1, ssh-rsa, CBC ciphers, hmac-sha1 and
hmac-md5, plain zlib); --delayed-compression offers only zlib@openssh.com.
"""
import argparse
import hashlib
import logging
import random
import socket
import struct
import sys
import threading
import time

import paramiko

PASSWORD = "fdx-test-pw"
LAST_KEX = ["?"]


class KexNote(logging.Handler):
    """Keeps the key exchange method paramiko reports agreeing."""

    def emit(self, record):
        text = record.getMessage().strip()
        if text.startswith("Kex:") or text.startswith("Kex agreed:"):
            LAST_KEX[0] = text.split(":", 1)[1].strip()


def log(text):
    print("RESULT " + text, flush=True)


class Sftp:
    """Just enough of an SFTP version 3 server, on a raw channel."""

    def __init__(self, channel, scenario):
        self.channel = channel
        self.scenario = scenario
        self.files = {}
        self.lock = threading.Lock()
        self.held = []  # (id, status) of WRITE replies not yet sent
        self.timers = []
        self.writes = 0
        self.path = ""
        self.data = bytearray()
        self.largest = 0
        self.rekeys = []

    def rekey(self):
        transport = self.channel.get_transport()
        if self.scenario == "sftp-rekey-newkey":
            transport.add_server_key(paramiko.RSAKey.generate(1024))
        worker = threading.Thread(target=transport.renegotiate_keys, daemon=True)
        self.rekeys.append(worker)
        worker.start()

    def read_exact(self, n):
        data = b""
        while len(data) < n:
            if self.scenario == "sftp-slowread":
                time.sleep(0.002)
                chunk = self.channel.recv(min(n - len(data), 8192))
            else:
                chunk = self.channel.recv(n - len(data))
            if not chunk:
                raise EOFError()
            data += chunk
        return data

    def send(self, type_, body):
        with self.lock:
            self.channel.sendall(struct.pack(">IB", len(body) + 1, type_) + body)

    def release_held(self):
        """Sends the held WRITE replies, newest first."""
        held, self.held = self.held, []
        for rid, code in reversed(held):
            self.status(rid, code)

    def quiet(self):
        """No request waits, not even after a moment."""
        if self.channel.recv_ready():
            return False
        time.sleep(0.01)
        return not self.channel.recv_ready()

    def write(self, rid, body):
        (n,) = struct.unpack(">I", body[:4])
        offset, length = struct.unpack(">QI", body[4 + n:16 + n])
        data = body[16 + n:16 + n + length]
        self.writes += 1
        self.largest = max(self.largest, length)
        forced = self.forced("write")
        code = forced if forced is not None else 0
        if self.scenario in ("sftp-rekey", "sftp-rekey-newkey") and self.writes in (3, 40):
            self.rekey()
        if self.scenario == "sftp-fail5" and self.writes == 5:
            code = 4
            log("refused write at %d" % offset)
        if code == 0:
            if len(self.data) < offset + length:
                self.data.extend(b"\0" * (offset + length - len(self.data)))
            self.data[offset:offset + length] = data
        if self.scenario == "sftp-reorder":
            self.held.append((rid, code))
            if len(self.held) >= 4 or self.quiet():
                self.release_held()
        elif self.scenario == "sftp-delay":
            timer = threading.Timer(random.uniform(0.001, 0.04), self.status, (rid, code))
            self.timers.append(timer)
            timer.start()
        else:
            self.status(rid, code)

    def status(self, rid, code):
        msg = b"scripted"
        self.send(101, struct.pack(">II", rid, code) + struct.pack(">I", len(msg)) + msg + struct.pack(">I", 0))

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
                packet = self.read_exact(length)
                self.handle(packet[0], packet[1:])
        except EOFError:
            pass
        except Exception as e:  # report and stop
            log("sftp error %r" % (e,))
        # Like a real sftp-server: exit when the client is done.
        self.channel.send_exit_status(0)
        self.channel.close()

    def handle(self, type_, body):
        if type_ == 1:  # INIT
            log("init version %d" % struct.unpack(">I", body[:4]))
            version = struct.pack(">I", 4 if self.scenario == "sftp-version4" else 3)
            if self.scenario.startswith("sftp-limits:"):
                version += (struct.pack(">I", 18) + b"limits@openssh.com" + struct.pack(">I", 1) + b"1")
            self.send(2, version)
            return
        (rid,) = struct.unpack(">I", body[:4])
        rest = body[4:]
        if type_ != 6 and self.held:
            self.release_held()
        if type_ == 4:
            # Every write is answered before the file is closed.
            for timer in self.timers:
                timer.join()
            self.timers = []
            for worker in self.rekeys:
                worker.join(10)
            if self.rekeys:
                log("rekeyed %d" % sum(1 for w in self.rekeys if not w.is_alive()))
            log("file %s %d %s %d" % (self.path, len(self.data), hashlib.sha256(self.data).hexdigest(),
                                      self.largest))
        if type_ == 17:  # STAT
            (n,) = struct.unpack(">I", rest[:4])
            path = rest[4:4 + n].decode()
            log("stat " + path)
            forced = self.forced("mkdir-stat") if path.endswith("/tree") else None
            if forced is not None:
                self.status(rid, forced)
            elif path.endswith(".txt"):
                self.status(rid, 2)
            else:
                self.send(105, struct.pack(">III", rid, 4, 0o40755))
        elif type_ == 200:  # EXTENDED
            (n,) = struct.unpack(">I", rest[:4])
            name = rest[4:4 + n].decode()
            log("extended " + name)
            if name == "limits@openssh.com" and self.scenario.startswith("sftp-limits:"):
                write = int(self.scenario.split(":")[1])
                self.send(201, struct.pack(">IQQQQ", rid, write + 1024, write, write, 64))
            else:
                self.status(rid, 8)
        elif type_ == 3:  # OPEN
            (n,) = struct.unpack(">I", rest[:4])
            self.path = rest[4:4 + n].decode()
            self.data = bytearray()
            self.largest = 0
            log("open " + self.path)
            forced = self.forced("open")
            if forced is not None:
                self.status(rid, forced)
            else:
                self.send(102, struct.pack(">I", rid + (1000 if self.scenario == "sftp-badid" else 0)) +
                          struct.pack(">I", 2) + b"h1")
        elif type_ == 6:  # WRITE
            self.write(rid, rest)
        elif type_ == 10:  # FSETSTAT
            forced = self.forced("fsetstat")
            self.status(rid, forced if forced is not None else 0)
        elif type_ in (4, 14):  # CLOSE, MKDIR
            self.status(rid, 0)
        else:
            self.status(rid, 8)


SCENARIOS = ("sftp-", "ack:", "refuse", "sink", "flood")


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
    log("flood sent %d received %d" % (sent, received[0]))
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
                log("sink message " + line[1:].decode(errors="replace").strip())
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
        log("sink error %r" % (e,))
    log("sink received %d" % total)
    channel.send_exit_status(0)
    channel.close()


class Server(paramiko.ServerInterface):
    def __init__(self, scenario):
        self.scenario = scenario
        self.workers = []  # threads whose report must come before "done"

    def get_allowed_auths(self, username):
        return "password"

    def check_auth_none(self, username):
        # "sftp-nolimit": failed "none" requests do not count towards
        # paramiko's own limit of ten failures.
        if username == "sftp-nolimit":
            return paramiko.AUTH_PARTIALLY_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_auth_password(self, username, password):
        if username.startswith(SCENARIOS):
            self.scenario = username
        return paramiko.AUTH_SUCCESSFUL if password == PASSWORD else paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_subsystem_request(self, channel, name):
        log("subsystem " + name)
        if not self.scenario.startswith("sftp-") or name != "sftp":
            return False
        if self.scenario != "sftp-silent":
            threading.Thread(target=Sftp(channel, self.scenario).run, daemon=True).start()
        return True

    def check_channel_exec_request(self, channel, command):
        log("exec " + command.decode())
        if self.scenario == "sink":
            threading.Thread(target=scp_sink, args=(channel,), daemon=True).start()
            return True
        if self.scenario == "flood":
            worker = threading.Thread(target=scp_flood, args=(channel,), daemon=True)
            self.workers.append(worker)
            worker.start()
            return True
        if not self.scenario.startswith("ack:"):
            return False
        byte = int(self.scenario.split(":")[1])

        def sink():
            channel.sendall(bytes([byte]) + b"scp: scripted answer\n")
            time.sleep(0.5)
            channel.send_exit_status(1)
            channel.close()

        threading.Thread(target=sink, daemon=True).start()
        return True


def name_list(names):
    data = ",".join(names).encode()
    return struct.pack(">I", len(data)) + data


def plain_packet(payload):
    """A packet before any keys: padding to a multiple of 8, at least 4."""
    padding = 8 - (5 + len(payload)) % 8
    if padding < 4:
        padding += 8
    return struct.pack(">IB", 1 + len(payload) + padding, padding) + payload + b"\0" * padding


def raw_exchange(conn, strict):
    """Identification and KEXINIT by hand, then an IGNORE before anything
    else of the key exchange, then DISCONNECT."""
    conn.sendall(b"SSH-2.0-raw_scripted\r\n")
    kex = ["curve25519-sha256"] + (["kex-strict-s-v00@openssh.com"] if strict else [])
    kexinit = (bytes([20]) + b"\x11" * 16 + name_list(kex) + name_list(["ssh-ed25519"]) +
               name_list(["aes128-ctr"]) * 2 + name_list(["hmac-sha2-256"]) * 2 +
               name_list(["none"]) * 2 + name_list([]) * 2 + b"\0" + struct.pack(">I", 0))
    ignore = bytes([2]) + struct.pack(">I", 3) + b"abc"
    disconnect = bytes([1]) + struct.pack(">I", 11) + struct.pack(">I", 3) + b"bye" + struct.pack(">I", 0)
    conn.sendall(plain_packet(kexinit) + plain_packet(ignore))
    time.sleep(0.3)
    received = b""
    conn.settimeout(2)
    try:
        conn.sendall(plain_packet(disconnect))
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            received += chunk
    except OSError:
        pass
    log("raw client offers strict %s" % (b"kex-strict-c-v00@openssh.com" in received))
    conn.close()


def raw_offer(conn, kex, macs):
    """Identification and a KEXINIT of the given key exchange and MACs, then
    reports the DISCONNECT the client answers with (its reason code)."""
    conn.sendall(b"SSH-2.0-raw_scripted\r\n")
    kexinit = (bytes([20]) + b"\x11" * 16 + name_list(kex) + name_list(["ssh-ed25519"]) +
               name_list(["aes128-ctr"]) * 2 + name_list(macs) * 2 +
               name_list(["none"]) * 2 + name_list([]) * 2 + b"\0" + struct.pack(">I", 0))
    conn.sendall(plain_packet(kexinit))
    received = b""
    conn.settimeout(5)
    try:
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            received += chunk
    except OSError:
        pass
    # After the identification line: the client's KEXINIT, then its DISCONNECT.
    packets = received.split(b"\n", 1)[-1]
    reason = None
    while len(packets) >= 5:
        length, = struct.unpack(">I", packets[:4])
        payload = packets[5:4 + length - packets[4]]
        if payload[:1] == bytes([1]):
            reason, = struct.unpack(">I", payload[1:5])
        packets = packets[4 + length:]
    log("client disconnects with %s" % reason)
    conn.close()


def legacy_only(transport, compression):
    """The algorithm set of an older installation."""
    options = transport.get_security_options()
    options.kex = ("diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1")
    options.ciphers = ("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc")
    options.digests = ("hmac-sha1", "hmac-md5")
    options.key_types = ("ssh-rsa",)
    if compression:
        options.compression = ("zlib", "none")


def serve(conn, args, key):
    if args.scenario == "mute":
        time.sleep(10)
        conn.close()
        return
    if args.scenario == "raw-stall":
        kexinit = (bytes([20]) + b"\x11" * 16 + name_list(["curve25519-sha256"]) + name_list(["ssh-ed25519"]) +
                   name_list(["aes128-ctr"]) * 2 + name_list(["hmac-sha2-256"]) * 2 +
                   name_list(["none"]) * 2 + name_list([]) * 2 + b"\0" + struct.pack(">I", 0))
        conn.sendall(b"SSH-2.0-raw_scripted\r\n" + plain_packet(kexinit))
        time.sleep(10)
        conn.close()
        log("done")
        return
    if args.scenario in ("raw-nomac", "raw-nokex"):
        try:
            if args.scenario == "raw-nomac":
                raw_offer(conn, ["curve25519-sha256"], ["none"])
            else:
                raw_offer(conn, ["diffie-hellman-group1-sha512-unknown"], ["hmac-sha2-256"])
        finally:
            log("done")
        return
    if args.scenario.startswith("raw-"):
        try:
            raw_exchange(conn, args.scenario == "raw-strict")
        finally:
            log("done")
        return
    transport = paramiko.Transport(conn, default_window_size=args.window)
    transport.local_version = "SSH-2.0-" + args.version
    transport.load_server_moduli()
    transport.use_compression(not args.no_compression)
    if not args.modern:
        legacy_only(transport, not args.no_compression)
    if args.delayed_compression:
        transport.get_security_options().compression = ("zlib@openssh.com", "none")
    transport.add_server_key(key)
    try:
        server = Server(args.scenario)
        transport.start_server(server=server)
        while transport.is_active():
            time.sleep(0.02)
        for worker in server.workers:
            worker.join(10)
        log("agreed %s %s %s %s" % (LAST_KEX[0], transport.remote_cipher,
                                    transport.remote_mac, transport.remote_compression))
    except Exception as e:
        log("negotiation failed %r" % (e,))
    finally:
        log("done")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario")
    parser.add_argument("--version", default="paramiko_scripted")
    parser.add_argument("--no-compression", action="store_true")
    parser.add_argument("--modern", action="store_true")
    parser.add_argument("--delayed-compression", action="store_true")
    parser.add_argument("--window", type=int, default=2097152)
    args = parser.parse_args()

    paramiko_log = logging.getLogger("paramiko")
    paramiko_log.setLevel(logging.DEBUG)
    paramiko_log.addHandler(KexNote())
    key = paramiko.RSAKey.generate(1024)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    listener.settimeout(120)
    while True:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            return
        threading.Thread(target=serve, args=(conn, args, key), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
