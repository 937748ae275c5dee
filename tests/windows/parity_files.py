#!/usr/bin/env python3
"""Files of the parity test between the Windows module and the Linux build.

  parity_files.py unwrap CONSOLE.fdx STREAM
      the snap-in's stream out of a Linux console file of one instance
  parity_files.py wrap TEMPLATE.fdx STREAM OUT.fdx
      a console file of one instance holding STREAM, with the format number
      and the class id of TEMPLATE (a console file the Linux build wrote)
  parity_files.py mask SCAN1 SCAN2 IN OUT
      IN with the lines that differ between two dumps of the same host
      (SCAN1, SCAN2: two scans in a row) replaced by a marker

A console file: 8-byte magic, u32 format, u32 instance count, per instance
{16-byte class id, u32 length, the stream}, CRC-32 of all before it; every
number little-endian.
"""
import struct
import sys
import zlib

MAGIC = b"\x89FDXCON\n"
VARIES = "<differs between two scans of the same host>"


def read_instance(path):
    data = open(path, "rb").read()
    if len(data) < 40 or data[:8] != MAGIC:
        sys.exit(f"{path}: not a console file")
    if struct.unpack("<I", data[-4:])[0] != zlib.crc32(data[:-4]):
        sys.exit(f"{path}: its checksum does not match")
    version, count = struct.unpack("<II", data[8:16])
    if count != 1:
        sys.exit(f"{path}: holds {count} snap-in instances, not one")
    clsid = data[16:32]
    (length,) = struct.unpack("<I", data[32:36])
    stream = data[36:36 + length]
    if len(stream) != length or 36 + length != len(data) - 4:
        sys.exit(f"{path}: its instance record does not fill the file")
    return version, clsid, stream


def unwrap(console, out):
    _, _, stream = read_instance(console)
    open(out, "wb").write(stream)


def wrap(template, stream_path, out):
    version, clsid, _ = read_instance(template)
    stream = open(stream_path, "rb").read()
    body = MAGIC + struct.pack("<II", version, 1) + clsid + struct.pack("<I", len(stream)) + stream
    open(out, "wb").write(body + struct.pack("<I", zlib.crc32(body)))


def mask(scan1, scan2, src, out):
    first = open(scan1).read().splitlines()
    second = open(scan2).read().splitlines()
    lines = open(src).read().splitlines()
    if len(first) != len(second):
        sys.exit("two scans of the same host differ in their nodes or rows, not only in values")
    varying = {i for i, (a, b) in enumerate(zip(first, second)) if a != b}
    for i in sorted(varying):
        print(f"varies between scans: {first[i]!r} / {second[i]!r}", file=sys.stderr)
    with open(out, "w") as f:
        for i, line in enumerate(lines):
            f.write((VARIES if i in varying and not line.startswith("== ") else line) + "\n")


if __name__ == "__main__":
    commands = {"unwrap": (unwrap, 2), "wrap": (wrap, 3), "mask": (mask, 4)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) - 2 != commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    command, _ = commands[sys.argv[1]]
    command(*sys.argv[2:])
