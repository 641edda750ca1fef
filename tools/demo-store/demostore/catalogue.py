"""The demo catalogue: categories, magazine issues and books, and the replies that describe them.

Everything here is fixed data, so that tests and first runs see the same store every time.
Texts are Python strings; the server encodes every reply as UTF-8.
"""

from dataclasses import dataclass

# Changing anything that ends up inside an issue file (titles, pages, prices, reader kinds)
# must change this stamp, so that cached issue files and pictures are made again.
CATALOGUE_VERSION = "4"


@dataclass(frozen=True)
class Category:
    id: str
    sort_name: str
    items: tuple  # (id, p_id, sort_name) triples


@dataclass(frozen=True)
class Issue:
    record_id: str      # the store's record id (`id` of the booklist, `id` of the network lists)
    pid: str            # the issue id
    type: str           # "mag" or "book"
    sort_id: str
    class_id: str
    brand_id: str
    name: str
    date: str
    price: str          # sale price text, "0" for a free issue
    reader_kind: str    # "1": HTML view pages, "0": page reader
    pages: int
    colour: tuple       # cover background
    feature: str = ""
    description: str = ""
    rec_content: str = ""
    add_time: str = "2026-11-01 09:00:00"
    open_at_first_start: str = "1"  # a double-clicked issue file opens its issue once

    @property
    def paid(self):
        return self.price not in ("", "0", "0.00")

    @property
    def price_flag(self):
        return "1" if self.paid else "0"

    @property
    def price_cents(self):
        return parse_money(self.price)

    @property
    def key(self):
        return f"{self.type}_{self.pid}"


def parse_money(text):
    """"12.50" -> 1250; bad text -> 0."""
    try:
        whole, _, frac = text.strip().partition(".")
        return int(whole or "0") * 100 + int((frac + "00")[:2] or "0")
    except ValueError:
        return 0


def format_money(cents):
    return f"{cents // 100}.{cents % 100:02d}"


MAG_CATEGORIES = (
    Category("1", "时尚生活", (("11", "1", "服饰美容"), ("12", "1", "美食旅行"))),
    Category("2", "科技数码", (("21", "2", "数码产品"), ("22", "2", "互联网"))),
    Category("3", "财经商业", (("31", "3", "投资理财"),)),
)

BOOK_CATEGORIES = (
    Category("5", "文学小说", (("51", "5", "当代小说"), ("52", "5", "散文随笔"))),
    Category("6", "历史传记", (("61", "6", "中国历史"), ("62", "6", "人物传记"))),
)

# (brand id, publication, category, class, cover colour, reader kind, prices of its three issues)
_MAG_BRANDS = (
    ("801", "城市风尚", "1", "11", (196, 62, 92), "0", ("0", "6.00", "6.00")),
    ("802", "美食天地", "1", "12", (222, 132, 38), "1", ("0", "4.50", "0")),
    ("803", "数码前沿", "2", "21", (38, 98, 170), "0", ("5.00", "0", "5.00")),
    ("804", "财经周刊", "3", "31", (40, 120, 84), "1", ("8.00", "8.00", "0")),
)

_BOOKS = (
    ("江南旧事", "5", "51", (120, 84, 150), "1", "12.00", "一个水乡小镇三代人的悲欢。"),
    ("山海之间", "5", "52", (70, 130, 140), "1", "0", "行走于山海之间的散文集。"),
    ("长河落日", "5", "51", (180, 90, 60), "0", "15.00", "塞外长河边的边城往事。"),
    ("明清商帮", "6", "61", (110, 100, 60), "1", "9.90", "明清两代商帮的兴衰。"),
    ("丝路行记", "6", "61", (150, 120, 70), "0", "0", "沿着古丝绸之路的旅行笔记。"),
    ("书院春秋", "6", "62", (60, 80, 110), "1", "20.00", "几位书院山长的生平。"),
)


