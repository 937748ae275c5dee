#!/usr/bin/python3
"""Writes the seeds of the SSH-2 fuzz targets for the current algorithms:
packet streams protected as each mode of the packet reader expects (fixed
keys, every byte 0x42) and elliptic-curve replies with Ed25519 and ECDSA
host keys. Run from anywhere; the files go to fuzz/corpus/."""
import hashlib, hmac, struct, os
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.poly1305 import Poly1305
from cryptography.hazmat.primitives.asymmetric import ed25519, ec, x25519
from cryptography.hazmat.primitives import serialization, hashes
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

def s(b):
    if isinstance(b, str): b = b.encode()
    return struct.pack(">I", len(b)) + b
def mpint(n):
    return s(n.to_bytes((n.bit_length() + 8) // 8, "big") if n else b"")

payloads = [bytes([94]) + struct.pack(">I", 256) + s(b"hello from the seed" * 3),
            bytes([2]) + s(b"ignored"),
            bytes([80]) + s("keepalive@openssh.com") + b"\0",
            bytes([98]) + struct.pack(">I", 256) + s("exit-status") + b"\0" + struct.pack(">I", 3),
            bytes([96]) + struct.pack(">I", 256)]

def pad(n, bs, aad):
    return 4 + (bs - ((1 + n + 4) if aad else (9 + n)) % bs) % bs

K = b"\x42" * 64
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
out = os.path.join(ROOT, "fuzz", "corpus", "ssh2_packet_fuzz") + "/"
# 1: aes256-gcm
data = b"SSH-2.0-Seed_1.0\r\n"
for seq, p in enumerate(payloads):
    n = pad(len(p), 16, True)
    body = bytes([n]) + p + bytes(n)
    length = struct.pack(">I", len(body))
    nonce = K[:4] + (int.from_bytes(K[4:12], "big") + seq).to_bytes(8, "big")
    data += length + AESGCM(K[:32]).encrypt(nonce, body, length)
open(out + "session_aes256_gcm", "wb").write(bytes([1 | (1 << 5)]) + data)
# 2: chacha20-poly1305
def chacha(k, seq, counter, d):
    return Cipher(algorithms.ChaCha20(k, counter.to_bytes(8, "little") + seq.to_bytes(8, "big")), None).encryptor().update(d)
data = b"SSH-2.0-Seed_1.0\r\n"
for seq, p in enumerate(payloads):
    n = pad(len(p), 8, True)
    body = bytes([n]) + p + bytes(n)
    enc = chacha(K[32:], seq, 0, struct.pack(">I", len(body))) + chacha(K[:32], seq, 1, body)
    data += enc + Poly1305.generate_tag(chacha(K[:32], seq, 0, bytes(32)), enc)
open(out + "session_chacha20_poly1305", "wb").write(bytes([1 | (2 << 5)]) + data)
# 3: aes128-ctr + hmac-sha2-256-etm
data = b"SSH-2.0-Seed_1.0\r\n"
enc = Cipher(algorithms.AES(K[:16]), modes.CTR(K[:16])).encryptor()
for seq, p in enumerate(payloads):
    n = pad(len(p), 16, True)
    body = bytes([n]) + p + bytes(n)
    length = struct.pack(">I", len(body))
    c = enc.update(body)
    data += length + c + hmac.new(K[:32], struct.pack(">I", seq) + length + c, hashlib.sha256).digest()
open(out + "session_aes128_ctr_etm", "wb").write(bytes([1 | (3 << 5) | (1 << 2)]) + data)
# 4: aes256-ctr + hmac-sha2-512, with zlib
import zlib
data = b"SSH-2.0-Seed_1.0\r\n"
enc = Cipher(algorithms.AES(K[:32]), modes.CTR(K[:16])).encryptor()
z = zlib.compressobj()
for seq, p in enumerate(payloads):
    p = z.compress(p) + z.flush(zlib.Z_SYNC_FLUSH)
    n = pad(len(p), 16, False)
    clear = struct.pack(">I", 1 + len(p) + n) + bytes([n]) + p + bytes(n)
    data += enc.update(clear) + hmac.new(K[:64], struct.pack(">I", seq) + clear, hashlib.sha512).digest()
open(out + "session_aes256_ctr_sha512_zlib", "wb").write(bytes([3 | (4 << 5)]) + data)

# messages: ECDH replies (type index 2 = 31)
mout = os.path.join(ROOT, "fuzz", "corpus", "ssh2_messages_fuzz") + "/"
raw = serialization.Encoding.Raw, serialization.PublicFormat.Raw
h = hashlib.sha256(b"exchange").digest()
ed = ed25519.Ed25519PrivateKey.generate()
kb = s("ssh-ed25519") + s(ed.public_key().public_bytes(*raw))
q = x25519.X25519PrivateKey.generate().public_key().public_bytes(*raw)
open(mout + "type31_ecdh_ed25519", "wb").write(bytes([2]) + s(kb) + s(q) + s(s("ssh-ed25519") + s(ed.sign(kb))))
ek = ec.generate_private_key(ec.SECP256R1())
pt = ek.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
kb = s("ecdsa-sha2-nistp256") + s("nistp256") + s(pt)
r, ss = decode_dss_signature(ek.sign(kb, ec.ECDSA(hashes.SHA256())))
q2 = ec.generate_private_key(ec.SECP256R1()).public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
open(mout + "type31_ecdh_ecdsa", "wb").write(bytes([2]) + s(kb) + s(q2) + s(s("ecdsa-sha2-nistp256") + s(mpint(r) + mpint(ss))))
