"""TCP device fixture: a device reached by a plain TCP connection.

A TCP server on 127.0.0.1 (port 0 by default) that stands in for a device at the transport level:
it knows nothing of device protocols and only moves bytes, so tests of the direct transport can
script what the device does with a connection.

Modes (for every connection accepted while the mode is set):
    echo       sends back every byte it receives
    stream     sends the scripted bytes (--hex) in pieces of the sizes given (--chunks, cycled),
               --delay-ms apart; then keeps the connection open, or closes it with --close-when-done
    flood      sends a byte pattern as fast as the peer takes it; --flood-bytes N stops after N
               bytes and closes (0: until the peer goes)
    silent     accepts and never reads or answers
    reset      accepts and resets the connection at once (RST)
    blackhole  never accepts, and keeps its accept queue full, so a connect to it never completes
Options that hold in echo and silent modes: --close-after N closes a connection once it has
received N bytes, --reset-after N resets it instead.

Run: python3 -m sim.tcp_device --port 0 --mode echo [--quiet] [--no-stdin]
It prints "PORT <n>" first. Events go to standard output, one per line:
    CONN <id> | DISC <id> | RECV <id> <n> (bytes received so far) | SENT <id> <n> (so far)
Control: one JSON object per line on standard input, each acknowledged with "ACK <cmd>":
    {"cmd": "mode", "mode": "...", "hex": "...", "chunks": [..], "delay_ms": D,
     "close_when_done": b, "close_after": N, "reset_after": N, "flood_bytes": N}
    {"cmd": "send", "hex": "...", "chunks": [..]}   bytes to every open connection
    {"cmd": "close"}                                 closes every connection
    {"cmd": "reset"}                                 resets every connection
    {"cmd": "stats"}                                 prints "STATS conns=<n> recv=<n> sent=<n>"
The server ends when its standard input ends (unless --no-stdin).

Standard library only.
"""
import argparse
import json
import os
import selectors
import socket
import struct
import sys
import time

FLOOD_PIECE = 256 * 1024
RECV_PIECE = 65536


class Behaviour:
    """What the device does with a new connection."""

    def __init__(self, mode="echo", data=b"", chunks=None, delay_ms=0, close_when_done=False,
                 close_after=-1, reset_after=-1, flood_bytes=0):
        self.mode = mode
        self.data = data
        self.chunks = [c for c in (chunks or []) if c > 0]
        self.delay_ms = delay_ms
        self.close_when_done = close_when_done
        self.close_after = close_after
        self.reset_after = reset_after
        self.flood_bytes = flood_bytes

    def pieces(self, data=None):
        """The scripted bytes cut into the scripted piece sizes."""
        data = self.data if data is None else data
        sizes = self.chunks or [len(data) or 1]
        out, pos, i = [], 0, 0
        while pos < len(data):
            n = sizes[i % len(sizes)]
            out.append(data[pos:pos + n])
            pos += n
            i += 1
        return out


class Conn:
    def __init__(self, cid, sock, behaviour):
        self.cid, self.sock, self.b = cid, sock, behaviour
        self.recv = 0
        self.sent = 0
        self.out = bytearray()   # bytes waiting to go
        self.pending = []        # scripted pieces not yet due
        self.next_due = 0.0
        self.close_after_out = False
        self.flood_left = None


