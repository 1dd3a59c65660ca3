"""The selector loop the TCP simulators share.

A listener on 127.0.0.1, its connections, a heap of timers and, when asked for, a control channel
on standard input (one JSON object per line). A simulator subclasses Loop and provides:

    new_conn(sock, cid)      the record of an accepted connection (with sock, id, out, open)
    emit(line)               one event line
    control(c)               runs one command object from the control channel
    on_readable(conn)        bytes to read on a connection
    on_key(key, events)      any other selector key it registered itself (optional)
    on_writable(conn)        after the loop flushed a writable connection (optional)
    select_timeout()         the longest wait with no timer due (optional; None: no limit)
    close_extra()            what else to close when the loop ends (optional)
"""
import heapq
import itertools
import json
import os
import selectors
import socket
import sys
import time


class Loop:
    def __init__(self, port=0, use_stdin=False):
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

    # --- sending -------------------------------------------------------------------------

    def send_now(self, conn, data):
        if not conn.open:
            return
        conn.out += data
        self.flush(conn)

    def send_later(self, due, conn, data):
        """Queues data to go out on conn at the monotonic time due."""
        heapq.heappush(self.timers, (due, next(self.tseq), lambda c=conn, p=data: self.send_now(c, p)))

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
        """Watches conn for reading (unless its reading is paused) and, while it has bytes
        waiting, for writing."""
        if not conn.open:
            return
        reading = getattr(conn, "reading", True)
        mask = (selectors.EVENT_READ if reading else 0) | (selectors.EVENT_WRITE if conn.out else 0)
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

    def receive(self, conn, limit=65536):
        """Reads what conn has (at most limit bytes); b"" when there is nothing yet, None when the
        peer closed or the connection failed (it is dropped then)."""
        try:
            data = conn.sock.recv(limit)
        except BlockingIOError:
            return b""
        except OSError:
            data = b""
        if not data:
            self.drop(conn)
            return None
        return data

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

    # --- timers --------------------------------------------------------------------------

    def at(self, delay, fn):
        heapq.heappush(self.timers, (time.monotonic() + delay, next(self.tseq), fn))

    def run_timers(self):
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, fn = heapq.heappop(self.timers)
            fn()
        return now

    # --- control -------------------------------------------------------------------------

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
                    self.control(json.loads(line))
                except (ValueError, KeyError, TypeError) as e:
                    self.emit("ERR command %s" % e)

    # --- the loop ------------------------------------------------------------------------

    def select_timeout(self):
        return None

    def on_key(self, key, events):
        pass

    def on_writable(self, conn):
        pass

    def close_extra(self):
        pass

    def accept(self):
        try:
            sock, _ = self.listener.accept()
        except BlockingIOError:
            return
        sock.setblocking(False)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        conn = self.new_conn(sock, next(self.ids))
        self.conns[conn.id] = conn
        self.sel.register(sock, selectors.EVENT_READ, conn)
        self.emit("CONN %d" % conn.id)

    def run(self):
        while self.running:
            timeout = self.select_timeout()
            if self.timers:
                t = max(0.0, self.timers[0][0] - time.monotonic())
                timeout = t if timeout is None else min(t, timeout)
            for key, events in self.sel.select(timeout):
                if key.data == "listen":
                    self.accept()
                elif key.data == "stdin":
                    self.on_stdin()
                elif isinstance(key.data, str):
                    self.on_key(key, events)
                else:
                    conn = key.data
                    if events & selectors.EVENT_WRITE:
                        self.flush(conn)
                        self.on_writable(conn)
                    if conn.open and events & selectors.EVENT_READ:
                        self.on_readable(conn)
            self.run_timers()
        for conn in list(self.conns.values()):
            self.drop(conn)
        self.sel.close()
        self.listener.close()
        self.close_extra()
