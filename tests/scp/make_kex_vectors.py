#!/usr/bin/python3
"""Writes kex_vectors.txt: known answers for the upload engine's exchange
hashes and key derivation, computed here independently of the engine with
Python's hashlib and the cryptography package (X25519).

Run once: python3 make_kex_vectors.py > kex_vectors.txt
"""
import hashlib
import struct

from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey
from cryptography.hazmat.primitives import serialization


def string(b):
    return struct.pack(">I", len(b)) + b


def mpint(n):
    if n == 0:
        return string(b"")
    raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
    if raw[0] & 0x80:
        raw = b"\0" + raw
    return string(raw)


def derive(hash_name, k, h, letter, session_id, length):
    out = hashlib.new(hash_name, k + h + letter + session_id).digest()
    while len(out) < length:
        out += hashlib.new(hash_name, k + h + out).digest()
    return out[:length]


def raw_public(key):
    return key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


V_C = b"SSH-2.0-Pavlet"
V_S = b"SSH-2.0-OpenSSH_9.2p1 Debian-2"
I_C = bytes([20]) + bytes(range(16)) + b"client lists"
I_S = bytes([20]) + bytes(range(16, 32)) + b"server lists"
K_S = string(b"ssh-ed25519") + string(bytes(range(100, 132)))
common = string(V_C) + string(V_S) + string(I_C) + string(I_S) + string(K_S)

lines = ["# Known answers for the upload engine's key exchange; made by",
         "# make_kex_vectors.py (Python hashlib and cryptography), not by the engine.",
         "v_c = " + V_C.hex(), "v_s = " + V_S.hex(), "i_c = " + I_C.hex(), "i_s = " + I_S.hex(),
         "k_s = " + K_S.hex()]

# curve25519-sha256
client_priv = bytes(range(1, 33))
server_priv = bytes(range(201, 233))
client = X25519PrivateKey.from_private_bytes(client_priv)
server = X25519PrivateKey.from_private_bytes(server_priv)
q_c = raw_public(client)
q_s = raw_public(server)
secret = client.exchange(server.public_key())
k = mpint(int.from_bytes(secret, "big"))
h = hashlib.sha256(common + string(q_c) + string(q_s) + k).digest()
lines += ["x25519_client_private = " + client_priv.hex(), "x25519_client_public = " + q_c.hex(),
          "x25519_server_public = " + q_s.hex(), "x25519_k = " + k.hex(), "x25519_h = " + h.hex(),
          # chacha20-poly1305 takes 64 key bytes: two SHA-256 blocks.
          "x25519_key_c_64 = " + derive("sha256", k, h, b"C", h, 64).hex(),
          "x25519_key_a_100 = " + derive("sha256", k, h, b"A", h, 100).hex()]

# ecdh-sha2-nistp256: the hash over the two points as strings
q_c = bytes([4]) + bytes(range(1, 65))
q_s = bytes([4]) + bytes(range(65, 129))
k = mpint(int.from_bytes(bytes(range(150, 182)), "big"))
h = hashlib.sha256(common + string(q_c) + string(q_s) + k).digest()
lines += ["p256_q_c = " + q_c.hex(), "p256_q_s = " + q_s.hex(), "p256_k = " + k.hex(), "p256_h = " + h.hex()]

# diffie-hellman-group16-sha512
e = int("7f" + "13" * 255, 16)
f = int("80" + "27" * 255, 16)
kn = int("01" + "42" * 500, 16)
k = mpint(kn)
h = hashlib.sha512(common + mpint(e) + mpint(f) + k).digest()
sid = hashlib.sha512(b"an earlier exchange").digest()
lines += ["dh_e = " + ("%x" % e), "dh_f = " + ("%x" % f), "dh_k = " + ("%x" % kn), "g16_h = " + h.hex(),
          "g16_session_id = " + sid.hex(),
          # hmac-sha2-512 takes 64 bytes: one SHA-512 block; 130 bytes take three.
          "g16_key_e_64 = " + derive("sha512", k, h, b"E", sid, 64).hex(),
          "g16_key_d_130 = " + derive("sha512", k, h, b"D", sid, 130).hex()]

# diffie-hellman-group14-sha256
h = hashlib.sha256(common + mpint(e) + mpint(f) + k).digest()
lines += ["g14_h = " + h.hex()]

# diffie-hellman-group-exchange-sha256: min, n, max, p, g, e, f, K
p = int("ff" * 256, 16) - 188
g = 5
h = hashlib.sha256(common + struct.pack(">III", 2048, 7680, 8192) + mpint(p) + mpint(g) + mpint(e) + mpint(f) +
                   k).digest()
lines += ["gex_p = " + ("%x" % p), "gex_g = 5", "gex_h = " + h.hex()]

# diffie-hellman-group-exchange-sha1 (the old request: n only) and the old
# 40-byte derivation, unchanged.
h = hashlib.sha1(common + struct.pack(">I", 2048) + mpint(p) + mpint(g) + mpint(e) + mpint(f) + k).digest()
lines += ["gexold_h = " + h.hex(), "gexold_key_c_40 = " + derive("sha1", k, h, b"C", h, 40).hex()]

# The Diffie-Hellman numbers themselves in the group above: e = g^x mod p,
# f = g^y mod p and K = f^x mod p, with Python's integers.
x = int("0123456789abcdef" * 8, 16)
y = int("fedcba9876543210" * 8, 16) + 12345
lines += ["dh_x = %x" % x, "dh_y = %x" % y, "dh_gx = %x" % pow(g, x, p), "dh_gy = %x" % pow(g, y, p),
          "dh_gxy = %x" % pow(pow(g, y, p), x, p)]

print("\n".join(lines))