def _reset(sock):
    """Closes with RST instead of FIN."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


class TcpDevice:
    """The fixture as an object: TcpDevice(...).start() binds and returns the port; run() serves."""

    def __init__(self, port=0, behaviour=None, quiet=False, use_stdin=True, out=sys.stdout):
        self.behaviour = behaviour or Behaviour()
        self.quiet, self.use_stdin, self.outf = quiet, use_stdin, out
        self.sel = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.port = self.listener.getsockname()[1]
        self.conns = {}
        self.next_id = 1
        self.total_conns = 0
        self.fillers = []
        self.running = True
        self._listen()

    # --- output ---------------------------------------------------------------------------------

    def emit(self, line, force=False):
        if self.quiet and not force:
            return
        self.outf.write(line + "\n")
        self.outf.flush()

    # --- listening ------------------------------------------------------------------------------

    def _listen(self):
        if self.behaviour.mode == "blackhole":
            # Backlog 0 and two connections that are never accepted fill the accept queue;
            # the kernel then drops every further SYN, so a connect stays pending.
            self.listener.listen(0)
            for _ in range(2):
                c = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                c.setblocking(False)
                try:
                    c.connect(("127.0.0.1", self.port))
                except BlockingIOError:
                    pass
                self.fillers.append(c)
            time.sleep(0.05)
        else:
            self.listener.listen(512)
            self.listener.setblocking(False)
            self.sel.register(self.listener, selectors.EVENT_READ, ("listen", None))

    def _accept(self):
        try:
            sock, _ = self.listener.accept()
        except (BlockingIOError, InterruptedError):
            return
        sock.setblocking(False)
        cid = self.next_id
        self.next_id += 1
        self.total_conns += 1
        b = self.behaviour
        conn = Conn(cid, sock, b)
        self.emit("CONN %d" % cid)
        if b.mode == "reset":
            _reset(sock)
            self.emit("DISC %d" % cid)
            return
        self.conns[cid] = conn
        if b.mode == "stream":
            conn.pending = b.pieces()
            conn.next_due = time.monotonic()
            conn.close_after_out = b.close_when_done
        elif b.mode == "flood":
            conn.flood_left = b.flood_bytes if b.flood_bytes > 0 else None
        self._update(conn)

    # --- connections ----------------------------------------------------------------------------

    def _update(self, conn):
        """Registers the connection for what it waits for now."""
        b = conn.b
        events = 0
        if b.mode != "silent" or conn.b.close_after >= 0 or conn.b.reset_after >= 0:
            events |= selectors.EVENT_READ
        if conn.out or b.mode == "flood":
            events |= selectors.EVENT_WRITE
        key = self.sel.get_map().get(conn.sock.fileno()) if conn.sock.fileno() >= 0 else None
        if key is None:
            if events:
                self.sel.register(conn.sock, events, ("conn", conn))
        elif events:
            self.sel.modify(conn.sock, events, ("conn", conn))
        else:
            self.sel.unregister(conn.sock)

    def _drop(self, conn, reset=False):
        if conn.cid not in self.conns:
            return
        del self.conns[conn.cid]
        try:
            self.sel.unregister(conn.sock)
        except (KeyError, ValueError):
            pass
        if reset:
            _reset(conn.sock)
        else:
            conn.sock.close()
        self.emit("DISC %d" % conn.cid)

    def _read(self, conn):
        try:
            data = conn.sock.recv(RECV_PIECE)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            self._drop(conn)
            return
        if not data:
            self._drop(conn)
            return
        conn.recv += len(data)
        self.emit("RECV %d %d" % (conn.cid, conn.recv))
        b = conn.b
        if b.mode == "echo":
            limit = min([x for x in (b.close_after, b.reset_after) if x >= 0], default=-1)
            keep = data if limit < 0 else data[:max(0, limit - (conn.recv - len(data)))]
            conn.out += keep
        if b.reset_after >= 0 and conn.recv >= b.reset_after:
            self._flush(conn)
            self._drop(conn, reset=True)
            return
        if b.close_after >= 0 and conn.recv >= b.close_after:
            conn.close_after_out = True
            if not conn.out:
                self._drop(conn)
                return
        self._update(conn)

    def _flush(self, conn):
        while conn.out:
            try:
                n = conn.sock.send(conn.out)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                self._drop(conn)
                return
            conn.sent += n
            del conn.out[:n]
        return

    def _write(self, conn):
        b = conn.b
        if b.mode == "flood" and not conn.out:
            n = FLOOD_PIECE if conn.flood_left is None else min(FLOOD_PIECE, conn.flood_left)
            if n <= 0:
                self._drop(conn)
                return
            conn.out += _PATTERN[:n]
        try:
            n = conn.sock.send(conn.out)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            self._drop(conn)
            return
        conn.sent += n
        del conn.out[:n]
        if conn.flood_left is not None:
            conn.flood_left -= n
            if conn.flood_left <= 0 and not conn.out:
                self._drop(conn)
                return
        if b.mode != "flood":
            self.emit("SENT %d %d" % (conn.cid, conn.sent))
        if not conn.out and conn.close_after_out and not conn.pending:
            self._drop(conn)
            return
        self._update(conn)

    def _due(self):
        """Moves scripted pieces that are due into the output; the time of the next one."""
        now = time.monotonic()
        nxt = None
        for conn in list(self.conns.values()):
            while conn.pending and conn.next_due <= now:
                conn.out += conn.pending.pop(0)
                conn.next_due = now + conn.b.delay_ms / 1000.0
                if conn.b.delay_ms > 0:
                    break
            if conn.cid in self.conns:
                self._update(conn)
            if conn.pending:
                nxt = conn.next_due if nxt is None else min(nxt, conn.next_due)
        return nxt

    # --- control --------------------------------------------------------------------------------

    def command(self, line):
        try:
            cmd = json.loads(line)
        except ValueError:
            self.emit("ERR bad command", force=True)
            return
        name = cmd.get("cmd", "")
        if name == "mode":
            self.behaviour = Behaviour(cmd.get("mode", "echo"), bytes.fromhex(cmd.get("hex", "")),
                                       cmd.get("chunks"), cmd.get("delay_ms", 0),
                                       cmd.get("close_when_done", False), cmd.get("close_after", -1),
                                       cmd.get("reset_after", -1), cmd.get("flood_bytes", 0))
        elif name == "send":
            data = bytes.fromhex(cmd.get("hex", ""))
            for conn in list(self.conns.values()):
                conn.pending += Behaviour(chunks=cmd.get("chunks")).pieces(data)
                conn.next_due = time.monotonic()
        elif name == "close":
            for conn in list(self.conns.values()):
                self._drop(conn)
        elif name == "reset":
            for conn in list(self.conns.values()):
                self._drop(conn, reset=True)
        elif name == "stats":
            self.emit("STATS conns=%d recv=%d sent=%d" % (
                self.total_conns, sum(c.recv for c in self.conns.values()),
                sum(c.sent for c in self.conns.values())), force=True)
        self.emit("ACK %s" % name, force=True)

    # --- loop -----------------------------------------------------------------------------------

    def run(self):
        self.emit("PORT %d" % self.port, force=True)
        stdin_buf = b""
        if self.use_stdin:
            self.sel.register(sys.stdin.fileno(), selectors.EVENT_READ, ("stdin", None))
        while self.running:
            nxt = self._due()
            timeout = None if nxt is None else max(0.0, nxt - time.monotonic())
            if not self.sel.get_map() and timeout is None:
                time.sleep(3600)
                continue
            for key, mask in self.sel.select(timeout):
                kind, conn = key.data
                if kind == "listen":
                    self._accept()
                elif kind == "stdin":
                    chunk = os.read(sys.stdin.fileno(), 4096)
                    if not chunk:
                        self.running = False
                        break
                    stdin_buf += chunk
                    while b"\n" in stdin_buf:
                        line, stdin_buf = stdin_buf.split(b"\n", 1)
                        if line.strip():
                            self.command(line.decode("utf-8", "replace"))
                elif conn is not None and conn.cid in self.conns:
                    if mask & selectors.EVENT_READ:
                        self._read(conn)
                    if conn.cid in self.conns and mask & selectors.EVENT_WRITE:
                        self._write(conn)
        self.close()

    def close(self):
        for conn in list(self.conns.values()):
            self._drop(conn)
        for c in self.fillers:
            c.close()
        self.listener.close()
        self.sel.close()


_PATTERN = bytes(range(256)) * (FLOOD_PIECE // 256)


def main(argv=None):
    ap = argparse.ArgumentParser(description="TCP device fixture")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--mode", default="echo",
                    choices=["echo", "stream", "flood", "silent", "reset", "blackhole"])
    ap.add_argument("--hex", default="")
    ap.add_argument("--chunks", default="")
    ap.add_argument("--delay-ms", type=int, default=0)
    ap.add_argument("--close-when-done", action="store_true")
    ap.add_argument("--close-after", type=int, default=-1)
    ap.add_argument("--reset-after", type=int, default=-1)
    ap.add_argument("--flood-bytes", type=int, default=0)
    ap.add_argument("--quiet", action="store_true")
    ap.add_argument("--no-stdin", action="store_true")
    args = ap.parse_args(argv)
    chunks = [int(x) for x in args.chunks.split(",") if x.strip()]
    b = Behaviour(args.mode, bytes.fromhex(args.hex), chunks, args.delay_ms, args.close_when_done,
                  args.close_after, args.reset_after, args.flood_bytes)
    TcpDevice(args.port, b, args.quiet, not args.no_stdin).run()


if __name__ == "__main__":
    main()
