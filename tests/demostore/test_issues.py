"""Issue files: the content folders, how muravel-pack is called, the cache, and the real tool."""

import json
import os
import re
import subprocess
import time
import unittest
import xml.etree.ElementTree as ET

from support import (TempDir, find_tool, get, header, make_fake_pack, start_store,
                     status)

from demostore import catalogue, issues, server

PAID_FLASH = catalogue.find_issue("mag", "55002")   # 6.00, page reader
FREE_VIEW = catalogue.find_issue("mag", "55004")    # free, view pages
PAID_BOOK = catalogue.find_issue("book", "56001")   # 12.00, view pages


def fake_program(folder):
    path = os.path.join(folder, "program")
    with open(path, "wb") as f:
        f.write(b"\x7fELF" + bytes(range(256)) * 40)
    return path


class ContentAndPackTest(unittest.TestCase):
    """Against a stand-in muravel-pack that records its calls, so these run on every machine."""

    def setUp(self):
        self.tmp = TempDir()
        self.tools = os.path.join(self.tmp.path, "tools")
        os.makedirs(self.tools)
        self.log = os.path.join(self.tools, "calls.log")
        os.environ["FAKE_PACK_LOG"] = self.log
        self.program = fake_program(self.tools)
        self.pack = make_fake_pack(self.tools)
        self.data = os.path.join(self.tmp.path, "data")
        self.store = start_store(self.data, program=self.program, pack=self.pack)
        self.port = self.store.server_address[1]

    def tearDown(self):
        server.stop(self.store)
        os.environ.pop("FAKE_PACK_LOG", None)
        os.environ.pop("FAKE_PACK_FAIL", None)
        self.tmp.cleanup()

    def calls(self):
        try:
            with open(self.log) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []

    def fetch_issue(self, issue, headers=""):
        return get(self.port, f"/ebooks/files/{issue.type}/{issue.pid}.exe", headers=headers)

    def test_pack_is_called_with_the_issue_texts(self):
        for issue, price in ((PAID_FLASH, ["--price", "6.00"]), (FREE_VIEW, []),
                             (PAID_BOOK, ["--price", "12.00"])):
            with self.subTest(pid=issue.pid):
                head, body = self.fetch_issue(issue)
                self.assertEqual(status(head), 200, body[-300:])
                args = self.calls()[-1]
                folder = os.path.join(self.data, "content", issue.key)
                out = os.path.join(self.data, "issues", issue.key + ".exe") + ".tmp"
                self.assertEqual(args, [
                    "issue", "--program", self.program, "--folder", folder, "--out", out,
                    "--pid", issue.pid, "--name", issue.name, "--date", issue.date,
                    "--type", issue.type, "--price-flag", issue.price_flag,
                    "--reader-kind", issue.reader_kind] + price +
                    ["--sort-id", issue.sort_id, "--open-at-first-start", "1"])
                with open(self.program, "rb") as f:
                    self.assertTrue(body.startswith(f.read()))

    def test_content_folder_has_page_index_views_and_pictures(self):
        for issue in (PAID_FLASH, PAID_BOOK):
            with self.subTest(pid=issue.pid):
                folder = self.store.factory.ensure_content(issue)
                names = set(os.listdir(folder))
                self.assertTrue({"stream", "view1.html", "view2.html",
                                 "coverFlash.jpg"} <= names)
                with open(os.path.join(folder, "stream"), "rb") as f:
                    root = ET.fromstring(f.read())   # UTF-8 XML
                self.assertEqual(root.tag, "XML")
                config = root.find("configs/config")
                for attr in ("RW", "AllowSeeNumbers", "price", "userprice"):
                    self.assertIn(attr, config.attrib)
                self.assertEqual(config.get("price"), "")  # the opener's price goes in
                pages = root.findall("pages/page")
                self.assertEqual(len(pages), issue.pages)
                self.assertEqual(config.get("AllowSeeNumbers"), str(issue.pages))
                srcs = [p.get("src") for p in pages]
                for src in srcs:
                    self.assertIn(src, names)
                    with open(os.path.join(folder, src), "rb") as f:
                        self.assertIn(f.read(2), (b"\xff\xd8", b"\x89P"))
                for view, count in (("view1.html", issues.PREVIEW_PAGES),
                                    ("view2.html", issue.pages)):
                    with open(os.path.join(folder, view), encoding="utf-8") as f:
                        shown = re.findall(r'<img src="([^"]+)"', f.read())
                    self.assertEqual(shown, srcs[:count])
                self.assertTrue(all(n.isascii() for n in names))

    def test_without_pil_the_pictures_are_plain_png(self):
        factory = issues.IssueFactory(os.path.join(self.tmp.path, "nopil"), self.program,
                                      self.pack)
        factory.python = None
        folder = factory.ensure_content(FREE_VIEW)
        for name in ("coverFlash.jpg", "p001.jpg"):
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(f.read(4), b"\x89PNG")
        self.assertIn("PIL missing", factory.picture_mode())

    def test_issue_files_are_cached_until_the_program_changes(self):
        self.assertEqual(status(self.fetch_issue(FREE_VIEW)[0]), 200)
        self.assertEqual(status(self.fetch_issue(FREE_VIEW)[0]), 200)
        head, body = get(self.port, f"/ebooks/api/?vs=1&type=mag&pid={FREE_VIEW.pid}&source=")
        size = os.path.getsize(self.store.factory.issue_path(FREE_VIEW))
        self.assertIn(f"<exe_size>{catalogue.format_size(size)}</exe_size>", body.decode())
        self.assertEqual(len(self.calls()), 1)
        # A new start keeps the cache.
        server.stop(self.store)
        self.store = start_store(self.data, program=self.program, pack=self.pack)
        self.port = self.store.server_address[1]
        self.assertEqual(status(self.fetch_issue(FREE_VIEW)[0]), 200)
        self.assertEqual(len(self.calls()), 1)
        # A rebuilt program file makes the issue file again.
        time.sleep(0.01)
        with open(self.program, "ab") as f:
            f.write(b"rebuilt")
        head, body = self.fetch_issue(FREE_VIEW)
        self.assertEqual(len(self.calls()), 2)
        self.assertIn(b"rebuilt", body)

    def test_record_request_makes_the_issue_file_and_ranges_resume_it(self):
        head, body = get(self.port, f"/ebooks/api/?vs=1&type=book&pid={PAID_BOOK.pid}&source=")
        self.assertRegex(body.decode(), r"<exe_size>\d+KB</exe_size>")
        whole = self.fetch_issue(PAID_BOOK)[1]
        head, part = self.fetch_issue(PAID_BOOK, headers="Range:bytes=5000-\r\n")
        self.assertEqual(status(head), 206)
        self.assertEqual(header(head, "Content-Range"), f"bytes 5000-{len(whole) - 1}/{len(whole)}")
        self.assertEqual(whole[:5000] + part, whole)

    def test_a_failing_pack_is_reported_and_tried_again(self):
        os.environ["FAKE_PACK_FAIL"] = "1"
        head, body = self.fetch_issue(PAID_FLASH)
        self.assertEqual(status(head), 503)
        self.assertIn(b"cannot write issue file", body)
        self.assertFalse(os.path.exists(self.store.factory.issue_path(PAID_FLASH)))
        status_reply = json.loads(get(self.port, "/demo-store/status")[1])
        self.assertIn("exit 3", status_reply["issues"][PAID_FLASH.key]["error"])
        del os.environ["FAKE_PACK_FAIL"]
        self.assertEqual(status(self.fetch_issue(PAID_FLASH)[0]), 200)

    def test_missing_tool_or_program_is_explained_and_the_rest_still_answers(self):
        for program, pack, why in ((self.program, "/nope/muravel-pack", "muravel-pack not found"),
                                   ("/nope/muravel", self.pack, "program file not found")):
            with self.subTest(why=why):
                server.stop(self.store)
                self.store = start_store(os.path.join(self.tmp.path, "other"), program=program,
                                         pack=pack)
                self.port = self.store.server_address[1]
                head, body = self.fetch_issue(FREE_VIEW)
                self.assertEqual(status(head), 503)
                self.assertIn(why.encode(), body)
                self.assertIn(why, json.loads(get(self.port, "/demo-store/status")[1])
                              ["issue_files"])
                head, body = get(self.port, f"/ebooks/api/?vs=1&type=mag&pid={FREE_VIEW.pid}"
                                 "&source=")
                self.assertIn(b"<exe_size></exe_size>", body)
                self.assertEqual(status(get(self.port, "/ebooks/covers/mag/55004.jpg")[0]), 200)


