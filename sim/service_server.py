"""Service-packet server fixture.

A TCP server on 127.0.0.1 that speaks service packets, written from the packet layout alone:

    frame head (16 bytes):   u32 0xFFFFFFFF, u32 packet size (whole packet), u32 0,
                             u16 scramble flag ((v & 6) == 2: bytes 16.. scrambled), u8 encryption
                             type (0 plain, 2 body encrypted), u8 0
    service head (24 bytes): u16 version 0x0100, u16 packet type (0 request, 1 response),
                             u32 function id, u32 transaction id, u32 sequence number,
                             i32 result, u32 body length
    body

It answers every request by echoing its head as a response (same function id and transaction
key) with a scripted result and body (the request's own body by default), echoes heartbeat
requests (function id 1) byte for byte with the packet type set to 1, sends pushes, can scramble
and encrypt what it sends, and injects faults: silence, late answers, answers split into small
pieces or merged into one write, raw bytes (a bad flag, sizes 0, 39 or above 20 MiB), closing in
the middle of a call, and requests that are never answered.

Run: python3 -m sim.service_server --port 0 [--quiet] [--no-stdin]
It prints "PORT <n>" first. Control: one JSON object per line on standard input; each is
acknowledged with "ACK <cmd>". Events go to standard output, one per line:
    CONN <id> | DISC <id> | REQ <func> <trans> <seq> <bodylen> <conn> | HB <conn> (heartbeat
    request) | HBR <conn> (heartbeat response) | ERR <text>
Commands:
    {"cmd": "reply", "func": F, "result": R, "body": "<hex>" | null, "delay_ms": D,
     "action": "answer" | "never" | "close"}       script the answer to function id F
    {"cmd": "mode", "silent": b, "split": n, "merge": n, "scramble": b, "encrypt": b}
    {"cmd": "push", "func": F, "body": "<hex>", "trans": T, "seq": S, "type": 0}
    {"cmd": "raw", "hex": "<bytes>"}                 bytes as they are, to every connection
    {"cmd": "close"}                                 closes every connection
    {"cmd": "reset"}                                 forgets scripts and modes
    {"cmd": "stats"}                                 prints "STATS conns=<n> reqs=<n> hbs=<n>"
"""
import argparse
import heapq
import itertools
import json
import os
import selectors
import socket
import struct
import sys
import time

from sim import packet_keys

FRAME = struct.Struct("<IIIHBB")
SERVICE = struct.Struct("<HHIIIiI")
HEAD_LEN = 40
FLAG = 0xFFFFFFFF
MAX_PACKET = 20 * 1024 * 1024
HEARTBEAT = 0x000001


class Packet:
    """A decoded packet: frame fields, service fields and the plain body."""

    def __init__(self, func, trans, seq, ptype=0, result=0, body=b"", version=0x0100):
        self.func, self.trans, self.seq = func, trans, seq
        self.ptype, self.result, self.body, self.version = ptype, result, body, version

    def encode(self, scramble=False, encrypt=False):
        body, enc_type = self.body, 0
        if encrypt and len(body) <= 7677:
            body, enc_type = packet_keys.encrypt_body(body), 2
        service = SERVICE.pack(self.version, self.ptype, self.func, self.trans, self.seq, self.result, len(body)) + body
        if scramble:
            service = packet_keys.scramble(service)
        return FRAME.pack(FLAG, 16 + len(service), 0, 2 if scramble else 0, enc_type, 0) + service


class FramingError(Exception):
    pass


def parse_packets(buf):
    """Cuts whole packets off the front of buf (a bytearray, consumed in place); yields
    (Packet, raw bytes as received). Raises FramingError for a stream that cannot be framed."""
    while len(buf) >= 16:
        flag, size, _res, scr, enc, _res2 = FRAME.unpack_from(buf, 0)
        if flag != FLAG:
            raise FramingError("flag %08x" % flag)
        if size < HEAD_LEN or size > MAX_PACKET:
            raise FramingError("size %d" % size)
        if len(buf) < size:
            return
        raw = bytes(buf[:size])
        del buf[:size]
        service = raw[16:]
        if (scr & 6) == 2:
            service = packet_keys.scramble(service)
        version, ptype, func, trans, seq, result, body_len = SERVICE.unpack_from(service, 0)
        if HEAD_LEN + body_len > size:
            raise FramingError("body length %d in packet of %d" % (body_len, size))
        body = service[24:24 + body_len]
        if enc == 2:
            try:
                body = packet_keys.decrypt_body(body)
            except ValueError as e:
                raise FramingError("encrypted body: %s" % e)
        elif enc != 0:
            raise FramingError("encryption type %d" % enc)
        yield Packet(func, trans, seq, ptype, result, body, version), raw


class Conn:
    def __init__(self, sock, cid):
        self.sock, self.id = sock, cid
        self.inbuf = bytearray()
        self.out = bytearray()
        self.held = []  # answers held back for a merged write
        self.split_due = 0.0  # when the next split piece of this connection may go
        self.open = True
        self.want_write = False


