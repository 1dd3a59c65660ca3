#!/usr/bin/env python3
"""Writes the reference vectors for the runtime's string hashes and its checksum.

The hashes and the checksum are computed here from their textbook definitions, written
independently of the C++ code, so the C++ tests compare two separate implementations.

Input descriptions (shared by both output files; the C++ test rebuilds the bytes from them):
  hex:<bytes in hex>    literal bytes ("hex:" alone is the empty input)
  fill:<byte>:<len>     len copies of one byte value
  lcg:<seed>:<len>      len bytes of the generator x = x * 1103515245 + 12345 (mod 2^32),
                        byte = (x >> 16) & 0xFF, starting from x = seed

hash_vectors.txt:     <input> <SDBM> <RS> <JS> <PJW> <ELF> <BKDR> <DJB> <AP>   (hex)
checksum_vectors.txt: <input> <checksum as the 32-bit returned value>          (hex)

Run from anywhere: python3 tests/data/runtime/make_hash_vectors.py
"""
import os

M32 = 0xFFFFFFFF


def expand(desc):
    kind, _, rest = desc.partition(":")
    if kind == "hex":
        return bytes.fromhex(rest)
    a, b = rest.split(":")
    value, length = int(a), int(b)
    if kind == "fill":
        return bytes([value]) * length
    if kind == "lcg":
        out = bytearray(length)
        x = value
        for i in range(length):
            x = (x * 1103515245 + 12345) & M32
            out[i] = (x >> 16) & 0xFF
        return bytes(out)
    raise ValueError(desc)


def sdbm(data):
    h = 0
    for b in data:
        h = (b + (h << 6) + (h << 16) - h) & M32
    return h & 0x7FFFFFFF


def rs(data):
    a, h = 63689, 0
    for c in data:
        h = (h * a + c) & M32
        a = (a * 378551) & M32
    return h & 0x7FFFFFFF


def js(data):
    h = 1315423911
    for c in data:
        h ^= ((h << 5) + c + (h >> 2)) & M32
        h &= M32
    return h & 0x7FFFFFFF


def pjw(data):
    # 32-bit word: three quarters = 24 bits, one eighth = 4 bits, high bits = top nibble.
    high = (M32 << 28) & M32
    h = 0
    for c in data:
        h = ((h << 4) + c) & M32
        test = h & high
        if test:
            h = (h ^ (test >> 24)) & (~high & M32)
    return h & 0x7FFFFFFF


def elf(data):
    h = 0
    for c in data:
        h = ((h << 4) + c) & M32
        x = h & 0xF0000000
        if x:
            h ^= x >> 24
        h &= ~x & M32
    return h & 0x7FFFFFFF


def bkdr(data):
    h = 0
    for c in data:
        h = (h * 131 + c) & M32
    return h & 0x7FFFFFFF


def djb(data):
    h = 5381
    for c in data:
        h = (h * 33 + c) & M32
    return h & 0x7FFFFFFF


def ap(data):
    h = 0
    for i, c in enumerate(data):
        if i % 2 == 0:
            h ^= ((h << 7) & M32) ^ c ^ (h >> 3)
        else:
            h ^= ~(((h << 11) & M32) ^ c ^ (h >> 5)) & M32
        h &= M32
    return h & 0x7FFFFFFF


def checksum(data):
    # RFC 1071 over little-endian 16-bit words; an odd last byte counts as its own value.
    s = 0
    for i in range(0, len(data) - 1, 2):
        s += data[i] | (data[i + 1] << 8)
    if len(data) % 2:
        s += data[-1]
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & M32


HASH_INPUTS = [
    "hex:",
    "hex:00",
    "hex:01",
    "hex:41",
    "hex:7f",
    "hex:80",
    "hex:ff",
    "hex:" + b"abc".hex(),
    "hex:" + b"hello world".hex(),
    "hex:" + b"192.168.1.100:8000".hex(),
    "hex:" + b"QXSP0123456789ABCDEF".hex(),
    "hex:c0ffee80fe",
    "hex:e4b8ade69687",  # UTF-8 text
    "hex:" + bytes(range(256)).hex(),
    "lcg:7:1000",
    "fill:255:4096",
    "lcg:12345:100003",
]

CHECKSUM_INPUTS = [
    "hex:",
    "hex:01",
    "hex:0100",
    "hex:0001",
    "hex:ff",
    "hex:ffff",
    "hex:fffe0100",
    "hex:4500003c1c4640004006b1e6ac100a63ac100a0c",
    "hex:0102030405",
    "lcg:1:1001",
    # Past 65537 words of 0xFFFF a 32-bit accumulator overflows.
    "fill:255:131074",
    "fill:255:131076",
    "fill:255:200001",
    "lcg:99:262144",
    "lcg:2024:3145729",
    "fill:255:5242880",
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    funcs = [sdbm, rs, js, pjw, elf, bkdr, djb, ap]
    with open(os.path.join(here, "hash_vectors.txt"), "w") as f:
        f.write("# made by make_hash_vectors.py: <input> SDBM RS JS PJW ELF BKDR DJB AP\n")
        for desc in HASH_INPUTS:
            data = expand(desc)
            f.write(desc + " " + " ".join("%08x" % fn(data) for fn in funcs) + "\n")
    with open(os.path.join(here, "checksum_vectors.txt"), "w") as f:
        f.write("# made by make_hash_vectors.py: <input> <returned 32-bit value>\n")
        for desc in CHECKSUM_INPUTS:
            f.write("%s %08x\n" % (desc, checksum(expand(desc))))


if __name__ == "__main__":
    main()
