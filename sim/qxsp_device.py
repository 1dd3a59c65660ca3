"""QXSP device simulator.

A TCP device on 127.0.0.1 that speaks the QXSP session, written from the wire format alone:

    head (20 bytes, little-endian): u32 0xFFFFEEEE (bytes EE EE FF FF), i32 packet length (head
    included), u16 message number, u8 flags (bits 0-1: 0 request, 1 response), u8 result,
    u32 transaction id, u8 encryption type (0 plain, 2 body = Base64(RC4(body)) + NUL), 3 x 0

    0x0001 heartbeat     52 bytes: head + 32 "0"; answered by the same packet with flags 1
    0x0101 consult       request: versions (u16 x n) at 20, n (u16) at 44, option byte at 109;
                         answer (112): version (u16) at 46, token (NUL-terminated, <= 60) at 48,
                         login mode at 108, encryption type for the connection at 110
    0x0102 login         request (548): user name (32) at 20, digest (32 hex + NUL) at 52;
                         digest = md5(token ":" p), p the password or its 8-character short form
    0x0105 custom login  as login, then custom value (u32) at 308, n (u32) at 312, n bytes at 556
    login answer         login id (u32) at 308 (custom: every field 8 bytes further on), seven
                         texts (8, 36, 32, 32, 36, 32, 24 bytes) from 312, capability bytes at 512,
                         channel information at 520 (u32 video channel count), three u32 at 536

With encryption type 2 agreed for a connection, the bodies of the commands on the encrypted list
(0x0102 always, and 0x0103 0x0105 0x0201 0x0202 0x0203 0x0221 0x0222 0x0301 0x0302 0x0311 0x0313
0x0318) travel encrypted in both directions; the key comes from net/keys/packet_keys.txt.

Run: python3 -m sim.qxsp_device --port 0 [options]; it prints "PORT <n>" first. Options set the
device (--version, --token, --login-mode, --enc, --user, --password, --password-form, --login-id,
--channels, --beat) and its faults (--wrong-password, --silent-after-login, --close-at,
--garbage, --split, --slow-read). Control: one JSON object per line on standard input, each
acknowledged with "ACK <cmd>":
    {"cmd": "config", <any option by its long name with "_" for "-">}
    {"cmd": "silent", "on": true|false}   stop (or resume) answering and beating on every connection
    {"cmd": "close"}                      close every connection
    {"cmd": "beat"}                       send a heartbeat request on every logged-in connection
    {"cmd": "raw", "hex": "<bytes>"}      bytes as they are, to every connection
    {"cmd": "stats"}                      prints "STATS conns=<n> logins=<n> hbs=<n> hbrs=<n> fails=<n>"
    {"cmd": "quit"}
Events, one per line: CONN <id> | DISC <id> | CONSULT <id> <option> | LOGIN <id> ok|fail <result>
| LOGIN_CUSTOM <id> <value> <len> | HB <id> (heartbeat request received) | HBR <id> (heartbeat
answer received) | MSG <id> <number> (any other request) | ERR <text> | OPEN <id> short|ex <ch>
<stream> <result> | CLOSE <id> <trans> | FORCE_I <id> <ch> <stream> | CTRL_STREAM <id> <session> <v1>
<v2> | ONLY_I <id> <session> <value> | QCAP <id> | QGET <id> | QSET <id> <level> | STREAM_END <id>
<frames> <bytes> (a stream that ran its passes).

Live view (from the wire format of the live-view messages):

    0x0201 realplay open   request (28): login id (u32) at 20, channel (u16) at 24, stream (u16) at 26;
                           answered with the head alone (result 6 for another login id)
    0x0221 extended open   request (36): as 0x0201, then the client's media connection id (u32) at 28
                           and a u32 0; answer (36): media session id (u32) at 32
    0x0202 realplay close  request (28) as the open; answered with the head, the transaction echoed
    0x0204 force I-frame   request (32): login id, channel (u32), stream (u32)
    0x0223 stream control  request (36): login id, media session id, two u32 values
    0x0224 only I-frames   request (32): login id, media session id, value (1 key frames only)
    0x0225 quality levels  request (256); answer: count (u32) at 28, 28-byte entries from 32
                           (name 16 bytes, value u32, 8 bytes)
    0x0226/0x0227          get/set quality level (32): level (u32) at 28 in the get answer / set request
    0x0E01 video frame     from the device: u32 at 20 (bits 0-3 codec, 4-7 frame type, 8-19 width,
                           20-31 height), u32 at 24 (bits 0-6 frame rate, 7-21 bit rate kbit/s),
                           timestamp (ms) at 28, the access unit from 32
    0x0E02 audio frame     u32 at 20 (bits 0-3 codec, 4-19 sample rate), u16 bit rate (kbit/s) at 24,
                           u16 channels at 26, timestamp (ms) at 28, the data from 32

After a successful open the device streams on that connection: the access units of --video (an
H.264 Annex B file, cut here into access units, one video packet each; size, frame rate and bit
rate from the file's .facts beside it unless given) merged by timestamp with the frames of
--audio (.alaw codec 2, .ulaw 3, .ima 4 in 256-byte blocks, .s16/.pcm 1), at the vector's own
pace (--rate real) or as fast as the socket takes them (--rate max), --repeat times (0: without
end). --bench-fps F --bench-bitrate B makes synthetic video instead: frames of B/8/F bytes whose
first 8 bytes are the CLOCK_MONOTONIC time of sending in nanoseconds (u64, little-endian), a key
frame every --bench-gop frames. --garbage and --split apply to media packets as to all others;
--split-gap sets the pause between pieces and --split-random cuts at random sizes up to --split.

The scenario interface for Python tests is the Device class: Device(**options), start() in a
thread (returns the port), command(dict), events(), wait_event(prefix), stop().
"""
import argparse
import hashlib
import os
import random
import selectors
import struct
import sys
import threading
import time

