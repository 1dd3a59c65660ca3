"""Self-tests of the QXSP device simulator's live view: the access-unit cutter against the packet
list ffprobe reported for the committed vector, the open, close and control answers as a small
client written here from the wire format reads them, the streamed frames against the vector
files, pacing, benchmark frames, and the faults on media packets."""
import os
import socket
import struct
import time
import unittest

from sim.qxsp_device import Device, access_units, parse_packets

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIVE = os.path.join(ROOT, "tests", "data", "live")
VIDEO = os.path.join(LIVE, "h264_640x360_25fps.h264")
HEAD = struct.Struct("<IiHBBIB3x")
LOGIN_ID = 0x10203040


def packet(num, body=b"", trans=0):
    return HEAD.pack(0xFFFFEEEE, 20 + len(body), num, 0, 0, trans, 0) + body


def open_request(ch=1, stream=0, login_id=LOGIN_ID, ex=True):
    if ex:
        return packet(0x0221, struct.pack("<IHHII", login_id, ch, stream, 0x77, 0))
    return packet(0x0201, struct.pack("<IHH", login_id, ch, stream))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def ffprobe_packets():
    rows = [line.split(b",") for line in read(os.path.join(LIVE, "h264_640x360_25fps.packets.csv")).split()]
    return [(int(r[0]), r[1].startswith(b"K")) for r in rows]


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.buf = bytearray()

    def send(self, data):
        self.sock.sendall(data)

    def read(self):
        """The next packet as (number, result, transaction, packet)."""
        while True:
            for (num, flags, result, trans, enc), pkt in parse_packets(self.buf):
                return num, result, trans, pkt
            data = self.sock.recv(65536)
            if not data:
                raise EOFError
            self.buf += data

    def read_until_quiet(self, quiet=0.3):
        """Every packet until the device has sent nothing for `quiet` seconds."""
        out = []
        self.sock.settimeout(quiet)
        try:
            while True:
                out.append(self.read())
        except (socket.timeout, EOFError):
            pass
        self.sock.settimeout(5)
        return out

    def close(self):
        self.sock.close()


