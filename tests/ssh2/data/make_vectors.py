#!/usr/bin/python3
"""Prints the known-answer vectors of tests/ssh2/crypto_test.cpp, computed
here independently of the client with Python's hashlib and the
cryptography package. Run it to check or renew the constants there."""
import hashlib
import struct

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.poly1305 import Poly1305


def string(b):
    return struct.pack(">I", len(b)) + b


def mpint(n):
    return string(n.to_bytes((n.bit_length() + 8) // 8, "big") if n else b"")


def pattern(n, seed):
    return bytes((seed + 31 * i) & 0xff for i in range(n))


common = (string(b"SSH-2.0-Tessaro") + string(b"SSH-2.0-Test") + string(b"\x14" + b"a" * 10) +
          string(b"\x14" + b"b" * 12) + string(b"\0\0\0\x0bssh-ed25519"))
q_c, q_s = pattern(32, 1), pattern(32, 2)
k_ecdh = int.from_bytes(pattern(32, 0x80), "big")  # top bit set: the mpint gains a zero byte
h_ecdh = hashlib.sha256(common + string(q_c) + string(q_s) + mpint(k_ecdh)).digest()
print("ecdh sha256 H", h_ecdh.hex())

e, f, k = 0x1234567890abcdef, 0x80ff, 0xfedcba9876543210ff
h_gex = hashlib.sha256(common + struct.pack(">III", 2048, 3072, 8192) + mpint(0xf7) + mpint(2) + mpint(e) +
                       mpint(f) + mpint(k)).digest()
print("gex sha256 H", h_gex.hex())
h_512 = hashlib.sha512(common + mpint(e) + mpint(f) + mpint(k)).digest()
print("dh sha512 H", h_512.hex())


def derive(hash_name, k, h, letter, session, length):
    out = hashlib.new(hash_name, mpint(k) + h + letter + session).digest()
    while len(out) < length:
        out += hashlib.new(hash_name, mpint(k) + h + out).digest()
    return out[:length]


print("derive sha256 C 64", derive("sha256", k_ecdh, h_ecdh, b"C", h_gex, 64).hex())
print("derive sha512 E 130", derive("sha512", k, h_512, b"E", h_512, 130).hex())

# AES-GCM packets: the length in clear as associated data, the IV's last
# eight bytes counting packets.
key, iv = pattern(16, 5), pattern(12, 6)
packet = struct.pack(">I", 28) + bytes([10]) + b"\x05hello world!!!!!" + b"\0" * 10
for n in range(2):
    nonce = iv[:4] + (int.from_bytes(iv[4:], "big") + n).to_bytes(8, "big")
    print("gcm packet", n, packet[:4].hex() + AESGCM(key).encrypt(nonce, packet[4:], packet[:4]).hex())

# chacha20-poly1305@openssh.com: the main key is the first half of the 64
# bytes, the length key the second; the cryptography package's 16-byte nonce
# is the block counter (little-endian) followed by the nonce.
key = pattern(64, 9)
seq = 7
main, header = key[:32], key[32:]
nonce = seq.to_bytes(8, "big")


def chacha(k, counter, data):
    return Cipher(algorithms.ChaCha20(k, counter.to_bytes(8, "little") + nonce), None).encryptor().update(data)


packet = struct.pack(">I", 28) + bytes([10]) + b"\x05hello world!!!!!" + b"\0" * 10
enc = chacha(header, 0, packet[:4]) + chacha(main, 1, packet[4:])
tag = Poly1305.generate_tag(chacha(main, 0, b"\0" * 32), enc)
print("chacha packet", (enc + tag).hex())
