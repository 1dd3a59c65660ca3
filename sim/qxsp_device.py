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
answer received) | MSG <id> <number> (any other request) | ERR <text>.

The scenario interface for Python tests is the Device class: Device(**options), start() in a
thread (returns the port), command(dict), events(), wait_event(prefix), stop().
"""
import argparse
import hashlib
import heapq
import itertools
import json
import os
import selectors
import socket
import struct
import sys
import threading
import time

from sim import packet_keys

HEAD = struct.Struct("<IiHBBIB3x")
HEAD_LEN = 20
FLAG = 0xFFFFEEEE
MAX_PACKET = 0xA00000

HEARTBEAT = 0x0001
VER_CONSULT = 0x0101
LOGIN = 0x0102
LOGOUT = 0x0103
LOGIN_CUSTOM = 0x0105
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
    "quiet": False,
}


class Device:
    """One simulated device: a listener and its connections, run by one selector loop."""

    def __init__(self, port=0, use_stdin=False, out=None, **options):
        self.cfg = dict(DEFAULTS)
        self.configure(options)
        self.out = out
        self.lock = threading.Lock()
        self.cond = threading.Condition(self.lock)
        self.lines = []
        self.sel = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(64)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.sel.register(self.listener, selectors.EVENT_READ, "listen")
        # A pipe wakes the loop for commands from other threads.
        self.wake_r, self.wake_w = os.pipe()
        os.set_blocking(self.wake_r, False)
        self.sel.register(self.wake_r, selectors.EVENT_READ, "wake")
        self.pending = []
        self.use_stdin = use_stdin
        self.stdin_buf = b""
        if use_stdin:
            os.set_blocking(sys.stdin.fileno(), False)
            self.sel.register(sys.stdin.fileno(), selectors.EVENT_READ, "stdin")
        self.conns = {}
        self.ids = itertools.count(1)
        self.timers = []
        self.tseq = itertools.count()
        self.running = True
        self.thread = None
        self.logins = self.hbs = self.hbrs = self.fails = 0
        self.next_beat = 0.0
        self.rand = 0x2545F491
        self.handlers = {
            HEARTBEAT: self.on_heartbeat,
            VER_CONSULT: self.on_consult,
            LOGIN: self.on_login,
            LOGIN_CUSTOM: self.on_login,
            LOGOUT: lambda conn, head, pkt: None,
        }

    def configure(self, options):
        for k, v in options.items():
            if k not in DEFAULTS:
                raise KeyError("unknown option %s" % k)
            if k == "version" and isinstance(v, str):
                v = int(v, 0)
            self.cfg[k] = v

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

    def send_now(self, conn, data):
        if not conn.open:
            return
        conn.out += data
        self.flush(conn)

    def flush(self, conn):
        while conn.out and conn.open:
            try:
                n = conn.sock.send(conn.out)
            except BlockingIOError:
                break
            except OSError:
                self.drop(conn)
                return
            del conn.out[:n]
        self.update_interest(conn)

    def update_interest(self, conn):
        if not conn.open:
            return
        mask = (selectors.EVENT_READ if conn.reading else 0) | (selectors.EVENT_WRITE if conn.out else 0)
        try:
            if mask:
                self.sel.modify(conn.sock, mask, conn) if self.is_registered(conn) else self.sel.register(
                    conn.sock, mask, conn)
            elif self.is_registered(conn):
                self.sel.unregister(conn.sock)
        except (KeyError, ValueError):
            pass

    def is_registered(self, conn):
        try:
            self.sel.get_key(conn.sock)
            return True
        except KeyError:
            return False

    def send_packet(self, conn, data):
        if not conn.open:
            return
        if self.cfg["garbage"] and conn.sent_packets > 0:
            data = self.garbage(int(self.cfg["garbage"])) + data
        conn.sent_packets += 1
        step = int(self.cfg["split"])
        if step > 0:
            due = max(conn.split_due, time.monotonic())
            for off in range(0, len(data), step):
                piece = data[off:off + step]
                heapq.heappush(self.timers, (due, next(self.tseq), lambda c=conn, p=piece: self.send_now(c, p)))
                due += 0.002
            conn.split_due = due
            return
        self.send_now(conn, data)

    # --- timers --------------------------------------------------------------------------

    def at(self, delay, fn):
        heapq.heappush(self.timers, (time.monotonic() + delay, next(self.tseq), fn))

    def run_timers(self):
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, fn = heapq.heappop(self.timers)
            fn()
        beat = float(self.cfg["beat"])
        if beat > 0 and now >= self.next_beat:
            self.next_beat = now + beat
            self.beat_all()

    def beat_all(self):
        for conn in list(self.conns.values()):
            if conn.logged_in and not conn.silent:
                self.send_packet(conn, encode(HEARTBEAT, b"0" * 32, flags=0))

    # --- packets -------------------------------------------------------------------------

    def drop(self, conn):
        if not conn.open:
            return
        conn.open = False
        try:
            self.sel.unregister(conn.sock)
        except (KeyError, ValueError):
            pass
        conn.sock.close()
        self.conns.pop(conn.id, None)
        self.emit("DISC %d" % conn.id)

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

    def on_readable(self, conn):
        limit = int(self.cfg["slow_read"]) or 65536
        try:
            data = conn.sock.recv(limit)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            self.drop(conn)
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
                self.emit("STATS conns=%d logins=%d hbs=%d hbrs=%d fails=%d" %
                          (len(self.conns), self.logins, self.hbs, self.hbrs, self.fails))
            elif cmd == "quit":
                self.running = False
            self.emit("ACK %s" % cmd)
        except (ValueError, KeyError, TypeError) as e:
            self.emit("ERR command %s" % e)

    def on_stdin(self):
        try:
            data = os.read(sys.stdin.fileno(), 65536)
        except BlockingIOError:
            return
        if not data:
            self.running = False
            return
        self.stdin_buf += data
        while b"\n" in self.stdin_buf:
            line, self.stdin_buf = self.stdin_buf.split(b"\n", 1)
            if line.strip():
                try:
                    self.do_command(json.loads(line))
                except ValueError as e:
                    self.emit("ERR command %s" % e)

    def run(self):
        if self.out is not None:
            self.out.write("PORT %d\n" % self.port)
            self.out.flush()
        while self.running:
            timeout = 0.05 if float(self.cfg["beat"]) > 0 else None
            if self.timers:
                t = max(0.0, self.timers[0][0] - time.monotonic())
                timeout = t if timeout is None else min(t, timeout)
            for key, events in self.sel.select(timeout):
                if key.data == "listen":
                    try:
                        sock, _ = self.listener.accept()
                    except BlockingIOError:
                        continue
                    sock.setblocking(False)
                    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    conn = Conn(sock, next(self.ids))
                    self.conns[conn.id] = conn
                    self.sel.register(sock, selectors.EVENT_READ, conn)
                    self.emit("CONN %d" % conn.id)
                elif key.data == "stdin":
                    self.on_stdin()
                elif key.data == "wake":
                    try:
                        os.read(self.wake_r, 4096)
                    except BlockingIOError:
                        pass
                    with self.lock:
                        todo, self.pending = self.pending, []
                    for c in todo:
                        self.do_command(c)
                else:
                    conn = key.data
                    if events & selectors.EVENT_WRITE:
                        self.flush(conn)
                    if conn.open and events & selectors.EVENT_READ:
                        self.on_readable(conn)
            self.run_timers()
        for conn in list(self.conns.values()):
            self.drop(conn)
        self.sel.close()
        self.listener.close()
        os.close(self.wake_r)
        os.close(self.wake_w)

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
    ap.add_argument("--quiet", action="store_true", help="no HB/HBR/MSG event lines (benchmarks)")
    ap.add_argument("--no-stdin", action="store_true", help="run without the control channel")
    a = ap.parse_args(argv)
    enc = a.enc if a.enc == "auto" else int(a.enc)
    dev = Device(a.port, use_stdin=not a.no_stdin, out=sys.stdout, version=int(a.version, 0), token=a.token,
                 login_mode=a.login_mode, enc=enc, user=a.user, password=a.password,
                 password_form=a.password_form, login_id=a.login_id, channels=a.channels, beat=a.beat,
                 wrong_password=a.wrong_password, consult_result=a.consult_result,
                 silent_after_login=a.silent_after_login, close_at=a.close_at, garbage=a.garbage, split=a.split,
                 slow_read=a.slow_read, quiet=a.quiet)
    dev.run()


if __name__ == "__main__":
    main()
