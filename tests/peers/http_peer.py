#!/usr/bin/env python3
"""A small HTTP server for the client's tests. Each request chooses the behaviour by its path:

  /fixed?len=N              200 with Content-Length and N pattern bytes (byte i is i % 256)
  /echo (and any other path) 200 whose body is the exact bytes of the request received
  /status?code=C            status C, Content-Length and a short body
  /chunked?sizes=5,1A,1a    chunked body with these size lines as written, pattern bytes,
          [&last=0]         without the final zero-size chunk
          [&cut=N]          only the first N bytes of the encoded body
          [&status=206]     as a 206 reply
  /redirect?n=K&to=PATH     302 to /redirect?n=K-1 (absolute), and to PATH when K is 0;
          [&cookie=V]       with Set-Cookie: V
          [&kind=content]   the target in Content-Location instead of Location
  /short?cl=N&send=M        Content-Length N, then only M bytes and close
  /nolength?len=N           no Content-Length, N bytes, close
  /range?len=N              206 with the rest from "bytes=K-" when a Range is asked, else 200
          [&ignore=1]       always 200 with the whole body
  /slow?len=N&pieces=P&ms=D N bytes in P pieces, D ms apart (with Content-Length)
          [&nolength=1]     without Content-Length
  /stall                    reads the request and never answers
  /stallbody?len=N&send=M   Content-Length N, M bytes, then silence
  /raw?hex=HEX              the given bytes as the whole reply, then close
  /bigheader?size=N         a 200 reply whose header is about N bytes long
  /requests                 the paths of every request so far, one a line (for redirect counts)

Usage: http_peer.py --port PORT. Standard library only. Stops on SIGTERM.
"""
import argparse
import signal
import socket
import socketserver
import sys
import threading
import time
from urllib.parse import parse_qs, quote, urlsplit

LOG_LOCK = threading.Lock()
REQUEST_LOG = []


def pattern(n, start=0):
    return bytes((start + i) % 256 for i in range(n))


def reply(status, headers, body=b""):
    head = "HTTP/1.1 %s\r\n" % status
    for name, value in headers:
        head += "%s: %s\r\n" % (name, value)
    return head.encode("latin-1") + b"\r\n" + body


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        self.request.settimeout(30)
        while b"\r\n\r\n" not in data:
            piece = self.request.recv(65536)
            if not piece:
                return None
            data += piece
        head, _, body = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip() or 0)
        while len(body) < length:
            piece = self.request.recv(65536)
            if not piece:
                break
            body += piece
        return data[: len(head) + 4] + body, head

    def header(self, head, wanted):
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == wanted:
                return value.strip().decode("latin-1")
        return None

    def handle(self):
        got = self.read_request()
        if got is None:
            return
        raw, head = got
        target = head.split(b"\r\n")[0].split(b" ")[1].decode("latin-1")
        with LOG_LOCK:
            REQUEST_LOG.append(target)
        url = urlsplit(target)
        q = {k: v[0] for k, v in parse_qs(url.query, keep_blank_values=True).items()}
        path = url.path
        send = self.request.sendall
        host = "127.0.0.1:%d" % self.server.server_address[1]

        if path == "/fixed":
            body = pattern(int(q.get("len", "0")))
            send(reply("200 OK", [("Content-Length", len(body))], body))
        elif path.startswith("/echo"):
            send(reply("200 OK", [("Content-Length", len(raw))], raw))
        elif path == "/status":
            body = b"status body"
            send(reply("%s Whatever" % q.get("code", "404"), [("Content-Length", len(body))], body))
        elif path == "/chunked":
            encoded = b""
            offset = 0
            for size in [s for s in q.get("sizes", "").split(",") if s]:
                n = int(size, 16)
                encoded += size.encode() + b"\r\n" + pattern(n, offset) + b"\r\n"
                offset += n
            if q.get("last", "1") != "0":
                encoded += b"0\r\n\r\n"
            if "cut" in q:
                encoded = encoded[: int(q["cut"])]
            status = "206 Partial Content" if q.get("status") == "206" else "200 OK"
            send(reply(status, [("Transfer-Encoding", "chunked")], encoded))
        elif path == "/redirect":
            n = int(q.get("n", "0"))
            if n > 0:
                nxt = "http://%s/redirect?n=%d" % (host, n - 1)
                for key in ("to", "kind"):
                    if key in q:
                        nxt += "&%s=%s" % (key, quote(q[key], safe=""))
            else:
                nxt = "http://%s%s" % (host, q.get("to", "/fixed?len=4"))
            field = "Content-Location" if q.get("kind") == "content" else "Location"
            headers = [(field, nxt), ("Content-Length", 0)]
            if "cookie" in q:
                headers.insert(0, ("Set-Cookie", q["cookie"]))
            send(reply("302 Found", headers))
        elif path == "/short":
            body = pattern(int(q.get("send", "0")))
            send(reply("200 OK", [("Content-Length", q.get("cl", "0"))], body))
        elif path == "/nolength":
            send(reply("200 OK", [], pattern(int(q.get("len", "0")))))
        elif path == "/range":
            total = int(q.get("len", "0"))
            asked = self.header(head, b"range")
            if asked and asked.startswith("bytes=") and q.get("ignore") != "1":
                start = int(asked[6:].split("-")[0])
                body = pattern(total - start, start)
                send(reply("206 Partial Content",
                           [("Content-Range", "bytes %d-%d/%d" % (start, total - 1, total)),
                            ("Content-Length", len(body))], body))
            else:
                send(reply("200 OK", [("Content-Length", total)], pattern(total)))
        elif path == "/slow":
            total = int(q.get("len", "0"))
            pieces = max(1, int(q.get("pieces", "1")))
            delay = int(q.get("ms", "100")) / 1000.0
            headers = [] if q.get("nolength") == "1" else [("Content-Length", total)]
            send(reply("200 OK", headers))
            body = pattern(total)
            step = (total + pieces - 1) // pieces
            for at in range(0, total, step):
                time.sleep(delay)
                send(body[at:at + step])
        elif path == "/stall":
            self.wait_for_close()
        elif path == "/stallbody":
            body = pattern(int(q.get("send", "0")))
            send(reply("200 OK", [("Content-Length", q.get("len", "0"))], body))
            self.wait_for_close()
        elif path == "/raw":
            send(bytes.fromhex(q.get("hex", "")))
        elif path == "/bigheader":
            filler = "x" * max(0, int(q.get("size", "0")) - 60)
            send(reply("200 OK", [("X-Filler", filler), ("Content-Length", 2)], b"ok"))
        elif path == "/requests":
            with LOG_LOCK:
                body = ("\n".join(REQUEST_LOG) + "\n").encode("latin-1")
            send(reply("200 OK", [("Content-Length", len(body))], body))
        else:
            send(reply("200 OK", [("Content-Length", len(raw))], raw))

    def wait_for_close(self):
        # Silent until the client hangs up (bounded, so that a forgotten client never pins us).
        self.request.settimeout(1)
        deadline = time.time() + 120
        while time.time() < deadline:
            try:
                if not self.request.recv(1024):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
