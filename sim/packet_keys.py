"""Packet keys and the packet cipher for the simulators.

Reads the packet key and the scramble table from net/keys/packet_keys.txt (the same file the C++
build turns into a header) and implements, from the wire description alone, RC4 with the full
128-character key, the encrypted body form (Base64 text of the RC4 output plus one NUL) and the
16-byte scrambler.
"""
import base64
import os

KEY_FILE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "net", "keys", "packet_keys.txt")


def load_keys(path=KEY_FILE):
    """Returns (packet_key bytes, scramble table bytes) from the key file."""
    values = {}
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#") or "=" not in line:
                continue
            name, value = line.split("=", 1)
            values[name] = value
    key = values["packet_key"].encode("ascii")
    table = bytes.fromhex(values["scramble_key"])
    if len(key) != 128 or len(table) != 16:
        raise ValueError("packet_key must have 128 characters and scramble_key 16 bytes")
    return key, table


PACKET_KEY, SCRAMBLE_TABLE = load_keys()


def rc4(key, data):
    """RC4 keystream applied to data with a fresh key schedule over all of key."""
    s = list(range(256))
    j = 0
    n = len(key)
    for i in range(256):
        j = (j + s[i] + key[i % n]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray(data)
    i = j = 0
    for k in range(len(out)):
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out[k] ^= s[(s[i] + s[j]) & 0xFF]
    return bytes(out)


def encrypt_body(body, key=PACKET_KEY):
    """The encrypted body: Base64 text of RC4(body) followed by one NUL."""
    return base64.b64encode(rc4(key, body)) + b"\x00"


def decrypt_body(text, key=PACKET_KEY):
    """The plain body of an encrypted body (text up to its NUL); ValueError when malformed."""
    nul = text.find(b"\x00")
    if nul < 0:
        raise ValueError("encrypted body without its NUL")
    return rc4(key, base64.b64decode(text[:nul], validate=True))


def scramble(data, table=SCRAMBLE_TABLE):
    """XOR byte i with table[i % 16]; its own inverse."""
    return bytes(b ^ table[i & 15] for i, b in enumerate(data))
