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
import struct
import sys
import time

from sim import packet_keys
from sim.loop import Loop

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


class Server(Loop):
    def __init__(self, port=0, quiet=False, use_stdin=True, out=sys.stdout):
        self.quiet = quiet
        self.out = out
        Loop.__init__(self, port, use_stdin)
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
                self.send_later(due, conn, piece)
                due += 0.002
            conn.split_due = due
            return
        self.send_now(conn, data)

    # --- timers --------------------------------------------------------------------------

    def at(self, delay, fn):
        if delay <= 0:
            fn()
            return
        Loop.at(self, delay, fn)

    # --- receiving -----------------------------------------------------------------------

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
        data = self.receive(conn)
        if not data:
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

    def control(self, c):
        self.command(c)

    def new_conn(self, sock, cid):
        return Conn(sock, cid)

    def run(self):
        self.emit("PORT %d" % self.port)
        Loop.run(self)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--quiet", action="store_true", help="no REQ/HB event lines (benchmarks)")
    ap.add_argument("--no-stdin", action="store_true", help="run without the control channel")
    args = ap.parse_args(argv)
    Server(args.port, args.quiet, not args.no_stdin).run()


if __name__ == "__main__":
    main()
