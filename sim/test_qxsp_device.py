"""Self-tests of the QXSP device simulator: a small client written here from the wire format logs
in over loopback (plain, short form, encrypted), and the faults do what they say."""
import hashlib
import socket
import struct
import time
import unittest

from sim import packet_keys
from sim.qxsp_device import Device, FramingError, parse_packets, short_form

HEAD = struct.Struct("<IiHBBIB3x")


def packet(num, body=b"", flags=0, enc=0):
    return HEAD.pack(0xFFFFEEEE, 20 + len(body), num, flags, 0, 0, enc) + body


def consult(option=0):
    body = bytearray(92)
    for i, v in enumerate([0x0101, 0x0102, 0x0103, 0x0201]):
        struct.pack_into("<H", body, i * 2, v)
    struct.pack_into("<H", body, 24, 4)
    body[89] = option
    return packet(0x0101, bytes(body))


def login(user, digest, enc=0):
    body = bytearray(528)
    body[0:len(user)] = user.encode()
    body[32:64] = digest.encode()
    if enc == 2:
        return packet(0x0102, packet_keys.encrypt_body(bytes(body)), enc=2)
    return packet(0x0102, bytes(body))


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.buf = bytearray()

    def send(self, data):
        self.sock.sendall(data)

    def read(self):
        """The next packet as (number, flags, result, encryption byte, plain packet)."""
        while True:
            for (num, flags, result, trans, enc), pkt in parse_packets(self.buf):
                return num, flags, result, enc, pkt
            data = self.sock.recv(65536)
            if not data:
                raise EOFError
            self.buf += data

    def close(self):
        self.sock.close()


class DeviceTest(unittest.TestCase):
    def start(self, **options):
        self.dev = Device(**options)
        port = self.dev.start()
        self.addCleanup(self.dev.stop)
        c = Client(port)
        self.addCleanup(c.close)
        return c

    def login_flow(self, c, pwd_form="plain", option=0, password="admin123"):
        c.send(consult(option))
        num, _, result, _, pkt = c.read()
        self.assertEqual((num, result, len(pkt)), (0x0101, 0, 112))
        version, = struct.unpack_from("<H", pkt, 46)
        token = pkt[48:108].split(b"\0")[0].decode()
        enc = pkt[110]
        p = short_form(password) if pwd_form == "short" else password
        c.send(login("admin", hashlib.md5((token + ":" + p).encode()).hexdigest(), enc))
        return version, enc, c.read()

    def test_plain_login_and_answer_fields(self):
        c = self.start(version=0x0213, token="t-1", login_id=0xABCDEF01, channels=9)
        version, enc, (num, flags, result, encbyte, pkt) = self.login_flow(c)
        self.assertEqual((version, enc), (0x0213, 0))
        self.assertEqual((num, flags & 3, result, encbyte, len(pkt)), (0x0102, 1, 0, 0, 548))
        self.assertEqual(struct.unpack_from("<I", pkt, 308)[0], 0xABCDEF01)
        self.assertEqual(struct.unpack_from("<I", pkt, 520)[0], 9)
        self.assertIsNotNone(self.dev.wait_event("LOGIN 1 ok"))

    def test_short_form_in_login_mode_1_and_wrong_password(self):
        c = self.start(login_mode=1)
        _, _, (num, _, result, _, _) = self.login_flow(c, "short")
        self.assertEqual(result, 0)
        c2 = Client(self.dev.port)
        self.addCleanup(c2.close)
        _, _, (num, _, result, _, _) = self.login_flow(c2, "plain")
        self.assertEqual((num, result), (0x0102, 4))
        self.dev.command({"cmd": "config", "wrong_password": True})
        self.dev.wait_event("ACK config")
        c3 = Client(self.dev.port)
        self.addCleanup(c3.close)
        _, _, (num, _, result, _, _) = self.login_flow(c3, "short")
        self.assertEqual(result, 4)

    def test_encryption_follows_the_offer(self):
        c = self.start()
        _, enc, (num, _, result, encbyte, pkt) = self.login_flow(c, option=2)
        self.assertEqual((enc, result, encbyte), (2, 0, 2))  # the login answer came encrypted
        self.assertEqual(len(pkt), 548)  # and decrypts to its plain layout
        # Heartbeats are not on the list: echoed plain, flags set to answer.
        c.send(packet(0x0001, b"0" * 32))
        num, flags, _, encbyte, pkt = c.read()
        self.assertEqual((num, flags, encbyte, pkt[20:]), (0x0001, 1, 0, b"0" * 32))

    def test_device_beats_and_faults(self):
        c = self.start()
        self.login_flow(c)
        self.dev.command({"cmd": "config", "beat": 0.05, "garbage": 7})
        # The next packet after garbage: the raw stream holds 7 bytes that are not a packet.
        data = c.sock.recv(65536)
        while len(data) < 7 + 52:
            data += c.sock.recv(65536)
        self.assertNotEqual(data[0:4], b"\xee\xee\xff\xff")
        self.assertEqual(data[7:11], b"\xee\xee\xff\xff")
        self.assertEqual(struct.unpack_from("<H", data, 15)[0], 0x0001)
        self.dev.command({"cmd": "config", "garbage": 0, "beat": 0})
        self.dev.command({"cmd": "silent", "on": True})
        self.dev.wait_event("ACK silent")
        c.send(packet(0x0001, b"0" * 32))
        c.sock.settimeout(0.3)
        leftover = b""
        try:
            while True:
                chunk = c.sock.recv(65536)
                if not chunk:
                    break
                leftover += chunk
        except socket.timeout:
            pass
        self.assertNotIn(b"\xee\xee\xff\xff\x34\x00\x00\x00\x01\x00\x01", leftover)  # no echo while silent
        self.dev.command({"cmd": "close"})
        self.assertIsNotNone(self.dev.wait_event("DISC 1"))

    def test_split_packets_and_slow_reads(self):
        c = self.start(split=3, slow_read=5)
        _, _, (num, _, result, _, pkt) = self.login_flow(c)
        self.assertEqual((num, result, len(pkt)), (0x0102, 0, 548))
        self.dev.command({"cmd": "stats"})
        self.assertIn("logins=1", self.dev.wait_event("STATS"))

    def test_close_at_consult(self):
        c = self.start(close_at="consult")
        c.send(consult())
        with self.assertRaises(EOFError):
            c.read()

    def test_framing_errors(self):
        for bad in [b"\x00" * 20, HEAD.pack(0xFFFFEEEE, 19, 1, 0, 0, 0, 0), HEAD.pack(0xFFFFEEEE, 20, 1, 0, 0, 0, 1)]:
            with self.assertRaises(FramingError):
                list(parse_packets(bytearray(bad)))


if __name__ == "__main__":
    unittest.main()
