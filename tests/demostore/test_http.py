"""The store as an HTTP peer: lengths, ranges, connections, and the misbehaviours for tests."""

import os
import queue
import signal
import subprocess
import sys
import threading
import time
import unittest

from support import STORE_DIR, TempDir, exchange, get, header, start_store, status

from demostore import server

COVER = "/ebooks/covers/mag/55004.jpg"


class HttpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.store = start_store(cls.tmp.path, pack="/nonexistent/muravel-pack")
        cls.port = cls.store.server_address[1]
        head, cls.cover = get(cls.port, COVER)
        assert status(head) == 200 and len(cls.cover) > 1000

    @classmethod
    def tearDownClass(cls):
        server.stop(cls.store)
        cls.tmp.cleanup()

    def test_ranges(self):
        size = len(self.cover)
        cases = [  # (Range line as sent, status, first byte, last byte)
            ("Range:bytes=100-", 206, 100, size - 1),      # the program's own spelling
            ("Range: bytes=0-", 206, 0, size - 1),
            ("Range: bytes=10-19", 206, 10, 19),
            ("Range: bytes=10-999999", 206, 10, size - 1),
            ("Range: bytes=-50", 206, size - 50, size - 1),
            (f"Range: bytes={size - 1}-", 206, size - 1, size - 1),
            ("Range: bytes=0-1,5-9", 200, 0, size - 1),    # several ranges: the whole file
            ("Range: items=0-", 200, 0, size - 1),
            (f"Range: bytes={size}-", 416, None, None),
            ("Range: bytes=20-10", 416, None, None),
        ]
        for line, code, first, last in cases:
            with self.subTest(line=line):
                head, body = get(self.port, COVER, headers=line + "\r\n")
                self.assertEqual(status(head), code)
                if code == 416:
                    self.assertEqual(header(head, "Content-Range"), f"bytes */{size}")
                    continue
                self.assertEqual(body, self.cover[first:last + 1])
                self.assertEqual(int(header(head, "Content-Length")), len(body))
                if code == 206:
                    self.assertEqual(header(head, "Content-Range"),
                                     f"bytes {first}-{last}/{size}")

    def test_head_and_status_line(self):
        head, body = get(self.port, COVER, method="HEAD")
        self.assertTrue(head.startswith("HTTP/1.1 200 "))
        self.assertEqual(int(header(head, "Content-Length")), len(self.cover))
        self.assertEqual(body, b"")

    def test_replies_may_be_read_by_pages_of_another_origin(self):
        head, _ = get(self.port, "/ebooks/nivora/index.php/userLogin/login", method="OPTIONS",
                      headers="Origin: null\r\nAccess-Control-Request-Method: POST\r\n")
        self.assertEqual(status(head), 204)
        self.assertIn("POST", header(head, "Access-Control-Allow-Methods"))
        head, _ = get(self.port, "/ebook/system/index.php/index/getUserBuy/?class=mag&uid=1")
        self.assertEqual(header(head, "Access-Control-Allow-Origin"), "*")

    def test_keep_alive_serves_two_requests_on_one_connection(self):
        one = "GET /ebooks/update.xml HTTP/1.1\r\nHost: x\r\n\r\n".encode()
        last = f"GET {COVER} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode()
        head, rest = exchange(self.port, one + last)
        self.assertEqual(status(head), 200)
        first_len = int(header(head, "Content-Length"))
        second = rest[first_len:]
        head2, _, body2 = second.partition(b"\r\n\r\n")
        self.assertTrue(head2.startswith(b"HTTP/1.1 200"))
        self.assertEqual(body2, self.cover)

    def test_malformed_requests_get_an_error_not_a_hang(self):
        for raw in (b"NONSENSE\r\n\r\n", b"GET /x HTTP/9.9\r\n\r\n", b"\x00\xff\r\n\r\n",
                    b"POST /ebooks/nivora/index.php/userLogin/login HTTP/1.1\r\n"
                    b"Content-Length: 99999999\r\n\r\n"):
            with self.subTest(raw=raw):
                head, _ = exchange(self.port, raw, timeout=10)
                if b"Content-Length: 99999999" in raw:
                    self.assertEqual(status(head), 200)  # the login page's "-1"
                else:
                    self.assertIn(status(head), (400, 505))

    def test_query_flags(self):
        size = len(self.cover)
        head, body = get(self.port, COVER + "?drop=1000")
        self.assertEqual(int(header(head, "Content-Length")), size)
        self.assertEqual(body, self.cover[:1000])
        head, body = get(self.port, COVER + "?drop=1000", headers="Range:bytes=1000-\r\n")
        self.assertEqual(status(head), 206)
        self.assertEqual(body, self.cover[1000:2000])
        head, body = get(self.port, COVER + "?nolength=1")
        self.assertIsNone(header(head, "Content-Length"))
        self.assertEqual(body, self.cover)
        head, body = get(self.port, COVER + "?chunked=1")
        self.assertEqual(header(head, "Transfer-Encoding"), "chunked")
        self.assertEqual(dechunk(body), self.cover)
        start = time.monotonic()
        head, body = get(self.port, COVER + f"?slow={size * 2}")  # about half a second
        self.assertGreaterEqual(time.monotonic() - start, 0.35)
        self.assertEqual(body, self.cover)
        for bad in ("slow=-5", "drop=-1", "stall=nan", "stall=-1", "slow=x", "drop=1e999"):
            with self.subTest(bad=bad):
                head, body = get(self.port, f"{COVER}?{bad}")
                self.assertEqual(body, self.cover)
        head, body = get(self.port, "/ebooks/update.xml?nolength=1")
        self.assertIsNone(header(head, "Content-Length"))
        self.assertTrue(body.startswith(b"<?xml"))

    def test_a_fault_of_the_store_is_answered_500(self):
        tmp = TempDir()
        store = start_store(tmp.path, pack="/nonexistent")
        try:
            with open(os.path.join(tmp.path, "update"), "w") as f:
                f.write("a file where the update folder belongs")
            head, body = get(store.server_address[1], "/ebooks/update/demo_notice.txt")
            self.assertEqual(status(head), 500)
            self.assertEqual(int(header(head, "Content-Length")), len(body))
        finally:
            server.stop(store)
            tmp.cleanup()

    def test_store_switches_apply_to_files(self):
        tmp = TempDir()
        try:
            store = start_store(tmp.path, pack="/nonexistent", drop=700, no_length=False)
            port = store.server_address[1]
            try:
                # A resumed download made of dropped pieces ends with the whole file.
                data = b""
                for _ in range(200):
                    head, body = get(port, COVER, headers=f"Range:bytes={len(data)}-\r\n"
                                     if data else "")
                    self.assertIn(status(head), (200, 206))
                    data += body
                    if len(body) < 700:
                        break
                self.assertEqual(data, get(self.port, COVER)[1])
                head, body = get(port, "/ebooks/api/?vs=1&act=sortClass&class=mag&source=")
                self.assertEqual(int(header(head, "Content-Length")), len(body))
            finally:
                server.stop(store)
            store = start_store(tmp.path, pack="/nonexistent", drop=700, drop_times=1)
            try:
                port = store.server_address[1]
                head, body = get(port, COVER)
                self.assertEqual(len(body), 700)
                head, body = get(port, COVER, headers="Range:bytes=700-\r\n")
                self.assertEqual(status(head), 206)
                self.assertEqual(len(body), len(self.cover) - 700)
            finally:
                server.stop(store)
            store = start_store(tmp.path, pack="/nonexistent", no_length=True)
            try:
                head, body = get(store.server_address[1], COVER)
                self.assertIsNone(header(head, "Content-Length"))
                self.assertEqual(len(body), len(self.cover))
            finally:
                server.stop(store)
        finally:
            tmp.cleanup()


