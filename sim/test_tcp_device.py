"""Self-tests of the TCP device fixture, run as the process the C++ tests start."""
import json
import os
import socket
import subprocess
import sys
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Fixture:
    def __init__(self, *args):
        self.proc = subprocess.Popen([sys.executable, "-u", "-m", "sim.tcp_device", "--port", "0", *args],
                                     cwd=ROOT, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        assert line.startswith("PORT "), line
        self.port = int(line.split()[1])

    def command(self, obj):
        self.proc.stdin.write((json.dumps(obj) + "\n").encode())
        self.proc.stdin.flush()
        while True:
            line = self.proc.stdout.readline().decode()
            if line.startswith("ACK "):
                return

    def connect(self, case):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        case.addCleanup(s.close)
        return s

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=5)
        self.proc.stdout.close()


def read_all(sock, limit=1 << 24):
    out = bytearray()
    while len(out) < limit:
        try:
            b = sock.recv(65536)
        except ConnectionResetError:
            return bytes(out), "reset"
        if not b:
            return bytes(out), "closed"
        out += b
    return bytes(out), "open"


class TcpDeviceTest(unittest.TestCase):
    def test_echo_and_close_after(self):
        f = Fixture("--mode", "echo", "--close-after", "6")
        try:
            s = f.connect(self)
            s.sendall(b"abc")
            self.assertEqual(s.recv(10), b"abc")
            s.sendall(b"defgh")
            data, how = read_all(s)
            self.assertEqual(data, b"def")
            self.assertEqual(how, "closed")
            s.close()
        finally:
            f.close()

    def test_stream_in_pieces_then_close(self):
        f = Fixture("--mode", "stream", "--hex", "00112233445566778899", "--chunks", "3,1",
                    "--delay-ms", "5", "--close-when-done")
        try:
            s = f.connect(self)
            data, how = read_all(s)
            self.assertEqual(data, bytes.fromhex("00112233445566778899"))
            self.assertEqual(how, "closed")
        finally:
            f.close()

    def test_reset_and_reset_after(self):
        f = Fixture("--mode", "reset")
        try:
            s = f.connect(self)
            time.sleep(0.1)
            self.assertEqual(read_all(s)[1], "reset")
            f.command({"cmd": "mode", "mode": "echo", "reset_after": 2})
            s = f.connect(self)
            s.sendall(b"xyz")
            time.sleep(0.1)
            self.assertEqual(read_all(s)[1], "reset")
        finally:
            f.close()

    def test_flood_bytes(self):
        f = Fixture("--mode", "flood", "--flood-bytes", "1000000")
        try:
            s = f.connect(self)
            data, how = read_all(s)
            self.assertEqual(len(data), 1000000)
            self.assertEqual(data[:4], bytes([0, 1, 2, 3]))
            self.assertEqual(how, "closed")
        finally:
            f.close()

    def test_silent_accepts_and_never_answers(self):
        f = Fixture("--mode", "silent")
        try:
            s = f.connect(self)
            s.sendall(b"hello")
            s.settimeout(0.2)
            with self.assertRaises(socket.timeout):
                s.recv(10)
        finally:
            f.close()

    def test_blackhole_connect_never_completes(self):
        f = Fixture("--mode", "blackhole")
        try:
            s = socket.socket()
            self.addCleanup(s.close)
            s.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                s.connect(("127.0.0.1", f.port))
            s.close()
        finally:
            f.close()

    def test_send_command_reaches_open_connections(self):
        f = Fixture("--mode", "silent")
        try:
            s = f.connect(self)
            time.sleep(0.1)
            f.command({"cmd": "send", "hex": "aabbcc", "chunks": [1]})
            s.settimeout(5)
            got = b""
            while len(got) < 3:
                got += s.recv(10)
            self.assertEqual(got, bytes.fromhex("aabbcc"))
            f.command({"cmd": "close"})
            self.assertEqual(read_all(s)[1], "closed")
        finally:
            f.close()


if __name__ == "__main__":
    unittest.main()