from sim import packet_keys
from sim.loop import Loop

HEAD = struct.Struct("<IiHBBIB3x")
HEAD_LEN = 20
FLAG = 0xFFFFEEEE
MAX_PACKET = 0xA00000

HEARTBEAT = 0x0001
VER_CONSULT = 0x0101
LOGIN = 0x0102
LOGOUT = 0x0103
LOGIN_CUSTOM = 0x0105
REALPLAY_OPEN = 0x0201
REALPLAY_CLOSE = 0x0202
FORCE_I_FRAME = 0x0204
EX_REALPLAY_OPEN = 0x0221
EX_REALPLAY_CLOSE = 0x0222
CTRL_STREAM = 0x0223
ONLY_I_FRAME = 0x0224
QUALITY_CAP = 0x0225
QUALITY_GET = 0x0226
QUALITY_SET = 0x0227
PE_VIDEO = 0x0E01
PE_AUDIO = 0x0E02
ENCRYPTED = {0x0102, 0x0103, 0x0105, 0x0201, 0x0202, 0x0203, 0x0221, 0x0222, 0x0301, 0x0302, 0x0311, 0x0313, 0x0318}

ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def short_form(pwd):
    """The 8-character short form of a password."""
    d = hashlib.md5(pwd.encode("utf-8")).digest()
    return "".join(ALPHABET[(d[2 * i] + d[2 * i + 1]) % 62] for i in range(8))


def login_digest(token, p):
    return hashlib.md5((token + ":" + p).encode("utf-8")).hexdigest()


class FramingError(Exception):
    pass


# --- media vectors -------------------------------------------------------------------------

def nal_units(data):
    """(start, type, first byte after the NAL head) of each NAL unit of an Annex B stream; start is
    where its start code begins (a 4-byte start code counts its leading zero)."""
    out = []
    i = data.find(b"\0\0\1")
    while i >= 0:
        start = i - 1 if i > 0 and data[i - 1] == 0 else i
        head = i + 3
        if head < len(data):
            out.append((start, data[head] & 0x1F, data[head + 1] if head + 1 < len(data) else 0))
        i = data.find(b"\0\0\1", head)
    return out


def access_units(data):
    """Cuts an H.264 Annex B stream into access units: a unit ends before an access unit delimiter,
    SEI, SPS or PPS (types 6-9, 14-18) or before a slice whose first_mb_in_slice is 0 (the first bit
    of the slice head is 1), once the unit holds a slice. Returns [(bytes, key)], key when the
    unit holds an IDR slice."""
    units = []
    cur_start, has_vcl, key = 0, False, False
    for start, typ, first in nal_units(data):
        vcl = typ in (1, 5)
        begins = (typ in (6, 7, 8, 9) or 14 <= typ <= 18) or (vcl and first & 0x80)
        if has_vcl and begins and start > cur_start:
            units.append((data[cur_start:start], key))
            cur_start, has_vcl, key = start, False, False
        if vcl:
            has_vcl = True
            key = key or typ == 5
    if cur_start < len(data):
        units.append((data[cur_start:], key))
    return units


def read_facts(path):
    """The key=value lines of a .facts file ({} when there is none)."""
    facts = {}
    try:
        with open(path) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#") and "=" in line:
                    k, v = line.split("=", 1)
                    facts[k] = v
    except OSError:
        pass
    return facts


AUDIO_CODECS = {".s16": 1, ".pcm": 1, ".alaw": 2, ".ulaw": 3, ".ima": 4}
AUDIO_KBPS = {1: 128, 2: 64, 3: 64, 4: 32}


