#!/usr/bin/env python3
"""A small file server for the update tests: serves the files below --root and logs every
request path, one per line, to --log.

Paths with a behaviour of their own:
  /flaky/N/<name>   answers 500 to the first N requests, then serves <name> from the root
  /short/<name>     announces the file's length but sends only half of it, then closes
Any other path that names no file answers 404.
"""
import argparse
import http.server
import os
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    counts = {}
    lock = threading.Lock()

    def log_message(self, fmt, *args):
        pass

    def send_file(self, name, short=False):
        path = os.path.join(self.server.root, name)
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[: len(data) // 2] if short else data)

    def do_GET(self):
        with self.lock:
            with open(self.server.log, "a") as log:
                log.write(self.path + "\n")
        parts = self.path.lstrip("/").split("/")
        if parts[0] == "flaky" and len(parts) >= 3:
            with self.lock:
                seen = self.counts.get(self.path, 0)
                self.counts[self.path] = seen + 1
            if seen < int(parts[1]):
                self.send_error(500)
                return
            self.send_file("/".join(parts[2:]))
        elif parts[0] == "short" and len(parts) >= 2:
            self.send_file("/".join(parts[1:]), short=True)
        else:
            self.send_file("/".join(parts))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.root = args.root
    server.log = args.log
    server.serve_forever()


if __name__ == "__main__":
    main()
