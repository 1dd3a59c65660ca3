#!/usr/bin/env python3
"""Prints the QXSP login digest vectors used by tests/protocols/test_qxsp_packet.cpp.

Computed with hashlib alone, from the rules: the short form of a password is 8 characters, the
i-th from (d[2i] + d[2i+1]) mod 62 over the MD5 digest d of the password ("0"-"9", "A"-"Z",
"a"-"z"); the login digest is the lower-case hexadecimal MD5 of token ":" p, where p is the
password or its short form.
"""
import hashlib

ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def short_form(pwd):
    d = hashlib.md5(pwd.encode()).digest()
    return "".join(ALPHABET[(d[2 * i] + d[2 * i + 1]) % 62] for i in range(8))


def digest(token, p):
    return hashlib.md5((token + ":" + p).encode()).hexdigest()


if __name__ == "__main__":
    for pwd in ["", "admin", "admin123", "pässwörd", "x" * 63]:
        print(f"short_form({pwd!r}) = {short_form(pwd)}")
    for token, pwd in [("5f3c9a1e-token", "admin123"), ("", ""), ("t" * 60, "p@ss,word")]:
        print(f"plain {token!r} {pwd!r} = {digest(token, pwd)}")
        print(f"short {token!r} {pwd!r} = {digest(token, short_form(pwd))}")
    print(f"empty-password '5f3c9a1e-token' = {digest('5f3c9a1e-token', '')}")
