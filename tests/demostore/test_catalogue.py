"""Category replies, issue records (booklist layout), covers, update list and reserved pages."""

import re
import unittest
import xml.etree.ElementTree as ET

from support import TempDir, exchange, get, header, start_store, status

from demostore import catalogue

BOOKLIST_ORDER = ["id", "pid", "sort_id", "class_id", "brand_id", "feature", "name", "date",
                  "isFullSwf", "price", "exe_size", "load_url", "pic1", "s_pic", "description",
                  "rec_content", "add_time", "downlen", "filelen", "down", "type", "savepath"]
CDATA = {"name", "load_url", "description", "rec_content", "savepath"}


def parse_booklist(text):
    """The fields of the one record of a booklist reply, checking its layout on the way."""
    prefix = '<?xml version="1.0" encoding="utf-8"?>\r\n<api>\r\n<booklist>'
    assert text.startswith(prefix), text[:80]
    assert text.endswith("</booklist></api>\r\n"), text[-40:]
    inner = text[len(prefix):-len("</booklist></api>\r\n")]
    fields = {}
    names = []
    for m in re.finditer(r"<(\w+)>(.*?)</\1>\r\n", inner, re.S):
        name, value = m.group(1), m.group(2)
        if name in CDATA:
            assert value.startswith("<![CDATA[") and value.endswith("]]>"), (name, value)
            value = value[9:-3]
        names.append(name)
        fields[name] = value
    rest = re.sub(r"<(\w+)>(.*?)</\1>\r\n", "", inner, flags=re.S)
    assert rest == "", rest  # nothing between or around the elements
    return names, fields


class CatalogueTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        # No issue files in this suite: a pack path that does not exist.
        cls.store = start_store(cls.tmp.path, pack="/nonexistent/muravel-pack")
        cls.port = cls.store.server_address[1]

    @classmethod
    def tearDownClass(cls):
        from demostore import server
        server.stop(cls.store)
        cls.tmp.cleanup()

    def api(self, query):
        head, body = get(self.port, "/ebooks/api/?vs=1" + query)
        self.assertEqual(status(head), 200)
        return body.decode("utf-8")

    def test_category_replies_have_two_or_more_chinese_categories_with_items(self):
        for cls in ("book", "mag"):
            with self.subTest(cls=cls):
                root = ET.fromstring(self.api(f"&act=sortClass&class={cls}&source=").encode())
                self.assertEqual(root.tag, "api")
                sorts = root.findall("sort")
                self.assertGreaterEqual(len(sorts), 2)
                for s in sorts:
                    self.assertTrue(s.get("id"))
                    self.assertRegex(s.get("sort_name"), "[\u4e00-\u9fff]")
                    for item in s.findall("item"):
                        self.assertEqual(item.get("p_id"), s.get("id"))
                        self.assertTrue(item.get("id") and item.get("sort_name"))
        self.assertEqual(self.api("&act=sortClass&class=other&source="), "")

    def test_every_issue_record_has_the_booklist_layout(self):
        seen = {"mag": 0, "book": 0}
        kinds, prices = set(), set()
        mag_sorts = {s.id for s in catalogue.MAG_CATEGORIES}
        book_sorts = {s.id for s in catalogue.BOOK_CATEGORIES}
        for issue in catalogue.ISSUES:
            with self.subTest(pid=issue.pid):
                names, f = parse_booklist(
                    self.api(f"&type={issue.type}&pid={issue.pid}&source="))
                self.assertEqual(names, BOOKLIST_ORDER)
                self.assertEqual((f["pid"], f["type"], f["down"], f["savepath"]),
                                 (issue.pid, issue.type, "0", ""))
                self.assertIn(f["sort_id"], mag_sorts if issue.type == "mag" else book_sorts)
                self.assertRegex(f["name"], "[\u4e00-\u9fff]")
                base = f"http://127.0.0.1:{self.port}"
                self.assertEqual(f["load_url"], f"{base}/ebooks/files/{issue.type}/{issue.pid}.exe")
                self.assertTrue(f["pic1"].startswith(base + "/ebooks/covers/"))
                seen[issue.type] += 1
                kinds.add(issue.reader_kind)
                prices.add(issue.paid)
        self.assertGreaterEqual(seen["mag"], 12)
        self.assertGreaterEqual(seen["book"], 6)
        self.assertEqual(kinds, {"0", "1"})
        self.assertEqual(prices, {True, False})

    def test_request_as_the_program_sends_it(self):
        # Host without a port, an empty Referer, a form Content-Type on GET, Connection: close.
        raw = ("GET /ebooks/api/?vs=1&type=mag&pid=55001&source= HTTP/1.1\r\n"
               "Host: 127.0.0.1\r\nAccept: */*\r\nReferer: \r\n"
               "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\n"
               "Cache-Control: no-cache\r\nConnection: close\r\n\r\n").encode()
        head, body = exchange(self.port, raw)
        self.assertTrue(head.startswith("HTTP/1.1 200"))
        self.assertLess(len(head), 2050)
        _, fields = parse_booklist(body.decode("utf-8"))
        self.assertEqual(fields["load_url"],
                         f"http://127.0.0.1:{self.port}/ebooks/files/mag/55001.exe")
        head, cover = exchange(self.port, raw.replace(
            b"/ebooks/api/?vs=1&type=mag&pid=55001&source=", b"/ebooks/covers/mag/55001.jpg")
            .replace(b"Referer: \r\n", b"Referer: \r\nRange:bytes=10-\r\n"))
        self.assertTrue(head.startswith("HTTP/1.1 206"))

    def test_unknown_issue_gives_an_empty_reply(self):
        for query in ("&type=mag&pid=1&source=", "&type=book&pid=55001&source=",
                      "&type=&pid=&source="):
            with self.subTest(query=query):
                self.assertEqual(self.api(query), "")

    def test_cdata_values_holding_the_section_end_stay_readable(self):
        issue = catalogue.Issue(
            record_id="1", pid="9", type="mag", sort_id="1", class_id="1", brand_id="1",
            name="a]]>b", date="d<1", price="0", reader_kind="0", pages=1, colour=(0, 0, 0))
        text = catalogue.booklist_xml(issue, "http://h")
        root = ET.fromstring(text.encode("utf-8"))
        self.assertEqual(root.find("booklist/name").text, "a]]>b")
        self.assertEqual(root.find("booklist/date").text, "d<1")

    def test_covers_are_jpeg_or_png_pictures(self):
        for suffix in ("", "_s"):
            head, body = get(self.port, f"/ebooks/covers/mag/55001{suffix}.jpg")
            self.assertEqual(status(head), 200)
            self.assertEqual(int(header(head, "Content-Length")), len(body))
            self.assertTrue(body.startswith(b"\xff\xd8") or body.startswith(b"\x89PNG"))
        head, _ = get(self.port, "/ebooks/covers/mag/1.jpg")
        self.assertEqual(status(head), 404)

    def test_update_list_names_files_that_can_be_fetched(self):
        head, body = get(self.port, "/ebooks/update.xml")
        self.assertEqual(status(head), 200)
        root = ET.fromstring(body)
        self.assertEqual(root.tag, "files")
        entries = root.findall("file")
        self.assertTrue(entries)
        for e in entries:
            self.assertEqual([c.tag for c in e],
                             ["file_name", "file_type", "version", "url", "mode"])
            self.assertIn(e.findtext("file_type"), ("0", "1"))
            self.assertGreater(int(e.findtext("version")), 0)
            path = e.findtext("url").split(str(self.port), 1)[1]
            head, data = get(self.port, path)
            self.assertEqual(status(head), 200)
            self.assertTrue(data)

    def test_reserved_page_paths_answer_with_a_page(self):
        paths = ["/ebooks/magazine/?vs=1&user=&pass=&source=",
                 "/enter/nivora/?vs=1&user=&pass=&source=",
                 "/magazine/online_client.php?vs=1&method=clientread&user=&pass=&enpid=55001",
                 "/book/online_client.php?vs=1", "/magazine/digi_subscription.php?oemname=x&vs=5",
                 "/ebooks/nivora/index.php/index/bookInfo/?id=3013&act=getUserFav",
                 "/ebook/magazine/index.php/index/magOneInfo/?id=3001&act=getUserRead",
                 "/magazine/forgetpass.php", "/enter/edit_pwd.php",
                 "/ebook/_jslib/common/dgView.js"]
        for path in paths:
            with self.subTest(path=path):
                head, body = get(self.port, path)
                self.assertEqual(status(head), 200)
                self.assertEqual(int(header(head, "Content-Length")), len(body))
        head, _ = get(self.port, "/nothing/here")
        self.assertEqual(status(head), 404)


if __name__ == "__main__":
    unittest.main()
