#!/usr/bin/env python3
"""A small store for the download manager's tests, serving from a folder the test fills.

  ROOT/records/<type>_<pid>.xml   reply to /ebooks/api/?vs=1&type=<type>&pid=<pid>&source=
                                  (missing: 404, so the record request fails)
  ROOT/class_<book|mag>.xml       reply to /ebooks/api/?vs=1&act=sortClass&class=<c>&source=
  ROOT/files/<name>               /files/<name>, with Range (206) and these query switches:
                                    rate=N      send at most N bytes per second
                                    nolength=1  no Content-Length, the body ends with the close
                                    cut=N       announce the full length, send only N bytes
                                    wait=MS     wait before the first byte of the body
  ROOT/requests.log               one line per request: "<path> range=<Range header or ->"

Every request is answered with "Connection: close". The server binds to 127.0.0.1 only.
"""
import argparse
import os
import re
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PIECE = 16 * 1024


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    log_lock = threading.Lock()

    def log_message(self, fmt, *args):  # quiet: the log file is the record
        pass

    def record_request(self):
        with self.log_lock:
            with open(os.path.join(self.root, "requests.log"), "a", encoding="utf-8") as log:
                log.write("%s range=%s\n" % (self.path, self.headers.get("Range", "-")))

    def reply(self, status, body, content_type="text/xml; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def serve_file_of(self, path):
        try:
            with open(path, "rb") as f:
                self.reply(200, f.read())
        except OSError:
            self.reply(404, b"")

    def do_GET(self):
        self.record_request()
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        if url.path == "/ebooks/api/":
            if query.get("act") == "sortClass":
                klass = re.sub(r"[^a-z]", "", query.get("class", ""))
                return self.serve_file_of(os.path.join(self.root, "class_%s.xml" % klass))
            name = "%s_%s.xml" % (query.get("type", ""), query.get("pid", ""))
            if "/" in name or name.startswith("."):
                return self.reply(404, b"")
            return self.serve_file_of(os.path.join(self.root, "records", name))
        if url.path.startswith("/files/"):
            return self.send_issue_file(url.path[len("/files/"):], query)
        self.reply(404, b"")

    def send_issue_file(self, name, query):
        path = os.path.join(self.root, "files", os.path.basename(urllib.parse.unquote(name)))
        try:
            size = os.path.getsize(path)
        except OSError:
            return self.reply(404, b"")
        start = 0
        match = re.match(r"bytes=(\d+)-$", self.headers.get("Range", "").strip())
        if match and int(match.group(1)) <= size:
            start = int(match.group(1))
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        else:
            self.send_response(200)
        length = size - start
        self.send_header("Content-Type", "application/octet-stream")
        if query.get("nolength") != "1":
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        if "wait" in query:
            time.sleep(int(query["wait"]) / 1000.0)
        limit = length
        if "cut" in query:
            limit = min(length, int(query["cut"]))
        rate = int(query.get("rate", "0"))
        sent = 0
        began = time.monotonic()
        with open(path, "rb") as f:
            f.seek(start)
            while sent < limit:
                piece = f.read(min(PIECE, limit - sent))
                if not piece:
                    break
                try:
                    self.wfile.write(piece)
                except OSError:
                    return
                sent += len(piece)
                if rate > 0:
                    ahead = sent / rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        self.close_connection = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    args = parser.parse_args()
    Handler.root = args.root
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
