"""Helpers of the demo store's tests: a store on a free loopback port in a fresh folder, raw
HTTP exchanges, and a stand-in muravel-pack that records how it was called."""

import json
import os
import shutil
import socket
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
STORE_DIR = os.path.join(REPO, "tools", "demo-store")
sys.path.insert(0, STORE_DIR)

from demostore import server  # noqa: E402

TIMEOUT = 20  # seconds for any single exchange


class TempDir:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="demostore-")

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def start_store(data, program=None, pack=None, **options):
    opts = server.Options(port=0, **options)
    return server.start(opts, data, program=program, pack=pack, prebuild=False,
                        log=lambda *_: None)


def exchange(port, raw, timeout=TIMEOUT):
    """Send raw request bytes, read until the server closes; answers (head text, body bytes)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(raw)
        data = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            piece = s.recv(65536)
            if not piece:
                break
            data += piece
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body


def get(port, path, headers="", method="GET", body=b""):
    """A request the way the program's client makes it: HTTP/1.1, Connection: close."""
    extra = f"Content-Length: {len(body)}\r\n" if body else ""
    if body:
        extra += "Content-Type: application/x-www-form-urlencoded\r\n"
    raw = (f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nAccept: */*\r\n{headers}"
           f"{extra}Connection: close\r\n\r\n").encode("utf-8") + body
    return exchange(port, raw)


def header(head, name):
    for line in head.split("\r\n")[1:]:
        k, _, v = line.partition(":")
        if k.strip().lower() == name.lower():
            return v.strip()
    return None


def status(head):
    return int(head.split(" ", 2)[1])


FAKE_PACK = r'''#!{python}
# Records its arguments and makes an "issue file": the program's bytes, then a JSON line.
import json, os, sys
args = sys.argv[1:]
log = os.environ.get("FAKE_PACK_LOG")
if log:
    with open(log, "a") as f:
        f.write(json.dumps(args) + "\n")
opts = dict(zip(args[1::2], args[2::2]))
if os.environ.get("FAKE_PACK_FAIL"):
    print("cannot write issue file"); sys.exit(3)
files = sorted(os.listdir(opts["--folder"]))
with open(opts["--out"], "wb") as out, open(opts["--program"], "rb") as prog:
    out.write(prog.read())
    out.write(json.dumps({{"args": args, "files": files}}).encode("utf-8"))
'''


def make_fake_pack(folder):
    path = os.path.join(folder, "fake-pack")
    with open(path, "w") as f:
        f.write(FAKE_PACK.format(python=sys.executable))
    os.chmod(path, 0o755)
    return path


def find_tool(env, *candidates):
    """A built tool: the path ctest passes in env, else the first candidate that exists."""
    if os.environ.get(env):
        return os.environ[env]
    for c in candidates:
        path = os.path.join(REPO, c)
        if os.path.isfile(path):
            return path
    return None


def read_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)