def dechunk(data):
    out = b""
    while True:
        line, _, data = data.partition(b"\r\n")
        n = int(line, 16)
        if n == 0:
            return out
        out += data[:n]
        data = data[n + 2:]


class StartTest(unittest.TestCase):
    def test_command_line_start_is_quick_and_prints_address_and_accounts(self):
        tmp = TempDir()
        proc = subprocess.Popen(
            [sys.executable, os.path.join(STORE_DIR, "store.py"), "--port", "0", "--data",
             tmp.path, "--pack", "/nonexistent/muravel-pack", "--quiet"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            start = time.monotonic()
            lines = []
            got = queue.Queue()
            threading.Thread(target=lambda: [got.put(x) for x in proc.stdout] + [got.put("")],
                             daemon=True).start()
            while time.monotonic() - start < 10:
                try:
                    line = got.get(timeout=0.5)
                except queue.Empty:
                    continue
                if not line:
                    break
                lines.append(line)
                if line.startswith("demo-store: pictures:"):
                    break
            elapsed = time.monotonic() - start
            text = "".join(lines)
            self.assertLess(elapsed, 5, text)
            self.assertRegex(text, r"listening on http://127\.0\.0\.1:\d+")
            self.assertIn("demo ", text)
            self.assertIn("issue files: missing, muravel-pack not found", text)
            port = int(text.split("http://127.0.0.1:", 1)[1].split()[0])
            head, _ = get(port, "/ebooks/api/?vs=1&act=sortClass&class=book&source=")
            self.assertEqual(status(head), 200)
            head, body = get(port, "/ebooks/files/mag/55001.exe")
            self.assertEqual(status(head), 503)
            self.assertIn(b"muravel-pack not found", body)
        finally:
            proc.send_signal(signal.SIGTERM)
            try:
                self.assertEqual(proc.wait(10), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                proc.stdout.close()
                tmp.cleanup()


if __name__ == "__main__":
    unittest.main()