REAL_PACK = find_tool("MURAVEL_PACK", "build/debug/tools/muravel-pack/muravel-pack",
                      "build/release/tools/muravel-pack/muravel-pack")
REAL_PROGRAM = find_tool("MURAVEL_PROGRAM", "build/debug/app/main/muravel",
                         "build/release/app/main/muravel")


WHERE = REAL_PACK or "build/*/tools/muravel-pack/muravel-pack"


@unittest.skipUnless(REAL_PACK and os.path.isfile(REAL_PACK) and REAL_PROGRAM,
                     f"muravel-pack is not built (looked for {WHERE}): "
                     "the real issue files are not checked")
class RealPackTest(unittest.TestCase):
    def test_real_issue_files_carry_the_program_and_the_content(self):
        tmp = TempDir()
        store = start_store(tmp.path, program=REAL_PROGRAM, pack=REAL_PACK)
        try:
            port = store.server_address[1]
            for issue in (PAID_FLASH, FREE_VIEW):
                with self.subTest(pid=issue.pid):
                    head, body = get(port, f"/ebooks/files/{issue.type}/{issue.pid}.exe")
                    self.assertEqual(status(head), 200, body[-400:])
                    with open(REAL_PROGRAM, "rb") as f:
                        program = f.read()
                    self.assertGreater(len(body), len(program))
                    self.assertEqual(body[:4], program[:4])
                    folder = store.factory.content_dir(issue)
                    with open(os.path.join(folder, "stream"), "rb") as f:
                        stream = f.read()
                    self.assertIn(stream, body)  # the container holds the files' bytes
                    self.assert_container_matches(store.factory.issue_path(issue), folder, tmp)
                    # The title resource, in whichever encoding the tool stores texts.
                    self.assertTrue(issue.name.encode("gbk") in body
                                    or issue.name.encode("utf-8") in body)
        finally:
            server.stop(store)
            tmp.cleanup()

    def assert_container_matches(self, issue_file, folder, tmp):
        """When the tool can also unpack, the container must give back the folder exactly."""
        out = os.path.join(tmp.path, "unpacked-" + os.path.basename(folder))
        done = subprocess.run([REAL_PACK, "extract", issue_file, out], capture_output=True,
                              timeout=60)
        if done.returncode != 0 and b"unknown command" in done.stderr + done.stdout:
            return
        self.assertEqual(done.returncode, 0, done.stderr + done.stdout)
        self.assertEqual(sorted(os.listdir(out)), sorted(os.listdir(folder)))
        for name in os.listdir(folder):
            with open(os.path.join(out, name), "rb") as a, \
                    open(os.path.join(folder, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)


if __name__ == "__main__":
    unittest.main()