class MediaSource:
    """What a stream sends: video access units and audio frames merged by timestamp, one pass of
    pass_ms milliseconds; or, in benchmark mode, synthetic video made as it is sent."""

    def __init__(self, cfg):
        self.items = []  # (ts_ms, kind 0 video / 1 audio, key, payload)
        self.bench_fps = float(cfg["bench_fps"])
        self.width, self.height = 0, 0
        self.fps, self.kbps, self.codec = 25, 0, int(cfg["video_codec"])
        self.pass_ms = 0
        video = cfg["video"]
        if self.bench_fps > 0:
            self.fps = int(round(self.bench_fps))
            self.frame_len = max(8, int(int(cfg["bench_bitrate"]) / 8 / self.bench_fps))
            self.gop = int(cfg["bench_gop"]) or max(1, self.fps)
            self.kbps = int(int(cfg["bench_bitrate"]) / 1000)
            self.width, self.height = 640, 360
            self.filler = bytes(range(256)) * (self.frame_len // 256 + 1)
        elif video:
            facts = read_facts(os.path.splitext(video)[0] + ".facts")
            self.fps = int(cfg["fps"]) or int(facts.get("fps", 25))
            self.kbps = int(cfg["video_kbps"]) or int(facts.get("bit_rate_kbps", 0))
            size = cfg["size"] or "%sx%s" % (facts.get("width", 0), facts.get("height", 0))
            self.width, self.height = (int(x) for x in size.split("x"))
            with open(video, "rb") as f:
                units = access_units(f.read())
            for i, (au, key) in enumerate(units):
                self.items.append((int(round(i * 1000 / self.fps)), 0, key, au))
            self.pass_ms = int(round(len(units) * 1000 / self.fps))
        audio = cfg["audio"]
        if audio:
            codec = int(cfg["audio_codec"]) or AUDIO_CODECS.get(os.path.splitext(audio)[1], 1)
            self.audio_codec = codec
            self.audio_rate = int(cfg["audio_rate"])
            with open(audio, "rb") as f:
                data = f.read()
            per = int(cfg["audio_frame"]) or {4: 512, 1: 640}.get(codec, 320)
            # Samples per byte: G.711 one, 16-bit PCM a half, IMA ADPCM 505 per 256-byte block.
            for off in range(0, len(data), per):
                chunk = data[off:off + per]
                if codec == 4:
                    samples = off // 256 * 505
                elif codec == 1:
                    samples = off // 2
                else:
                    samples = off
                self.items.append((int(round(samples * 1000 / self.audio_rate)), 1, False, chunk))
            if codec == 4:
                total = len(data) // 256 * 505
            elif codec == 1:
                total = len(data) // 2
            else:
                total = len(data)
            self.pass_ms = max(self.pass_ms, int(round(total * 1000 / self.audio_rate)))
        self.items.sort(key=lambda it: (it[0], it[1]))

    def video_fields(self, key):
        w = (self.codec & 0x0F) | ((1 if key else 2) << 4) | (self.width & 0xFFF) << 8 | (self.height & 0xFFF) << 20
        return w, (self.fps & 0x7F) | (self.kbps & 0x7FFF) << 7

    def packet(self, item, offset_ms):
        ts, kind, key, payload = item
        ts = (ts + offset_ms) & 0xFFFFFFFF
        if kind == 0:
            a, b = self.video_fields(key)
            return encode(PE_VIDEO, struct.pack("<III", a, b, ts) + payload, flags=0)
        a = (self.audio_codec & 0x0F) | (self.audio_rate & 0xFFFF) << 4
        body = struct.pack("<IHHI", a, AUDIO_KBPS.get(self.audio_codec, 0), 1, ts) + payload
        return encode(PE_AUDIO, body, flags=0)

    def bench_packet(self, index):
        key = index % self.gop == 0
        a, b = self.video_fields(key)
        ts = int(round(index * 1000 / self.bench_fps)) & 0xFFFFFFFF
        stamp = struct.pack("<Q", time.clock_gettime_ns(time.CLOCK_MONOTONIC))
        payload = stamp + self.filler[:self.frame_len - 8]
        return encode(PE_VIDEO, struct.pack("<III", a, b, ts) + payload, flags=0), key


class Stream:
    """One connection's stream: where it stands in the source and what it has sent."""

    def __init__(self, source, repeat, frames):
        self.source = source
        self.repeat = repeat
        self.limit = frames  # benchmark mode: frames to send, 0 without end
        self.index = 0
        self.passes = 0
        self.t0 = time.monotonic()
        self.frames = 0
        self.bytes = 0
        self.timer = False
        self.done = False

    def next_due(self):
        """Seconds after t0 at which the next item is due."""
        if self.source.bench_fps > 0:
            return self.index / self.source.bench_fps
        return (self.passes * self.source.pass_ms + self.source.items[self.index][0]) / 1000.0

    def take(self, only_i):
        """The next packet to send, or None when the stream has run out."""
        src = self.source
        while not self.done:
            if src.bench_fps > 0:
                if self.limit and self.index >= self.limit:
                    self.done = True
                    return None
                pkt, key = src.bench_packet(self.index)
                self.index += 1
                if only_i and not key:
                    continue
                return pkt
            if not src.items:
                self.done = True
                return None
            item = src.items[self.index]
            pkt = src.packet(item, self.passes * src.pass_ms)
            self.index += 1
            if self.index >= len(src.items):
                self.index = 0
                self.passes += 1
                if self.repeat and self.passes >= self.repeat:
                    self.done = True
            if only_i and item[1] == 0 and not item[2]:
                continue
            return pkt
        return None


def encode(num, body=b"", flags=1, result=0, trans=0, enc=0):
    """A packet; with enc 2 and a number on the encrypted list the body is encrypted."""
    if enc == 2 and num in ENCRYPTED:
        body = packet_keys.encrypt_body(body)
    else:
        enc = 0
    return HEAD.pack(FLAG, HEAD_LEN + len(body), num, flags, result, trans, enc) + body


def parse_packets(buf):
    """Takes whole packets from the front of buf (a bytearray); yields (head fields, plain packet)."""
    while len(buf) >= HEAD_LEN:
        flag, length, num, flags, result, trans, enc = HEAD.unpack_from(buf, 0)
        if flag != FLAG:
            raise FramingError("bad magic %08x" % flag)
        if length < HEAD_LEN or length > MAX_PACKET:
            raise FramingError("bad length %d" % length)
        if len(buf) < length:
            return
        raw = bytes(buf[:length])
        del buf[:length]
        body = raw[HEAD_LEN:]
        if enc == 2 and num != 0x0A01:
            try:
                body = packet_keys.decrypt_body(body)
            except ValueError as e:
                raise FramingError("encrypted body: %s" % e)
        elif enc != 0 and num != 0x0A01:
            raise FramingError("encryption type %d" % enc)
        yield (num, flags, result, trans, enc), raw[:HEAD_LEN] + body


class Conn:
    def __init__(self, sock, cid):
        self.sock, self.id = sock, cid
        self.inbuf = bytearray()
        self.out = bytearray()
        self.open = True
        self.want_write = False
        self.reading = True
        self.enc = 0
        self.token = ""
        self.logged_in = False
        self.silent = False
        self.sent_packets = 0
        self.split_due = 0.0
        self.stream = None


DEFAULTS = {
    "version": 0x0214,
    "token": "",
    "login_mode": 0,
    "enc": "auto",
    "user": "admin",
    "password": "admin123",
    "password_form": "auto",  # auto: short form when the login mode is 1; plain, short or any
    "login_id": 0x10203040,
    "channels": 4,
    "beat": 0.0,  # seconds between the device's own heartbeat requests; 0: none
    "wrong_password": False,
    "consult_result": 0,
    "silent_after_login": False,
    "close_at": "",  # consult, login or after-login
    "garbage": 0,  # bytes put between the packets the device sends
    "split": 0,  # send every packet in pieces of this many bytes, 2 ms apart
    "slow_read": 0,  # read at most this many bytes per read, 5 ms apart
    "split_gap": 2.0,  # milliseconds between the pieces of a split packet
    "split_random": False,  # pieces of random size, 1 to split bytes
    "quiet": False,
    # Live view.
    "video": "",  # H.264 Annex B file streamed after an open
    "audio": "",  # audio file streamed with it (.alaw, .ulaw, .ima, .s16)
    "fps": 0,  # 0: from the video's .facts, else 25
    "size": "",  # "WxH"; empty: from the video's .facts
    "video_kbps": 0,  # bit rate field; 0: from the video's .facts
    "video_codec": 1,  # device video codec (1..4)
    "audio_codec": 0,  # device audio codec; 0: by the file's extension
    "audio_rate": 8000,
    "audio_frame": 0,  # bytes per audio packet; 0: 320 (G.711), 512 (ADPCM), 640 (PCM)
    "rate": "real",  # real: at the vectors' pace; max: as fast as the socket takes
    "repeat": 1,  # passes over the vectors; 0: without end
    "bench_fps": 0.0,  # > 0: synthetic benchmark video at this frame rate
    "bench_bitrate": 2000000,  # bits per second of the synthetic video
    "bench_gop": 0,  # key frame every n frames; 0: once a second
    "bench_frames": 0,  # frames to send in benchmark mode; 0: without end
    "open_result": 0,  # result of every open
    "close_result": 0,  # result of every close
    "ctrl_result": 0,  # result of stream control, I-frame-only and quality requests
    "session_id": 0x5E551000,
    "quality_levels": 3,  # entries of the quality capability answer
    "quality_level": 2,
}


class Device(Loop):
    """One simulated device: a listener and its connections, run by one selector loop."""

    def __init__(self, port=0, use_stdin=False, out=None, **options):
        self.cfg = dict(DEFAULTS)
        self.configure(options)
        self.out = out
        self.lock = threading.Lock()
        self.cond = threading.Condition(self.lock)
        self.lines = []
        Loop.__init__(self, port, use_stdin)
        # A pipe wakes the loop for commands from other threads.
        self.wake_r, self.wake_w = os.pipe()
        os.set_blocking(self.wake_r, False)
        self.sel.register(self.wake_r, selectors.EVENT_READ, "wake")
        self.pending = []
        self.thread = None
        self.logins = self.hbs = self.hbrs = self.fails = 0
        self.media_frames = self.media_bytes = 0
        self.only_i = False
        self.source = None
        self.split_rng = random.Random(7)
        self.next_beat = 0.0
        self.rand = 0x2545F491
        self.handlers = {
            HEARTBEAT: self.on_heartbeat,
            VER_CONSULT: self.on_consult,
            LOGIN: self.on_login,
            LOGIN_CUSTOM: self.on_login,
            LOGOUT: lambda conn, head, pkt: None,
            REALPLAY_OPEN: self.on_open,
            EX_REALPLAY_OPEN: self.on_open,
            REALPLAY_CLOSE: self.on_close,
            EX_REALPLAY_CLOSE: self.on_close,
            FORCE_I_FRAME: self.on_force_i,
            CTRL_STREAM: self.on_ctrl_stream,
            ONLY_I_FRAME: self.on_only_i,
            QUALITY_CAP: self.on_quality_cap,
            QUALITY_GET: self.on_quality_get,
            QUALITY_SET: self.on_quality_set,
        }

    def configure(self, options):
        for k, v in options.items():
            if k not in DEFAULTS:
                raise KeyError("unknown option %s" % k)
            if k == "version" and isinstance(v, str):
                v = int(v, 0)
            self.cfg[k] = v
        if any(k in ("video", "audio", "fps", "size", "video_kbps", "video_codec", "audio_codec", "audio_rate",
                     "audio_frame", "bench_fps", "bench_bitrate", "bench_gop") for k in options):
            self.source = None  # made again, from the new settings, by the next open

    # --- output --------------------------------------------------------------------------

    def emit(self, line):
        with self.cond:
            self.lines.append(line)
            self.cond.notify_all()
        if self.out is not None:
            self.out.write(line + "\n")
            self.out.flush()

    def events(self):
        with self.lock:
            return list(self.lines)

    def wait_event(self, prefix, timeout=5.0, count=1):
        """Waits until count event lines start with prefix; returns the last of them or None."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                hits = [line for line in self.lines if line.startswith(prefix)]
                if len(hits) >= count:
                    return hits[count - 1]
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.cond.wait(left)

    # --- sending -------------------------------------------------------------------------

    def garbage(self, n):
        out = bytearray()
        for _ in range(n):
            self.rand = (self.rand * 1103515245 + 12345) & 0x7FFFFFFF
            out.append((self.rand >> 16) & 0xFF)
        if out and out[0] == 0xEE:
            out[0] = 0x00  # never a magic by accident
        return bytes(out)

    def wire(self, conn, data):
        """The bytes that carry a packet: with garbage in front of all but a connection's first."""
        if self.cfg["garbage"] and conn.sent_packets > 0:
            data = self.garbage(int(self.cfg["garbage"])) + data
        conn.sent_packets += 1
        return data

    def send_packet(self, conn, data):
        if not conn.open:
            return
        data = self.wire(conn, data)
        step = int(self.cfg["split"])
        if step > 0:
            due = max(conn.split_due, time.monotonic())
            gap = float(self.cfg["split_gap"]) / 1000.0
            off = 0
            while off < len(data):
                n = self.split_rng.randint(1, step) if self.cfg["split_random"] else step
                piece = data[off:off + n]
                off += n
                self.send_later(due, conn, piece)
                due += gap
            conn.split_due = due
            return
        self.send_now(conn, data)

    # --- timers --------------------------------------------------------------------------

    def run_timers(self):
        now = Loop.run_timers(self)
        beat = float(self.cfg["beat"])
        if beat > 0 and now >= self.next_beat:
            self.next_beat = now + beat
            self.beat_all()

    def beat_all(self):
        for conn in list(self.conns.values()):
            if conn.logged_in and not conn.silent:
                self.send_packet(conn, encode(HEARTBEAT, b"0" * 32, flags=0))

    # --- packets -------------------------------------------------------------------------

    def on_heartbeat(self, conn, head, pkt):
        num, flags, result, trans, enc = head
        if flags & 3 == 0:
            self.hbs += 1
            if not self.cfg["quiet"]:
                self.emit("HB %d" % conn.id)
            echo = bytearray(pkt)
            echo[10] = (echo[10] & ~3) | 1
            self.send_packet(conn, bytes(echo))
        else:
            self.hbrs += 1
            if not self.cfg["quiet"]:
                self.emit("HBR %d" % conn.id)

    def on_consult(self, conn, head, pkt):
        option = pkt[109] if len(pkt) >= 112 else 0
        self.emit("CONSULT %d %d" % (conn.id, option))
        if self.cfg["close_at"] == "consult":
            self.drop(conn)
            return
        enc = self.cfg["enc"]
        if enc == "auto":
            enc = option if option in (0, 2) else 0
        conn.enc = int(enc)
        conn.token = self.cfg["token"] or ("tok%08x" % (self.rand & 0xFFFFFFFF))
        self.rand = (self.rand * 1103515245 + 12345) & 0x7FFFFFFF
        body = bytearray(92)
        struct.pack_into("<H", body, 46 - HEAD_LEN, int(self.cfg["version"]))
        tok = conn.token.encode("ascii")[:59]
        body[48 - HEAD_LEN:48 - HEAD_LEN + len(tok)] = tok
        body[108 - HEAD_LEN] = int(self.cfg["login_mode"]) & 0xFF
        body[110 - HEAD_LEN] = conn.enc
        # The consult answer itself is not on the encrypted list: it goes plain.
        self.send_packet(conn, encode(VER_CONSULT, bytes(body), result=int(self.cfg["consult_result"])))

    def expected_digests(self, token):
        pwd = self.cfg["password"]
        form = self.cfg["password_form"]
        if form == "auto":
            form = "short" if int(self.cfg["login_mode"]) == 1 else "plain"
        forms = {"plain": [pwd], "short": [short_form(pwd)], "any": [pwd, short_form(pwd)]}[form]
        return {login_digest(token, p) for p in forms}

    def on_login(self, conn, head, pkt):
        num = head[0]
        custom = num == LOGIN_CUSTOM
        if len(pkt) < (556 if custom else 548):
            self.emit("ERR short login %d" % len(pkt))
            self.drop(conn)
            return
        user = pkt[20:52].split(b"\0", 1)[0].decode("utf-8", "replace")
        digest = pkt[52:85].split(b"\0", 1)[0].decode("ascii", "replace")
        if custom:
            value, n = struct.unpack_from("<II", pkt, 308)
            self.emit("LOGIN_CUSTOM %d %d %d" % (conn.id, value, n))
        if self.cfg["close_at"] == "login":
            self.drop(conn)
            return
        if user != self.cfg["user"]:
            result = 3
        elif self.cfg["wrong_password"] or digest not in self.expected_digests(conn.token):
            result = 4
        else:
            result = 0
        shift = 8 if custom else 0
        body = bytearray(528 + shift)
        if result == 0:
            base = shift - HEAD_LEN
            struct.pack_into("<I", body, base + 308, int(self.cfg["login_id"]))
            texts = [(312, 8, b"QXSPSIM1"), (320, 36, b"%d" % int(self.cfg["version"])), (356, 32, b"SIM-DEVICE"),
                     (388, 32, b"korven"), (420, 36, b"1.0.0"), (456, 32, b"2024"), (488, 24, b"sim")]
            for off, size, text in texts:
                body[base + off:base + off + min(size, len(text))] = text[:size]
            body[base + 512:base + 520] = bytes([1, 1, 0, 1, 0, 0, 0, 0])
            struct.pack_into("<I", body, base + 520, int(self.cfg["channels"]))
        self.emit("LOGIN %d %s %d" % (conn.id, "ok" if result == 0 else "fail", result))
        if result == 0:
            self.logins += 1
        else:
            self.fails += 1
        self.send_packet(conn, encode(num, bytes(body), result=result, enc=conn.enc))
        if result == 0:
            conn.logged_in = True
            if self.cfg["silent_after_login"]:
                conn.silent = True
            if self.cfg["close_at"] == "after-login":
                self.at(0.05, lambda: self.drop(conn))

    # --- live view -----------------------------------------------------------------------

    def media_source(self):
        if self.source is None:
            self.source = MediaSource(self.cfg)
        return self.source

    def on_open(self, conn, head, pkt):
        num, flags, result, trans, enc = head
        ex = num == EX_REALPLAY_OPEN
        if len(pkt) < (36 if ex else 28):
            self.emit("ERR short open %d" % len(pkt))
            return
        login_id, ch, stream = struct.unpack_from("<IHH", pkt, 20)
        result = int(self.cfg["open_result"])
        if result == 0 and login_id != int(self.cfg["login_id"]):
            result = 6  # not logged in
        self.emit("OPEN %d %s %d %d %d" % (conn.id, "ex" if ex else "short", ch, stream, result))
        body = b""
        if ex:
            body = bytearray(16)
            struct.pack_into("<I", body, 12, int(self.cfg["session_id"]))
        self.send_packet(conn, encode(num, bytes(body), result=result, trans=trans, enc=conn.enc))
        if result != 0:
            return
        try:
            source = self.media_source()
        except (OSError, ValueError) as e:
            self.emit("ERR media %s" % e)
            return
        conn.stream = Stream(source, int(self.cfg["repeat"]), int(self.cfg["bench_frames"]))
        self.pump(conn)

    def on_close(self, conn, head, pkt):
        num, flags, result, trans, enc = head
        self.emit("CLOSE %d %d" % (conn.id, trans))
        self.end_stream(conn)
        self.send_packet(conn, encode(num, result=int(self.cfg["close_result"]), trans=trans, enc=conn.enc))

    def on_force_i(self, conn, head, pkt):
        if len(pkt) >= 32:
            _, ch, stream = struct.unpack_from("<III", pkt, 20)
            self.emit("FORCE_I %d %d %d" % (conn.id, ch, stream))
        self.send_packet(conn, encode(head[0], trans=head[3], enc=conn.enc))

    def answer_ctrl(self, conn, head, body=b""):
        self.send_packet(conn, encode(head[0], body, result=int(self.cfg["ctrl_result"]), trans=head[3], enc=conn.enc))

    def on_ctrl_stream(self, conn, head, pkt):
        if len(pkt) >= 36:
            _, session, v1, v2 = struct.unpack_from("<IIII", pkt, 20)
            self.emit("CTRL_STREAM %d %d %d %d" % (conn.id, session, v1, v2))
        self.answer_ctrl(conn, head)

    def on_only_i(self, conn, head, pkt):
        if len(pkt) >= 32:
            _, session, value = struct.unpack_from("<III", pkt, 20)
            self.emit("ONLY_I %d %d %d" % (conn.id, session, value))
            if int(self.cfg["ctrl_result"]) == 0:
                self.only_i = value == 1
        self.answer_ctrl(conn, head)

    def on_quality_cap(self, conn, head, pkt):
        self.emit("QCAP %d" % conn.id)
        n = int(self.cfg["quality_levels"])
        body = bytearray(12 + 28 * n)
        struct.pack_into("<I", body, 8, n)
        for i in range(n):
            name = ("Q%d" % (i + 1)).encode()
            off = 12 + 28 * i
            body[off:off + len(name)] = name
            struct.pack_into("<I", body, off + 16, i + 1)
            body[off + 20:off + 28] = bytes([0xA0 + i] * 8)
        self.answer_ctrl(conn, head, bytes(body))

    def on_quality_get(self, conn, head, pkt):
        self.emit("QGET %d" % conn.id)
        body = bytearray(12)
        struct.pack_into("<I", body, 8, int(self.cfg["quality_level"]))
        self.answer_ctrl(conn, head, bytes(body))

    def on_quality_set(self, conn, head, pkt):
        level = struct.unpack_from("<I", pkt, 28)[0] if len(pkt) >= 32 else 0
        self.emit("QSET %d %d" % (conn.id, level))
        if int(self.cfg["ctrl_result"]) == 0:
            self.cfg["quality_level"] = level
        self.answer_ctrl(conn, head)

    def end_stream(self, conn):
        s = conn.stream
        if s is None:
            return
        conn.stream = None
        self.emit("STREAM_END %d %d %d" % (conn.id, s.frames, s.bytes))

    def pump(self, conn):
        """Sends what the connection's stream has due: in real mode what its timestamps say is due
        (and a timer for the next), in max mode as much as the socket takes now."""
        s = conn.stream
        if s is None or not conn.open or conn.silent:
            return
        s.timer = False
        max_rate = self.cfg["rate"] == "max"
        split = int(self.cfg["split"]) > 0
        now = time.monotonic()
        if split and conn.split_due > now + 0.05:
            # Pieces already wait in the timers: come back when they have gone out.
            s.timer = True
            self.at(conn.split_due - now, lambda c=conn, st=s: c.stream is st and self.pump(c))
            return
        batch = []
        size = 0
        while not s.done:
            if not max_rate:
                due = s.t0 + s.next_due()
                if due > now:
                    s.timer = True
                    self.at(due - now, lambda c=conn, st=s: c.stream is st and self.pump(c))
                    break
            elif size >= 262144 or len(conn.out) > 0 or (split and batch):
                break
            pkt = s.take(self.only_i)
            if pkt is None:
                break
            s.frames += 1
            s.bytes += len(pkt)
            self.media_frames += 1
            self.media_bytes += len(pkt)
            if split:
                self.send_packet(conn, pkt)
                batch.append(b"")
            else:
                data = self.wire(conn, pkt)
                batch.append(data)
                size += len(data)
        if batch and not split:
            self.send_now(conn, b"".join(batch))
        if s.done and conn.stream is s:
            self.end_stream(conn)
        elif max_rate and not s.timer and conn.open and conn.stream is s and not conn.out:
            # The socket took everything: go on after the loop has looked at the other sockets.
            s.timer = True
            self.at(0, lambda c=conn, st=s: c.stream is st and self.pump(c))

    def on_readable(self, conn):
        limit = int(self.cfg["slow_read"]) or 65536
        data = self.receive(conn, limit)
        if not data:
            return
        if self.cfg["slow_read"]:
            conn.reading = False
            self.update_interest(conn)

            def resume(c=conn):
                c.reading = True
                self.update_interest(c)

            self.at(0.005, resume)
        conn.inbuf += data
        try:
            for head, pkt in parse_packets(conn.inbuf):
                if conn.silent:
                    continue
                handler = self.handlers.get(head[0])
                if handler:
                    handler(conn, head, pkt)
                elif not self.cfg["quiet"]:
                    self.emit("MSG %d %d" % (conn.id, head[0]))
                if not conn.open:
                    return
        except FramingError as e:
            self.emit("ERR framing %s" % e)
            self.drop(conn)

    # --- control -------------------------------------------------------------------------

    def command(self, c):
        """Runs a command: at once on the loop's thread, otherwise handed to the loop."""
        if self.thread is not None and threading.current_thread() is not self.thread:
            with self.lock:
                self.pending.append(c)
            os.write(self.wake_w, b"x")
            return
        self.do_command(c)

    def do_command(self, c):
        cmd = c.get("cmd")
        try:
            if cmd == "config":
                self.configure({k: v for k, v in c.items() if k != "cmd"})
            elif cmd == "silent":
                for conn in self.conns.values():
                    conn.silent = bool(c.get("on", True))
                    if not conn.silent and conn.stream is not None and not conn.stream.timer:
                        self.pump(conn)
            elif cmd == "close":
                for conn in list(self.conns.values()):
                    self.drop(conn)
            elif cmd == "beat":
                self.beat_all()
            elif cmd == "raw":
                data = bytes.fromhex(c["hex"])
                for conn in list(self.conns.values()):
                    self.send_now(conn, data)
            elif cmd == "stats":
                self.emit("STATS conns=%d logins=%d hbs=%d hbrs=%d fails=%d media_frames=%d media_bytes=%d" %
                          (len(self.conns), self.logins, self.hbs, self.hbrs, self.fails, self.media_frames,
                           self.media_bytes))
            elif cmd == "quit":
                self.running = False
            self.emit("ACK %s" % cmd)
        except (ValueError, KeyError, TypeError) as e:
            self.emit("ERR command %s" % e)

    def control(self, c):
        self.do_command(c)

    def new_conn(self, sock, cid):
        return Conn(sock, cid)

    def select_timeout(self):
        return 0.05 if float(self.cfg["beat"]) > 0 else None

    def on_key(self, key, events):
        if key.data != "wake":
            return
        try:
            os.read(self.wake_r, 4096)
        except BlockingIOError:
            pass
        with self.lock:
            todo, self.pending = self.pending, []
        for c in todo:
            self.do_command(c)

    def on_writable(self, conn):
        if conn.stream is not None and not conn.out and not conn.stream.timer:
            self.pump(conn)

    def close_extra(self):
        os.close(self.wake_r)
        os.close(self.wake_w)

    def run(self):
        if self.out is not None:
            self.out.write("PORT %d\n" % self.port)
            self.out.flush()
        Loop.run(self)

    # --- scenario interface (Python tests) -----------------------------------------------

    def start(self):
        """Runs the device on a thread of its own; returns its port."""
        self.thread = threading.Thread(target=self.run, name="qxsp-device", daemon=True)
        self.thread.start()
        return self.port

    def stop(self):
        self.command({"cmd": "quit"})
        if self.thread is not None:
            self.thread.join(5)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--version", default="0x0214", help="protocol version the device answers (0x0101..0x0214)")
    ap.add_argument("--token", default="", help="token of the consult answer (random when empty)")
    ap.add_argument("--login-mode", type=int, default=0)
    ap.add_argument("--enc", default="auto", choices=["auto", "0", "2"],
                    help="encryption type agreed (auto: what the client offers)")
    ap.add_argument("--user", default="admin")
    ap.add_argument("--password", default="admin123")
    ap.add_argument("--password-form", default="auto", choices=["auto", "plain", "short", "any"])
    ap.add_argument("--login-id", type=lambda s: int(s, 0), default=0x10203040)
    ap.add_argument("--channels", type=int, default=4)
    ap.add_argument("--beat", type=float, default=0.0, help="seconds between the device's heartbeat requests")
    ap.add_argument("--wrong-password", action="store_true", help="refuse every login with result 4")
    ap.add_argument("--consult-result", type=int, default=0)
    ap.add_argument("--silent-after-login", action="store_true")
    ap.add_argument("--close-at", default="", choices=["", "consult", "login", "after-login"])
    ap.add_argument("--garbage", type=int, default=0, help="bytes of garbage between sent packets")
    ap.add_argument("--split", type=int, default=0, help="send packets in pieces of this many bytes")
    ap.add_argument("--slow-read", type=int, default=0, help="read at most this many bytes at a time")
    ap.add_argument("--split-gap", type=float, default=2.0, help="milliseconds between the pieces of a split packet")
    ap.add_argument("--split-random", action="store_true", help="cut packets at random sizes up to --split bytes")
    ap.add_argument("--video", default="", help="H.264 Annex B file streamed after a realplay open")
    ap.add_argument("--audio", default="", help="audio file streamed with it (.alaw, .ulaw, .ima, .s16)")
    ap.add_argument("--fps", type=int, default=0, help="video frame rate (default: the video's .facts, else 25)")
    ap.add_argument("--size", default="", help="video WxH (default: the video's .facts)")
    ap.add_argument("--video-kbps", type=int, default=0, help="video bit rate field (default: the .facts)")
    ap.add_argument("--video-codec", type=int, default=1, help="device video codec in the packets (1..4)")
    ap.add_argument("--audio-codec", type=int, default=0, help="device audio codec (default: by extension)")
    ap.add_argument("--audio-rate", type=int, default=8000)
    ap.add_argument("--audio-frame", type=int, default=0, help="bytes per audio packet")
    ap.add_argument("--rate", default="real", choices=["real", "max"], help="stream at the vector's pace or flat out")
    ap.add_argument("--repeat", type=int, default=1, help="passes over the vectors (0: without end)")
    ap.add_argument("--bench-fps", type=float, default=0.0, help="synthetic timestamped video at this frame rate")
    ap.add_argument("--bench-bitrate", type=int, default=2000000, help="bits per second of the synthetic video")
    ap.add_argument("--bench-gop", type=int, default=0, help="key frame every n synthetic frames (0: each second)")
    ap.add_argument("--bench-frames", type=int, default=0, help="synthetic frames to send (0: without end)")
    ap.add_argument("--open-result", type=int, default=0)
    ap.add_argument("--close-result", type=int, default=0)
    ap.add_argument("--ctrl-result", type=int, default=0)
    ap.add_argument("--session-id", type=lambda s: int(s, 0), default=0x5E551000)
    ap.add_argument("--quality-levels", type=int, default=3)
    ap.add_argument("--quiet", action="store_true", help="no HB/HBR/MSG event lines (benchmarks)")
    ap.add_argument("--no-stdin", action="store_true", help="run without the control channel")
    a = ap.parse_args(argv)
    enc = a.enc if a.enc == "auto" else int(a.enc)
    dev = Device(a.port, use_stdin=not a.no_stdin, out=sys.stdout, version=int(a.version, 0), token=a.token,
                 login_mode=a.login_mode, enc=enc, user=a.user, password=a.password,
                 password_form=a.password_form, login_id=a.login_id, channels=a.channels, beat=a.beat,
                 wrong_password=a.wrong_password, consult_result=a.consult_result,
                 silent_after_login=a.silent_after_login, close_at=a.close_at, garbage=a.garbage, split=a.split,
                 slow_read=a.slow_read, quiet=a.quiet, split_gap=a.split_gap, split_random=a.split_random,
                 video=a.video, audio=a.audio, fps=a.fps, size=a.size, video_kbps=a.video_kbps,
                 video_codec=a.video_codec, audio_codec=a.audio_codec, audio_rate=a.audio_rate,
                 audio_frame=a.audio_frame, rate=a.rate, repeat=a.repeat, bench_fps=a.bench_fps,
                 bench_bitrate=a.bench_bitrate, bench_gop=a.bench_gop, bench_frames=a.bench_frames,
                 open_result=a.open_result, close_result=a.close_result, ctrl_result=a.ctrl_result,
                 session_id=a.session_id, quality_levels=a.quality_levels)
    dev.run()


if __name__ == "__main__":
    main()