class LiveTest(unittest.TestCase):
    def start(self, **options):
        self.dev = Device(**options)
        self.addCleanup(self.dev.stop)
        port = self.dev.start()
        c = Client(port)
        self.addCleanup(c.close)
        return c

    def test_access_units_match_the_ffprobe_packet_list(self):
        units = access_units(read(VIDEO))
        self.assertEqual([(len(u), k) for u, k in units], ffprobe_packets())

    def test_stream_carries_the_vectors(self):
        c = self.start(video=VIDEO, audio=os.path.join(LIVE, "tone_8k.alaw"), rate="max")
        c.send(open_request(ch=3, stream=1))
        num, result, _, pkt = c.read()
        self.assertEqual((num, result, len(pkt)), (0x0221, 0, 36))
        self.assertEqual(struct.unpack_from("<I", pkt, 32)[0], 0x5E551000)
        self.assertIsNotNone(self.dev.wait_event("OPEN 1 ex 3 1 0"))
        self.assertIsNotNone(self.dev.wait_event("STREAM_END 1", 10))
        video, audio, stamps = [], bytearray(), []
        for num, _, _, pkt in c.read_until_quiet():
            a, b, ts = struct.unpack_from("<III", pkt, 20)
            stamps.append(ts)
            if num == 0x0E01:
                video.append((pkt[32:], (a >> 4) & 15 == 1))
                self.assertEqual((a & 15, (a >> 8) & 0xFFF, a >> 20, b & 0x7F, (b >> 7) & 0x7FFF),
                                 (1, 640, 360, 25, 800))
                self.assertEqual(ts, 40 * (len(video) - 1))
            else:
                self.assertEqual(num, 0x0E02)
                self.assertEqual((a & 15, (a >> 4) & 0xFFFF), (2, 8000))
                self.assertEqual(ts, len(audio) // 8)  # 8 bytes of A-law per millisecond
                audio += pkt[32:]
        self.assertEqual(stamps, sorted(stamps))
        units = access_units(read(VIDEO))
        self.assertEqual(video, units)
        self.assertEqual(bytes(audio), read(os.path.join(LIVE, "tone_8k.alaw")))

    def test_adpcm_frames_are_whole_blocks(self):
        c = self.start(audio=os.path.join(LIVE, "tone_8k.ima"), rate="max")
        c.send(open_request(ex=False))
        self.assertEqual(c.read()[:2], (0x0201, 0))
        frames = c.read_until_quiet()
        self.assertEqual(len(frames), 32)
        for i, (num, _, _, pkt) in enumerate(frames):
            a, = struct.unpack_from("<I", pkt, 20)
            self.assertEqual((num, a & 15, len(pkt) - 32), (0x0E02, 4, 512))
            self.assertEqual(struct.unpack_from("<I", pkt, 28)[0], round(i * 1010 * 1000 / 8000))

    def test_open_refused_for_another_login_and_close_stops_the_stream(self):
        c = self.start(video=VIDEO, rate="real", repeat=0)
        c.send(open_request(login_id=1))
        self.assertEqual(c.read()[:2], (0x0221, 6))
        self.assertEqual(c.read_until_quiet(0.2), [])
        c.send(open_request())
        self.assertEqual(c.read()[:2], (0x0221, 0))
        c.send(packet(0x0202, struct.pack("<IHH", LOGIN_ID, 1, 0), trans=0x4242))
        got = c.read_until_quiet()
        closes = [p for p in got if p[0] == 0x0202]
        self.assertEqual([(p[1], p[2]) for p in closes], [(0, 0x4242)])
        self.assertTrue(all(p[0] == 0x0E01 for p in got[:got.index(closes[0])]))
        self.assertEqual(got[-1][0], 0x0202)  # nothing after the close answer
        self.assertIsNotNone(self.dev.wait_event("CLOSE 1 16962"))

    def test_real_rate_follows_the_timestamps(self):
        c = self.start(video=VIDEO, rate="real")
        t0 = time.monotonic()
        c.send(open_request())
        c.read()
        for _ in range(11):  # frames 0..10: the last is due 400 ms in
            num, _, _, pkt = c.read()
        self.assertEqual(struct.unpack_from("<I", pkt, 28)[0], 400)
        self.assertGreaterEqual(time.monotonic() - t0, 0.35)

    def test_benchmark_frames_carry_their_send_time(self):
        c = self.start(bench_fps=50, bench_bitrate=400000, bench_gop=5, bench_frames=10, rate="max")
        c.send(open_request())
        c.read()
        frames = c.read_until_quiet()
        self.assertEqual(len(frames), 10)
        now = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        for i, (num, _, _, pkt) in enumerate(frames):
            a, b, ts = struct.unpack_from("<III", pkt, 20)
            self.assertEqual(len(pkt) - 32, 400000 // 8 // 50)
            self.assertEqual(((a >> 4) & 15, b & 0x7F, ts), (1 if i % 5 == 0 else 2, 50, i * 20))
            sent = struct.unpack_from("<Q", pkt, 32)[0]
            self.assertTrue(0 < now - sent < 10 * 10**9)

    def test_control_answers(self):
        c = self.start(quality_levels=2, quality_level=3)
        c.send(packet(0x0225, bytes(236), trans=5))
        num, result, trans, pkt = c.read()
        self.assertEqual((num, result, trans, len(pkt)), (0x0225, 0, 5, 32 + 2 * 28))
        self.assertEqual(struct.unpack_from("<I", pkt, 28)[0], 2)
        self.assertEqual((pkt[32:34], struct.unpack_from("<I", pkt, 48)[0]), (b"Q1", 1))
        c.send(packet(0x0227, struct.pack("<IHHI", LOGIN_ID, 0, 0, 7), trans=6))
        self.assertEqual(c.read()[:3], (0x0227, 0, 6))
        c.send(packet(0x0226, struct.pack("<IHHI", LOGIN_ID, 0, 0, 0), trans=7))
        num, result, trans, pkt = c.read()
        self.assertEqual((trans, struct.unpack_from("<I", pkt, 28)[0]), (7, 7))
        c.send(packet(0x0223, struct.pack("<IIII", LOGIN_ID, 9, 1, 2), trans=8))
        self.assertEqual(c.read()[:3], (0x0223, 0, 8))
        self.assertIsNotNone(self.dev.wait_event("CTRL_STREAM 1 9 1 2"))

    def test_only_i_frames(self):
        c = self.start(video=VIDEO, rate="max", repeat=1)
        c.send(packet(0x0224, struct.pack("<III", LOGIN_ID, 0, 1), trans=3))
        self.assertEqual(c.read()[:3], (0x0224, 0, 3))
        c.send(open_request())
        c.read()
        frames = c.read_until_quiet()
        self.assertEqual(len(frames), 4)
        self.assertTrue(all((struct.unpack_from("<I", p[3], 20)[0] >> 4) & 15 == 1 for p in frames))

    def test_random_splits_and_garbage_on_media(self):
        c = self.start(video=VIDEO, rate="max", split=700, split_random=True, split_gap=0.0)
        c.send(open_request())
        c.read()
        frames = c.read_until_quiet(0.5)
        self.assertEqual([len(p[3]) - 32 for p in frames], [n for n, _ in ffprobe_packets()])
        c2 = Client(self.dev.port)
        self.addCleanup(c2.close)
        self.dev.command({"cmd": "config", "garbage": 5, "split": 0})
        self.dev.wait_event("ACK config")
        c2.send(open_request())
        data = b""
        while len(data) < 36 + 5 + 20:
            data += c2.sock.recv(65536)
        self.assertNotEqual(data[36:40], b"\xee\xee\xff\xff")  # garbage after the open answer
        self.assertEqual(data[41:45], b"\xee\xee\xff\xff")


if __name__ == "__main__":
    unittest.main()
