"""Login, registration, verification picture, purchase and the network library lists."""

import json
import os
import unittest
from urllib.parse import urlencode

from support import TempDir, get, read_json, start_store, status

from demostore import accounts, server

PERSONAL_LOGIN = "/ebooks/nivora/index.php/userLogin/login"
ENTER_LOGIN = "/enter/nivora/index.php/userLogin/login"
REGISTER = "/ebooks/nivora/index.php/userLogin/reg"


def form(**fields):
    return urlencode(fields).encode("utf-8")


class AccountsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = TempDir()
        self.store = start_store(self.tmp.path, pack="/nonexistent/muravel-pack")
        self.port = self.store.server_address[1]

    def tearDown(self):
        server.stop(self.store)
        self.tmp.cleanup()

    def post(self, path, **fields):
        head, body = get(self.port, path, method="POST", body=form(**fields))
        self.assertEqual(status(head), 200)
        return body.decode("utf-8")

    def login(self, name, pwd, path=PERSONAL_LOGIN, **extra):
        fields = dict(name=name, pwd=pwd, code="1700000000000", codeVal="", checked="1",
                      source="", radio="1")
        fields.update(extra)
        return self.post(path, **fields)

    def buy(self, uid, pwd, type_, pid):
        head, body = get(self.port, "/ebooks/system/index.php/index/magBuy/?vs=1"
                         f"&uid={uid}&pwd={pwd}&type={type_}&act=client&username=&pid={pid}"
                         "&source=")
        self.assertEqual(status(head), 200)
        return body.decode("utf-8")

    def test_login_replies(self):
        cases = [  # (name, password, address, expected reply or the name in the record)
            ("demo", "demo123", PERSONAL_LOGIN, "demo"),
            (" demo ", "demo123", PERSONAL_LOGIN, "demo"),
            ("demo", "wrong", PERSONAL_LOGIN, "0"),
            ("demo", "", PERSONAL_LOGIN, "0"),
            ("nobody", "demo123", PERSONAL_LOGIN, "0"),
            ("staff@quorvex", "staff123", ENTER_LOGIN, "staff@quorvex"),
            ("staff@quorvex", "staff123", PERSONAL_LOGIN, "0"),
            ("demo", "demo123", ENTER_LOGIN, "0"),
        ]
        for name, pwd, path, expected in cases:
            with self.subTest(name=name, pwd=pwd, path=path):
                reply = self.login(name, pwd, path)
                if expected == "0":
                    self.assertEqual(reply, "0")
                    continue
                record = json.loads(reply)[0]
                self.assertEqual(set(record), {"id", "username", "password", "vip", "ubank"})
                self.assertEqual(record["username"], expected)
                self.assertRegex(record["ubank"], r"^\d+\.\d\d$")

    def test_verification_picture_and_checked_codes(self):
        head, body = get(self.port, "/enter/nivora/index.php/UserLogin/clientCode/"
                         "?r=0.42&code=1700000000123")
        self.assertEqual(status(head), 200)
        self.assertTrue(body.startswith(b"\x89PNG"))
        server.stop(self.store)
        self.store = start_store(self.tmp.path, pack="/nonexistent", check_code=True)
        self.port = self.store.server_address[1]
        code = "1700000000123"
        self.assertEqual(self.login("demo", "demo123", code=code, codeVal="x"), "-1")
        good = self.login("demo", "demo123", code=code, codeVal=server.verification_code(code))
        self.assertEqual(json.loads(good)[0]["username"], "demo")

    def test_registration_checks_and_creates_an_account(self):
        ok = dict(name="新读者_1", pwd="secret1", pwd2="secret1", email="new@example.com",
                  code="", codeVal="", source="")
        refused = [  # (changes, message)
            (dict(name=""), "用户名不能为空"),
            (dict(name="ab"), "用户名由汉字、字母、数字、下划线组成,3-12个字符"),
            (dict(name="a b c"), "用户名由汉字、字母、数字、下划线组成,3-12个字符"),
            (dict(name="abcdefghijklm"), "用户名由汉字、字母、数字、下划线组成,3-12个字符"),
            (dict(pwd="12345", pwd2="12345"), "密码不能小于6位"),
            (dict(pwd2="secret2"), "两次密码不一致"),
            (dict(email="new@example"), "邮箱不正确"),
            (dict(name="demo"), "用户名已存在"),
        ]
        for changes, message in refused:
            with self.subTest(changes=changes):
                reply = json.loads(self.post(REGISTER, **dict(ok, **changes)))[0]
                self.assertEqual((reply["result"], reply["msg"]), (False, message))
        reply = json.loads(self.post(REGISTER, **ok))[0]
        self.assertIs(reply["result"], True)
        self.assertEqual(reply["username"], "新读者_1")
        self.assertEqual(reply["ubank"], "20.00")
        for key in ("id", "password", "vip", "msg"):
            self.assertTrue(reply[key])
        again = json.loads(self.post(REGISTER, **ok))[0]
        self.assertEqual(again["msg"], "用户名已存在")
        self.assertEqual(json.loads(self.login("新读者_1", "secret1"))[0]["id"], reply["id"])

    def test_purchase_replies_follow_the_balance_and_the_purchases(self):
        demo = json.loads(self.login("demo", "demo123"))[0]
        reader = json.loads(self.login("reader", "reader123"))[0]
        uid, token = demo["id"], demo["password"]
        cases = [  # (uid, pwd, type, pid, reply)
            (uid, token, "mag", "55002", "1"),         # 6.00 of 100.00
            (uid, token, "mag", "55002", "exist"),
            (uid, "demo123", "mag", "55003", "exist"),  # bought at the start; plain password
            (uid, token, "book", "56006", "1"),        # 20.00
            (uid, "wrong", "mag", "55006", "error"),
            (uid, token, "mag", "55001", "error"),     # free issue
            (uid, token, "mag", "99999", "error"),
            ("", "", "mag", "55006", "error"),          # nobody logged in
            (reader["id"], reader["password"], "mag", "55002", "lack"),  # 6.00 of 3.00
        ]
        for case in cases:
            with self.subTest(case=case):
                self.assertEqual(self.buy(*case[:4]), case[4])
        after = json.loads(self.login("demo", "demo123"))[0]
        self.assertEqual(after["ubank"], "74.00")
        owned = get(self.port, f"/ebooks/api/?vs=1&act=owned&uid={uid}&pwd={token}"
                    "&type=mag&pid=55002&source=")[1]
        self.assertEqual(owned, b"1")
        # Kept across a restart.
        server.stop(self.store)
        self.store = start_store(self.tmp.path, pack="/nonexistent")
        self.port = self.store.server_address[1]
        self.assertEqual(self.buy(uid, token, "mag", "55002"), "exist")
        saved = read_json(os.path.join(self.tmp.path, "accounts.json"))
        self.assertEqual([a["balance"] for a in saved["accounts"] if a["id"] == uid], [7400])

    def net_list(self, path):
        head, body = get(self.port, path)
        self.assertEqual(status(head), 200)
        return body.decode("utf-8")

    def test_network_lists_and_deletion(self):
        uid = json.loads(self.login("demo", "demo123"))[0]["id"]
        lists = {
            "getUserBuy": "/ebook/system/index.php/index/getUserBuy/?class={c}&uid={u}",
            "getUserFollow": "/ebook/system/index.php/index/getUserFollow/?class={c}&uid={u}",
            "getUserFav": "/ebook/{s}/index.php/index/getUserFav/?class={c}&uid={u}",
            "getUserRead": "/ebook/{s}/index.php/index/getUserRead/?class={c}&uid={u}",
        }
        seen = {}
        for name, pattern in lists.items():
            for section, cls in (("magazine", "mag"), ("nivora", "book")):
                items = json.loads(self.net_list(pattern.format(s=section, c=cls, u=uid)))
                for item in items:
                    self.assertEqual(set(item), {"pic", "pid", "title", "id"})
                    self.assertTrue(item["pic"].endswith(f"/{cls}/{item['pid']}.jpg"))
                seen[(name, cls)] = items
        self.assertEqual([i["pid"] for i in seen[("getUserBuy", "mag")]], ["55003"])
        self.assertEqual([i["pid"] for i in seen[("getUserFav", "book")]], ["56002"])
        self.assertEqual([i["pid"] for i in seen[("getUserFollow", "mag")]], ["55007"])

        fav = seen[("getUserFav", "mag")][0]
        delete = (f"/ebook/magazine/index.php/index/getUserFav/?act=del&class=mag"
                  f"&pid={fav['id']}&uid={uid}")
        self.assertEqual(self.net_list(delete.replace(fav["id"], fav["pid"])), "0")  # by pid: no
        self.assertEqual(self.net_list(delete), "1")
        self.assertEqual(self.net_list(delete), "0")
        self.assertEqual(json.loads(self.net_list(lists["getUserFav"].format(
            s="magazine", c="mag", u=uid))), [])
        bought = seen[("getUserBuy", "mag")][0]
        self.assertEqual(self.net_list(
            f"/ebook/system/index.php/index/getUserBuy/?act=del&class=mag&pid={bought['id']}"
            f"&uid={uid}"), "0")
        self.assertEqual(json.loads(self.net_list(lists["getUserRead"].format(
            s="magazine", c="mag", u="-1"))), [])

    def test_unreadable_accounts_file_is_kept_aside(self):
        server.stop(self.store)
        path = os.path.join(self.tmp.path, "accounts.json")
        with open(path, "w") as f:
            f.write("{not json")
        self.store = start_store(self.tmp.path, pack="/nonexistent")
        self.port = self.store.server_address[1]
        with open(path + ".broken") as f:
            self.assertEqual(f.read(), "{not json")
        self.assertEqual(len(read_json(path)["accounts"]), len(accounts.DEMO_ACCOUNTS))


if __name__ == "__main__":
    unittest.main()