def _build_issues():
    issues = []
    record = 3001
    pid = 55001
    for brand_id, title, sort_id, class_id, colour, kind, prices in _MAG_BRANDS:
        for n, price in enumerate(prices):
            number = 8 + n
            issues.append(Issue(
                record_id=str(record), pid=str(pid), type="mag", sort_id=sort_id,
                class_id=class_id, brand_id=brand_id, name=title,
                date=f"2026年第{number}期", price=price, reader_kind=kind, pages=24,
                colour=colour, feature="热门" if n == 2 else "",
                description=f"《{title}》2026年第{number}期，共24页。",
                rec_content=f"本期推荐：{title}专题报道。",
                add_time=f"2026-{number:02d}-01 09:00:00"))
            record += 1
            pid += 1
    pid = 56001
    for n, (title, sort_id, class_id, colour, kind, price, about) in enumerate(_BOOKS):
        issues.append(Issue(
            record_id=str(record), pid=str(pid), type="book", sort_id=sort_id,
            class_id=class_id, brand_id=str(900 + n), name=title, date="2026年版",
            price=price, reader_kind=kind, pages=20, colour=colour,
            feature="新书" if n < 2 else "", description=about,
            rec_content=f"编辑推荐：{title}。", add_time="2026-10-15 09:00:00"))
        record += 1
        pid += 1
    return tuple(issues)


ISSUES = _build_issues()
_BY_KEY = {(i.type, i.pid): i for i in ISSUES}
_BY_RECORD = {(i.type, i.record_id): i for i in ISSUES}


def find_issue(type_, pid):
    return _BY_KEY.get((type_, pid))


def find_by_record_id(type_, record_id):
    return _BY_RECORD.get((type_, record_id))


def categories_of(type_):
    return BOOK_CATEGORIES if type_ == "book" else MAG_CATEGORIES


def _attr(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def category_xml(type_):
    """The category reply: api > sort(id, sort_name) > item(id, p_id, sort_name)."""
    lines = ['<?xml version="1.0" encoding="utf-8"?>', "<api>"]
    for sort in categories_of(type_):
        lines.append(f'<sort id="{_attr(sort.id)}" sort_name="{_attr(sort.sort_name)}">')
        for item_id, p_id, name in sort.items:
            lines.append(f'<item id="{_attr(item_id)}" p_id="{_attr(p_id)}" '
                         f'sort_name="{_attr(name)}"/>')
        lines.append("</sort>")
    lines.append("</api>")
    return "\r\n".join(lines) + "\r\n"


def issue_urls(issue, base):
    return {
        "load_url": f"{base}/ebooks/files/{issue.type}/{issue.pid}.exe",
        "pic1": f"{base}/ebooks/covers/{issue.type}/{issue.pid}.jpg",
        "s_pic": f"{base}/ebooks/covers/{issue.type}/{issue.pid}_s.jpg",
    }


_CDATA_FIELDS = {"name", "load_url", "description", "rec_content", "savepath"}
BOOKLIST_FIELDS = ("id", "pid", "sort_id", "class_id", "brand_id", "feature", "name", "date",
                   "isFullSwf", "price", "exe_size", "load_url", "pic1", "s_pic", "description",
                   "rec_content", "add_time", "downlen", "filelen", "down", "type", "savepath")


def booklist_xml(issue, base, exe_size=""):
    """One issue record in the booklist layout the client also uses for its shelf files."""
    urls = issue_urls(issue, base)
    values = {
        "id": issue.record_id, "pid": issue.pid, "sort_id": issue.sort_id,
        "class_id": issue.class_id, "brand_id": issue.brand_id, "feature": issue.feature,
        "name": issue.name, "date": issue.date,
        "isFullSwf": "1" if issue.reader_kind == "0" else "0",
        "price": issue.price, "exe_size": exe_size, "load_url": urls["load_url"],
        "pic1": urls["pic1"], "s_pic": urls["s_pic"], "description": issue.description,
        "rec_content": issue.rec_content, "add_time": issue.add_time,
        "downlen": "0", "filelen": "0", "down": "0", "type": issue.type, "savepath": "",
    }
    out = ['<?xml version="1.0" encoding="utf-8"?>\r\n', "<api>\r\n", "<booklist>"]
    for name in BOOKLIST_FIELDS:
        value = values[name]
        if name in _CDATA_FIELDS:
            # A value holding "]]>" would end the section early; split it across two sections.
            value = "<![CDATA[" + value.replace("]]>", "]]]]><![CDATA[>") + "]]>"
        else:
            value = value.replace("&", "&amp;").replace("<", "&lt;")
        out.append(f"<{name}>{value}</{name}>\r\n")
    out.append("</booklist>")
    out.append("</api>\r\n")
    return "".join(out)


def format_size(size):
    if size <= 0:
        return ""
    if size >= 1024 * 1024:
        return f"{size / (1024 * 1024):.1f}MB"
    return f"{max(1, size // 1024)}KB"