class Server:
    def __init__(self, port=0, quiet=False, use_stdin=True, out=sys.stdout):
        self.quiet = quiet
        self.out = out
        self.sel = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(64)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.sel.register(self.listener, selectors.EVENT_READ, "listen")
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
        self.reqs = 0
        self.hbs = 0
        self.reset()

    def reset(self):
        self.scripts = {}
        self.silent = False
        self.split = 0
        self.merge = 0
        self.scramble = False
        self.encrypt = False

    def emit(self, line):
        self.out.write(line + "\n")
        self.out.flush()

    # --- sending -------------------------------------------------------------------------

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
        if conn.open and conn.want_write != bool(conn.out):
            conn.want_write = bool(conn.out)
            self.sel.modify(conn.sock, selectors.EVENT_READ | (selectors.EVENT_WRITE if conn.out else 0), conn)

    def send_packet(self, conn, pkt, raw=None):
        data = raw if raw is not None else pkt.encode(self.scramble, self.encrypt)
        if self.merge > 1:
            conn.held.append(data)
            if len(conn.held) >= self.merge:
                joined = b"".join(conn.held)
                conn.held.clear()
                self.send_now(conn, joined)
            return
        if self.split > 0:
            # Pieces 2 ms apart, queued behind the pieces of earlier packets of this connection.
            due = max(conn.split_due, time.monotonic())
            for off in range(0, len(data), self.split):
                piece = data[off:off + self.split]
                heapq.heappush(self.timers, (due, next(self.tseq), lambda c=conn, p=piece: self.send_now(c, p)))
                due += 0.002
            conn.split_due = due
            return
        self.send_now(conn, data)

    # --- timers --------------------------------------------------------------------------

    def at(self, delay, fn):
        if delay <= 0:
            fn()
            return
        heapq.heappush(self.timers, (time.monotonic() + delay, next(self.tseq), fn))

    def run_timers(self):
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, fn = heapq.heappop(self.timers)
            fn()

    # --- receiving -----------------------------------------------------------------------

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

    def on_packet(self, conn, pkt, raw):
        if pkt.func == HEARTBEAT:
            if pkt.ptype == 0:
                self.hbs += 1
                if not self.quiet:
                    self.emit("HB %d" % conn.id)
                if not self.silent:
                    # The very packet back, only the packet type changed (bytes 18..19). A
                    # scrambled heartbeat keeps its scrambling: the type word is scrambled too.
                    echo = bytearray(raw)
                    scrambled = (struct.unpack_from("<H", raw, 12)[0] & 6) == 2
                    word = 1 ^ (packet_keys.SCRAMBLE_TABLE[2] | packet_keys.SCRAMBLE_TABLE[3] << 8) if scrambled else 1
                    struct.pack_into("<H", echo, 18, word)
                    self.send_packet(conn, None, bytes(echo))
            elif not self.quiet:
                self.emit("HBR %d" % conn.id)
            return
        if pkt.ptype != 0:
            return
        self.reqs += 1
        if not self.quiet:
            self.emit("REQ %d %d %d %d %d" % (pkt.func, pkt.trans, pkt.seq, len(pkt.body), conn.id))
        if self.silent:
            return
        script = self.scripts.get(pkt.func, {})
        action = script.get("action", "answer")
        if action == "never":
            return
        if action == "close":
            self.drop(conn)
            return
        body = pkt.body if script.get("body") is None else bytes.fromhex(script["body"])
        resp = Packet(pkt.func, pkt.trans, pkt.seq, 1, script.get("result", 0), body, pkt.version)
        self.at(script.get("delay_ms", 0) / 1000.0, lambda: self.send_packet(conn, resp))

    def on_readable(self, conn):
        try:
            data = conn.sock.recv(65536)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            self.drop(conn)
            return
        conn.inbuf += data
        try:
            for pkt, raw in parse_packets(conn.inbuf):
                self.on_packet(conn, pkt, raw)
                if not conn.open:
                    return
        except FramingError as e:
            self.emit("ERR framing %s" % e)
            self.drop(conn)

    # --- control -------------------------------------------------------------------------

    def command(self, c):
        cmd = c.get("cmd")
        if cmd == "reply":
            self.scripts[int(c["func"])] = c
        elif cmd == "mode":
            for k in ("silent", "split", "merge", "scramble", "encrypt"):
                if k in c:
                    setattr(self, k, c[k])
        elif cmd == "push":
            pkt = Packet(int(c["func"]), int(c.get("trans", 0)), int(c.get("seq", 0)), int(c.get("type", 0)),
                         int(c.get("result", 0)), bytes.fromhex(c.get("body", "")))
            for conn in list(self.conns.values()):
                self.send_packet(conn, pkt)
        elif cmd == "raw":
            data = bytes.fromhex(c["hex"])
            for conn in list(self.conns.values()):
                self.send_now(conn, data)
        elif cmd == "close":
            for conn in list(self.conns.values()):
                self.drop(conn)
        elif cmd == "reset":
            self.reset()
        elif cmd == "stats":
            self.emit("STATS conns=%d reqs=%d hbs=%d" % (len(self.conns), self.reqs, self.hbs))
        elif cmd == "quit":
            self.running = False
        self.emit("ACK %s" % cmd)

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
                    self.command(json.loads(line))
                except (ValueError, KeyError, TypeError) as e:
                    self.emit("ERR command %s" % e)

    def run(self):
        self.emit("PORT %d" % self.port)
        while self.running:
            timeout = None
            if self.timers:
                timeout = max(0.0, self.timers[0][0] - time.monotonic())
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
                else:
                    conn = key.data
                    if events & selectors.EVENT_WRITE:
                        self.flush(conn)
                    if conn.open and events & selectors.EVENT_READ:
                        self.on_readable(conn)
            self.run_timers()
        for conn in list(self.conns.values()):
            self.drop(conn)
        self.listener.close()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--quiet", action="store_true", help="no REQ/HB event lines (benchmarks)")
    ap.add_argument("--no-stdin", action="store_true", help="run without the control channel")
    args = ap.parse_args(argv)
    Server(args.port, args.quiet, not args.no_stdin).run()


if __name__ == "__main__":
    main()
