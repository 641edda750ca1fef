"""The HTTP side of the demo store: one loopback server playing the API server, the web server
and the account site.

Every reply carries Content-Length unless a misbehaviour asks otherwise. Files (issue files,
covers, update files) honour "Range: bytes=N-" (also "bytes=N-M" and "bytes=-N") with 206 and
Content-Range. Misbehaviours for tests, as switches of the whole store (file replies only) or as
query flags of one request (any reply):
  slow=BPS      send the body at about BPS bytes a second
  drop=N        close the connection after N bytes of the body
  nolength=1    no Content-Length; the body ends when the connection closes
  chunked=1     send the body with the chunked transfer coding
  stall=S       wait S seconds after the header before the body
"""

import hashlib
import html
import json
import os
import re
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

from . import accounts as accounts_mod
from . import catalogue, png

MAX_POST = 64 * 1024
UPDATE_COMPONENT = "demo_notice.txt"
UPDATE_VERSION = 1
UPDATE_TEXT = "这是演示商店提供的更新文件。\nThis file is the demo store's update component.\n"


class Options:
    """Tunables of one store; the defaults are those of `make run`."""

    def __init__(self, port=8180, host="127.0.0.1", slow=0, drop=0, no_length=False,
                 check_code=False, stall=0.0, drop_times=0):
        self.port = port
        self.host = host
        self.slow = slow            # bytes a second for file bodies, 0 = full speed
        self.drop = drop            # close file replies after this many body bytes, 0 = never
        self.drop_times = drop_times  # drop only the first so many file replies, 0 = all
        self.no_length = no_length  # file replies without Content-Length
        self.check_code = check_code
        self.stall = stall


class Misbehaviour:
    def __init__(self, slow=0, drop=0, no_length=False, chunked=False, stall=0.0):
        self.slow, self.drop, self.no_length = slow, drop, no_length
        self.chunked, self.stall = chunked, stall

    @classmethod
    def from_query(cls, query, base=None):
        m = base or cls()

        def num(name, conv, default):
            try:
                value = conv(query[name][0]) if name in query else default
            except (ValueError, IndexError, OverflowError):
                return default
            # Negative, infinite or not-a-number values would break the pacing below.
            return value if 0 <= value < 10 ** 12 else default

        return cls(slow=num("slow", int, m.slow), drop=num("drop", int, m.drop),
                   no_length=num("nolength", int, int(m.no_length)) == 1,
                   chunked=num("chunked", int, int(m.chunked)) == 1,
                   stall=num("stall", float, m.stall))


def verification_code(key):
    """The four digits the verification picture for `key` shows."""
    return f"{int(hashlib.sha1(key.encode('utf-8')).hexdigest(), 16) % 10000:04d}"


def _sniff_type(head):
    if head.startswith(b"\xff\xd8"):
        return "image/jpeg"
    if head.startswith(b"\x89PNG"):
        return "image/png"
    return "application/octet-stream"


