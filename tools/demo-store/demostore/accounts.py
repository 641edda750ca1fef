"""Accounts of the demo store, kept in accounts.json of the data folder.

Each account has a balance in cents, the issues it bought and its three editable network lists
(favourites, reading, followed). The file is rewritten whole, through a temporary file and a
rename, after every change, so that a crash never leaves half a file behind.
"""

import copy
import hashlib
import json
import os
import re
import threading

from . import catalogue

# The accounts of a fresh start; the README lists them.
DEMO_ACCOUNTS = (
    {"name": "demo", "password": "demo123", "kind": "user", "vip": "1", "balance": 10000,
     "email": "demo@example.com",
     "bought": [["mag", "55003"], ["book", "56001"]],
     "fav": [["mag", "55002"], ["book", "56002"]],
     "read": [["mag", "55001"], ["book", "56005"]],
     "follow": [["mag", "55007"]]},
    {"name": "reader", "password": "reader123", "kind": "user", "vip": "0", "balance": 300,
     "email": "reader@example.com", "bought": [], "fav": [], "read": [], "follow": []},
    {"name": "staff@quorvex", "password": "staff123", "kind": "enter", "vip": "1",
     "balance": 50000, "email": "staff@example.com", "bought": [["mag", "55010"]],
     "fav": [], "read": [], "follow": []},
)

NEW_ACCOUNT_BALANCE = 2000
LISTS = ("bought", "fav", "read", "follow")

_NAME_RE = re.compile(r"^[A-Za-z0-9_\u4e00-\u9fa5]{3,12}$")
_EMAIL_RE = re.compile(r"^[\w.+-]+@[A-Za-z0-9-]+(\.[A-Za-z]+){1,3}$")


def password_token(password):
    """What the login reply hands out as the password: the program sends it back as pass=/pwd=."""
    return hashlib.md5(password.encode("utf-8")).hexdigest()


class Accounts:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.data = None
        self._load()

    # -- storage --------------------------------------------------------------------------------

    def _load(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                data = json.load(f)
            if not isinstance(data.get("accounts"), list):
                raise ValueError("no account list")
        except FileNotFoundError:
            data = None
        except (OSError, ValueError) as e:
            # Keep the unreadable file for inspection instead of overwriting it silently.
            broken = self.path + ".broken"
            os.replace(self.path, broken)
            print(f"demo-store: {self.path} was unreadable ({e}); kept as {broken}, "
                  "starting with the demo accounts")
            data = None
        if data is None:
            data = {"next_id": 1, "accounts": []}
            for seed in DEMO_ACCOUNTS:
                account = copy.deepcopy(seed)
                account["id"] = str(data["next_id"])
                data["next_id"] += 1
                data["accounts"].append(account)
            self.data = data
            self._save()
        else:
            self.data = data

    def _save(self):
        folder = os.path.dirname(self.path) or "."
        os.makedirs(folder, exist_ok=True)
        tmp = self.path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.data, f, ensure_ascii=False, indent=1)
        os.replace(tmp, self.path)

    # -- lookups ------------------------------------------------------------------------------

    def _by_name(self, name):
        for a in self.data["accounts"]:
            if a["name"] == name:
                return a
        return None

    def _by_id(self, uid):
        for a in self.data["accounts"]:
            if a["id"] == uid:
                return a
        return None

    @staticmethod
    def _password_ok(account, given):
        return given != "" and given in (account["password"], password_token(account["password"]))

    @staticmethod
    def reply_record(account):
        return {"id": account["id"], "username": account["name"],
                "password": password_token(account["password"]), "vip": account.get("vip", "0"),
                "ubank": catalogue.format_money(account["balance"])}

    def get(self, uid):
        with self.lock:
            a = self._by_id(uid)
            return copy.deepcopy(a) if a else None

    # -- login and registration ---------------------------------------------------------------

    def login(self, name, password, kind):
        """The account record for the login reply, or None for a wrong name or password.
        Personal logins (kind "user") find personal accounts, enterprise logins enterprise ones."""
        with self.lock:
            a = self._by_name(name.strip())
            if a is None or a.get("kind", "user") != kind or not self._password_ok(a, password):
                return None
            return self.reply_record(a)

    def register(self, name, pwd, pwd2, email):
        """(True, record) or (False, message)."""
        name = name.strip()
        if not name:
            return False, "用户名不能为空"
        if not _NAME_RE.match(name):
            return False, "用户名由汉字、字母、数字、下划线组成,3-12个字符"
        if len(pwd) < 6:
            return False, "密码不能小于6位"
        if pwd != pwd2:
            return False, "两次密码不一致"
        if not _EMAIL_RE.match(email):
            return False, "邮箱不正确"
        with self.lock:
            if self._by_name(name) is not None:
                return False, "用户名已存在"
            account = {"id": str(self.data["next_id"]), "name": name, "password": pwd,
                       "kind": "user", "vip": "0", "balance": NEW_ACCOUNT_BALANCE,
                       "email": email, "bought": [], "fav": [], "read": [], "follow": []}
            self.data["next_id"] += 1
            self.data["accounts"].append(account)
            self._save()
            return True, self.reply_record(account)

    # -- purchase and ownership ---------------------------------------------------------------

    def buy(self, uid, pwd, type_, pid):
        """"1" bought, "exist" already bought, "lack" balance too low, "error" otherwise."""
        issue = catalogue.find_issue(type_, pid)
        with self.lock:
            a = self._by_id(uid)
            if a is None or not self._password_ok(a, pwd) or issue is None or not issue.paid:
                return "error"
            if [type_, pid] in a["bought"]:
                return "exist"
            if a["balance"] < issue.price_cents:
                return "lack"
            a["balance"] -= issue.price_cents
            a["bought"].append([type_, pid])
            self._save()
            return "1"

    def owns(self, uid, pwd, type_, pid):
        with self.lock:
            a = self._by_id(uid)
            return bool(a and self._password_ok(a, pwd) and [type_, pid] in a["bought"])

    # -- network lists ------------------------------------------------------------------------

    def list_items(self, uid, list_name, type_):
        """[(issue, ...)] of the account's list, filtered by type; None for an unknown account."""
        with self.lock:
            a = self._by_id(uid)
            if a is None:
                return None
            out = []
            for t, pid in a.get(list_name, []):
                issue = catalogue.find_issue(t, pid)
                if t == type_ and issue is not None:
                    out.append(issue)
            return out

    def delete_item(self, uid, list_name, type_, record_id):
        """True when the entry with this record id was in the list and is gone."""
        if list_name == "bought":
            return False
        issue = catalogue.find_by_record_id(type_, record_id)
        if issue is None:
            return False
        with self.lock:
            a = self._by_id(uid)
            entry = [type_, issue.pid]
            if a is None or entry not in a.get(list_name, []):
                return False
            a[list_name] = [e for e in a[list_name] if e != entry]
            self._save()
            return True
