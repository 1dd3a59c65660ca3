"""Self-tests of the service-packet fixture: its framing against hand-built bytes, the cipher
against published RC4 vectors, and its answers over a real loopback connection."""
import io
import json
import socket
import struct
import threading
import unittest

from sim import packet_keys
from sim.service_server import FramingError, Packet, Server, parse_packets


def request(func, trans, seq, body=b""):
    return struct.pack("<IIIHBBHHIIIiI", 0xFFFFFFFF, 40 + len(body), 0, 0, 0, 0, 0x0100, 0, func, trans, seq, 0,
                       len(body)) + body


class FramingTest(unittest.TestCase):
    def test_split_and_merged_bytes(self):
        data = request(0x30160, 0x80000001, 7, b"abc") + request(1, 0, 0)
        buf = bytearray()
        got = []
        for b in data:  # one byte at a time
            buf.append(b)
            got += [p for p, _ in parse_packets(buf)]
        self.assertEqual([(p.func, p.trans, p.seq, p.body) for p in got],
                         [(0x30160, 0x80000001, 7, b"abc"), (1, 0, 0, b"")])

    def test_framing_errors(self):
        bad = [b"\x00" * 40, struct.pack("<IIII", 0xFFFFFFFF, 0, 0, 0), struct.pack("<IIII", 0xFFFFFFFF, 39, 0, 0),
               struct.pack("<IIII", 0xFFFFFFFF, 20 * 1024 * 1024 + 1, 0, 0)]
        longer_body = bytearray(request(5, 0, 0, b"xy"))
        struct.pack_into("<I", longer_body, 36, 3)
        bad.append(bytes(longer_body))
        for data in bad:
            with self.assertRaises(FramingError):
                list(parse_packets(bytearray(data)))

    def test_scrambled_and_encrypted_packets_round_trip(self):
        pkt = Packet(0x40001, 0x80000002, 3, 1, 5, bytes(range(100)))
        for scramble in (False, True):
            for encrypt in (False, True):
                raw = pkt.encode(scramble, encrypt)
                self.assertEqual(struct.unpack_from("<H", raw, 12)[0], 2 if scramble else 0)
                self.assertEqual(raw[14], 2 if encrypt else 0)
                (got, _), = list(parse_packets(bytearray(raw)))
                self.assertEqual((got.func, got.trans, got.seq, got.ptype, got.result, got.body),
                                 (pkt.func, pkt.trans, pkt.seq, 1, 5, pkt.body))

    def test_encrypted_body_sizes(self):
        self.assertEqual(len(packet_keys.encrypt_body(b"")), 1)
        self.assertEqual(len(packet_keys.encrypt_body(b"abc")), 5)


class CipherTest(unittest.TestCase):
    def test_rc4_published_vectors(self):
        self.assertEqual(packet_keys.rc4(b"Key", b"Plaintext").hex(), "bbf316e8d940af0ad3")
        self.assertEqual(packet_keys.rc4(b"Wiki", b"pedia").hex(), "1021bf0420")

    def test_scramble_twice_restores(self):
        data = bytes(range(256)) * 3
        self.assertEqual(packet_keys.scramble(packet_keys.scramble(data)), data)


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.out = io.StringIO()
        self.server = Server(0, quiet=True, use_stdin=False, out=self.out)
        self.thread = threading.Thread(target=self.server.run, daemon=True)
        self.thread.start()
        self.sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=5)

    def tearDown(self):
        self.sock.close()
        self.server.running = False
        try:
            socket.create_connection(("127.0.0.1", self.server.port)).close()  # wake the loop
        except OSError:
            pass  # the loop already ended
        self.thread.join(5)

    def read_packet(self):
        buf = bytearray()
        while True:
            for pkt, raw in parse_packets(buf):
                return pkt, raw
            buf += self.sock.recv(65536)

    def test_request_is_answered_with_its_head_and_body(self):
        self.sock.sendall(request(0x30160, 0x80000005, 9, b"hello"))
        pkt, _ = self.read_packet()
        self.assertEqual((pkt.ptype, pkt.func, pkt.trans, pkt.seq, pkt.result, pkt.body),
                         (1, 0x30160, 0x80000005, 9, 0, b"hello"))

    def test_heartbeat_is_echoed_with_type_1(self):
        hb = request(1, 0x1234, 0)
        self.sock.sendall(hb)
        _, raw = self.read_packet()
        self.assertEqual(raw, hb[:18] + b"\x01\x00" + hb[20:])

    def test_scripted_answer(self):
        self.server.command({"cmd": "reply", "func": 0x40005, "result": 7, "body": "0102"})
        self.sock.sendall(request(0x40005, 0x80000001, 1, b"zzz"))
        pkt, _ = self.read_packet()
        self.assertEqual((pkt.result, pkt.body), (7, b"\x01\x02"))


if __name__ == "__main__":
    unittest.main()