def parse_range(value, size):
    """(start, end) inclusive, None for no usable range (answer the whole file), or "bad"
    when the range cannot be satisfied."""
    if not value:
        return None
    m = re.fullmatch(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", value)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None  # several ranges or another unit: the whole file is a valid answer
    if m.group(1) == "":
        length = int(m.group(2))
        if length == 0:
            return "bad"
        return max(0, size - length), size - 1
    start = int(m.group(1))
    end = int(m.group(2)) if m.group(2) else size - 1
    if start >= size or end < start:
        return "bad"
    return start, min(end, size - 1)


RESERVED_PAGES = (
    # (pattern, what the page is) -- these come with the desktop store pages
    (r"/(ebooks|enter)/magazine/", "杂志商店"),
    (r"/(ebooks|enter)/nivora/", "图书商店"),
    (r"/(book|magazine)/online_client\.php", "在线阅读"),
    (r"/magazine/digi_subscription\.php", "订阅"),
    (r"/ebooks?/(magazine|nivora)/index\.php/index/(bookInfo|magOneInfo)/", "书刊信息"),
    (r"/magazine/forgetpass\.php", "找回密码"),
    (r"/enter/edit_pwd\.php", "修改密码"),
)


class StoreServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, options, accounts, factory, log=None):
        self.options = options
        self.accounts = accounts
        self.factory = factory
        self.log = log
        self._dropped = 0
        self._dropped_lock = threading.Lock()
        super().__init__((options.host, options.port), Handler)

    def file_drop(self):
        """The drop switch for the next file reply (0 once the allowed drops are used up)."""
        o = self.options
        if not o.drop:
            return 0
        with self._dropped_lock:
            if o.drop_times and self._dropped >= o.drop_times:
                return 0
            self._dropped += 1
            return o.drop

    @property
    def base(self):
        host, port = self.server_address[:2]
        return f"http://{host}:{port}"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "DemoStore/1.0"
    # Errors for requests without a version still get a status line and headers.
    default_request_version = "HTTP/1.0"
    # A peer that stops sending or reading loses its connection after this many seconds.
    timeout = 120

    # -- plumbing ------------------------------------------------------------------------------

    def log_message(self, fmt, *args):
        if self.server.log:
            self.server.log("demo-store: " + (fmt % args))

    def _base(self):
        """The address the client reached us by, for the URLs in replies. The program's client
        sends Host without a port, so our own port is added then."""
        host = self.headers.get("Host", "") or ""
        port = self.server.server_address[1]
        if re.fullmatch(r"[A-Za-z0-9.\-]+", host):
            return f"http://{host}:{port}"
        if re.fullmatch(r"[A-Za-z0-9.\-]+:\d+|\[[0-9A-Fa-f:.]+\](:\d+)?", host):
            return "http://" + host
        return self.server.base

    def _parse(self):
        self.body = b""
        self.body_ok = True
        self.head_sent = False
        if self.headers.get("Content-Length") is not None:
            try:
                length = int(self.headers.get("Content-Length", "0"))
            except ValueError:
                length = -1
            if 0 <= length <= MAX_POST:
                self.body = self.rfile.read(length) if length else b""
            else:
                self.body_ok = False
                self.close_connection = True  # the unread body would be taken for a request
        parts = urlsplit(self.path)
        self.route = parts.path
        self.query = parse_qs(parts.query, keep_blank_values=True)
        self.misbehaviour = Misbehaviour.from_query(self.query)

    def q(self, name, default=""):
        v = self.query.get(name)
        return v[0] if v else default

    def _form(self):
        """The posted form (and the query) as one dict of first values."""
        fields = {k: v[0] for k, v in self.query.items()}
        if not self.body_ok:
            return None
        for k, v in parse_qs(self.body.decode("utf-8", "replace"), keep_blank_values=True).items():
            fields[k] = v[0]
        return fields

    def _send_head(self, status, ctype, length, extra, m):
        self.head_sent = True
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        # The program's own pages come from its data folder, not from this origin, and read
        # the account and list replies from their scripts.
        self.send_header("Access-Control-Allow-Origin", "*")
        for k, v in extra:
            self.send_header(k, v)
        if m.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif m.no_length:
            self.close_connection = True
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(length))
        if m.drop:
            self.close_connection = True
        self.end_headers()

    def _write_body(self, pieces, m):
        """Write an iterable of byte pieces, honouring the misbehaviour; False when dropped."""
        if m.stall:
            self.wfile.flush()
            time.sleep(min(m.stall, 60))
        sent = 0
        step = max(1, m.slow // 10) if m.slow else 0
        for piece in pieces:
            while piece:
                chunk = piece[:step] if step else piece
                if m.drop and sent + len(chunk) >= m.drop:
                    chunk = chunk[:m.drop - sent]
                    self._emit(chunk, m)
                    self.wfile.flush()
                    self._drop()
                    return False
                self._emit(chunk, m)
                sent += len(chunk)
                piece = piece[len(chunk):]
                if step:
                    self.wfile.flush()
                    time.sleep(len(chunk) / m.slow)
        if m.chunked:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()
        return True

    def _emit(self, data, m):
        if not data:
            return
        if m.chunked:
            self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")
        else:
            self.wfile.write(data)

    def _drop(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def reply(self, body, ctype="text/plain; charset=utf-8", status=200, extra=()):
        if isinstance(body, str):
            body = body.encode("utf-8")
        m = self.misbehaviour
        self._send_head(status, ctype, len(body), extra, m)
        if self.command != "HEAD":
            self._write_body([body], m)

    def reply_file(self, path, ctype=None):
        """A file with Range support; the store's misbehaviour switches apply here."""
        o = self.server.options
        base = Misbehaviour(slow=o.slow, drop=self.server.file_drop() if self.command != "HEAD"
                            else 0, no_length=o.no_length, stall=o.stall)
        m = Misbehaviour.from_query(self.query, base)
        self.misbehaviour = m
        try:
            f = open(path, "rb")
        except OSError:
            return self.reply("not found\n", status=404)
        with f:
            size = os.fstat(f.fileno()).st_size
            head = f.read(8)
            f.seek(0)
            ctype = ctype or _sniff_type(head)
            rng = parse_range(self.headers.get("Range"), size)
            extra = [("Accept-Ranges", "bytes"),
                     ("Last-Modified", self.date_time_string(int(os.fstat(f.fileno()).st_mtime)))]
            if rng == "bad":
                self.misbehaviour = Misbehaviour()
                return self.reply("", status=416, extra=[("Content-Range", f"bytes */{size}")])
            if rng is None:
                start, end, status = 0, size - 1, 200
            else:
                start, end, status = rng[0], rng[1], 206
                extra.append(("Content-Range", f"bytes {start}-{end}/{size}"))
            length = end - start + 1
            self._send_head(status, ctype, length, extra, m)
            if self.command == "HEAD":
                return
            f.seek(start)

            def pieces(left=length):
                while left > 0:
                    data = f.read(min(65536, left))
                    if not data:
                        return
                    left -= len(data)
                    yield data

            try:
                self._write_body(pieces(), m)
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True

    # -- dispatch ------------------------------------------------------------------------------

    def do_GET(self):
        self._parse()
        try:
            self.dispatch()
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            self.close_connection = True
        except Exception as e:  # a fault of ours: tell the peer instead of cutting it off
            self.close_connection = True
            print(f"demo-store: {self.command} {self.path}: {type(e).__name__}: {e}")
            if not self.head_sent:
                self.misbehaviour = Misbehaviour()
                self.reply(f"internal error: {type(e).__name__}\n", status=500)

    do_HEAD = do_GET

    def do_POST(self):
        self.do_GET()

    def do_OPTIONS(self):
        self._parse()
        self.reply("", status=204, extra=[("Access-Control-Allow-Methods", "GET, POST, HEAD"),
                                          ("Access-Control-Allow-Headers", "Content-Type"),
                                          ("Access-Control-Max-Age", "600")])

    def dispatch(self):
        r = self.route
        routes = (
            (r"/(ebooks|enter)/api/", self.api),
            (r"/ebooks/update\.xml", self.update_list),
            (r"/ebooks/update/([A-Za-z0-9_.\-]+)", self.update_file),
            (r"/ebooks/files/(mag|book)/(\d+)\.exe", self.issue_file),
            (r"/ebooks/covers/(mag|book)/(\d+)(_s)?\.jpg", self.cover),
            (r"/ebooks/system/index\.php/index/magBuy/?", self.buy),
            (r"/(ebooks|enter)/nivora/index\.php/[Uu]ser[Ll]ogin/clientCode/?", self.code_picture),
            (r"/(ebooks|enter)/nivora/index\.php/userLogin/login/?", self.login),
            (r"/(ebooks|enter)/nivora/index\.php/userLogin/reg/?", self.register),
            (r"/ebook/system/index\.php/index/(getUserBuy|getUserFollow)/?", self.net_list),
            (r"/ebook/(?:magazine|nivora)/index\.php/index/(getUserFav|getUserRead)/?",
             self.net_list),
            (r"/ebook/_jslib/common/dgView\.js", self.dg_view),
            (r"/demo-store/status", self.status),
        )
        for pattern, handler in routes:
            m = re.fullmatch(pattern, r)
            if m:
                return handler(*m.groups())
        for pattern, what in RESERVED_PAGES:
            if re.fullmatch(pattern, r):
                return self.reserved_page(what)
        self.reply("not found\n", status=404)

    # -- API -----------------------------------------------------------------------------------

    def api(self, _section):
        act = self.q("act")
        if act == "sortClass":
            cls = self.q("class")
            if cls not in ("book", "mag"):
                return self.reply("", "text/xml; charset=utf-8")
            return self.reply(catalogue.category_xml(cls), "text/xml; charset=utf-8")
        if act == "owned":
            owned = self.server.accounts.owns(self.q("uid"), self.q("pwd"), self.q("type"),
                                              self.q("pid"))
            return self.reply("1" if owned else "0")
        issue = catalogue.find_issue(self.q("type"), self.q("pid"))
        if issue is None:
            return self.reply("", "text/xml; charset=utf-8")  # an empty reply means no record
        size = self.server.factory.exe_size(issue)
        if not size:
            path, _ = self.server.factory.ensure_issue_file(issue)
            size = os.path.getsize(path) if path else 0
        self.reply(catalogue.booklist_xml(issue, self._base(), catalogue.format_size(size)),
                   "text/xml; charset=utf-8")

    def update_list(self):
        base = self._base()
        body = ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<files>\r\n<file>"
                f"<file_name>{UPDATE_COMPONENT}</file_name><file_type>0</file_type>"
                f"<version>{UPDATE_VERSION}</version>"
                f"<url>{base}/ebooks/update/{UPDATE_COMPONENT}</url><mode>0</mode>"
                "</file>\r\n</files>\r\n")
        self.reply(body, "text/xml; charset=utf-8")

    def update_file(self, name):
        if name != UPDATE_COMPONENT:
            return self.reply("not found\n", status=404)
        path = os.path.join(self.server.factory.data_dir, "update", name)
        if not os.path.isfile(path):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path + ".tmp", "w", encoding="utf-8") as f:
                f.write(UPDATE_TEXT)
            os.replace(path + ".tmp", path)
        self.reply_file(path, "application/octet-stream")

    def issue_file(self, type_, pid):
        issue = catalogue.find_issue(type_, pid)
        if issue is None:
            return self.reply("no such issue\n", status=404)
        path, why = self.server.factory.ensure_issue_file(issue)
        if not path:
            return self.reply(f"issue file unavailable: {why}\n", status=503)
        self.reply_file(path, "application/octet-stream")

    def cover(self, type_, pid, small):
        issue = catalogue.find_issue(type_, pid)
        if issue is None:
            return self.reply("no such issue\n", status=404)
        try:
            path = self.server.factory.cover_path(issue, small=bool(small))
        except RuntimeError as e:
            return self.reply(f"cover unavailable: {e}\n", status=503)
        self.reply_file(path)

    def buy(self):
        result = self.server.accounts.buy(self.q("uid"), self.q("pwd"), self.q("type"),
                                          self.q("pid"))
        self.reply(result)

    # -- account site --------------------------------------------------------------------------

    def code_picture(self, _section):
        self.reply(png.digits_picture(verification_code(self.q("code"))), "image/png",
                   extra=[("Cache-Control", "no-store")])

    def login(self, section):
        form = self._form()
        if form is None:
            return self.reply("-1")
        if self.server.options.check_code and \
                form.get("codeVal", "") != verification_code(form.get("code", "")):
            return self.reply("-1")
        kind = "enter" if section == "enter" else "user"
        record = self.server.accounts.login(form.get("name", ""), form.get("pwd", ""), kind)
        if record is None:
            return self.reply("0")
        self.reply(json.dumps([record], ensure_ascii=False), "text/plain; charset=utf-8")

    def register(self, _section):
        form = self._form()
        if form is None:
            return self.reply(json.dumps([{"result": False, "msg": "未知错误"}],
                                         ensure_ascii=False), "text/plain; charset=utf-8")
        if self.server.options.check_code and \
                form.get("codeVal", "") != verification_code(form.get("code", "")):
            reply = {"result": False, "msg": "验证码错误"}
        else:
            ok, value = self.server.accounts.register(form.get("name", ""), form.get("pwd", ""),
                                                      form.get("pwd2", ""),
                                                      form.get("email", ""))
            reply = dict(value, result=True, msg="注册成功") if ok else \
                {"result": False, "msg": value}
        self.reply(json.dumps([reply], ensure_ascii=False), "text/plain; charset=utf-8")

    # -- network library -----------------------------------------------------------------------

    _LISTS = {"getUserBuy": "bought", "getUserFav": "fav", "getUserRead": "read",
              "getUserFollow": "follow"}

    def net_list(self, list_name):
        name = self._LISTS[list_name]
        type_ = "book" if self.q("class") == "book" else "mag"
        uid = self.q("uid")
        if self.q("act") == "del":
            done = self.server.accounts.delete_item(uid, name, type_, self.q("pid"))
            return self.reply("1" if done else "0")
        items = self.server.accounts.list_items(uid, name, type_) or []
        base = self._base()
        out = [{"pic": catalogue.issue_urls(i, base)["pic1"], "pid": i.pid,
                "title": f"{i.name} {i.date}", "id": i.record_id} for i in items]
        self.reply(json.dumps(out, ensure_ascii=False), "text/plain; charset=utf-8")

    # -- pages of other issues -----------------------------------------------------------------

    def dg_view(self):
        self.reply("/* book information layer: comes with the store pages */\n",
                   "application/javascript; charset=utf-8")

    def reserved_page(self, what):
        body = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>演示商店</title>"
                "</head><body><h1>演示商店</h1>"
                f"<p>{html.escape(what)}页面尚未提供。</p>"
                f"<p>{html.escape(self.path)}</p></body></html>\n")
        self.reply(body, "text/html; charset=utf-8")

    def status(self):
        f = self.server.factory
        issues = {}
        for i in catalogue.ISSUES:
            issues[i.key] = {"ready": bool(f.ready_issue_file(i)), "error": f.last_error(i)}
        self.reply(json.dumps({"issue_files": f.missing_reason() or "available",
                               "pack": f.pack, "program": f.program,
                               "pictures": f.picture_mode(), "issues": issues},
                              ensure_ascii=False, indent=1), "application/json; charset=utf-8")


def start(options, data_dir, program=None, pack=None, prebuild=True, log=print,
          request_log=None):
    """A running store on a thread; answers the server (stop with shutdown())."""
    from .issues import IssueFactory
    os.makedirs(data_dir, exist_ok=True)
    accounts = accounts_mod.Accounts(os.path.join(data_dir, "accounts.json"))
    factory = IssueFactory(data_dir, program, pack)
    server = StoreServer(options, accounts, factory, log=request_log)
    thread = threading.Thread(target=server.serve_forever, name="demo-store", daemon=True)
    thread.start()
    server.thread = thread
    if prebuild:
        factory.start_background(log)
    return server


def stop(server):
    server.factory.stop()
    server.shutdown()
    server.server_close()
    server.thread.join(5)
