"""Pictures, content folders and issue files of the demo catalogue, made on demand and cached.

Layout of the data folder:
  pictures/<type>_<pid>/   cover.jpg, cover_s.jpg, p001.jpg ... and a stamp
  content/<type>_<pid>/    the folder that becomes the issue's container
  issues/<type>_<pid>.exe  the issue file made by muravel-pack, with <key>.stamp beside it

Every product is made under a per-issue lock, into a temporary name that is renamed when complete,
and remade only when its stamp (catalogue version, sizes and times of the program file and of
muravel-pack) no longer matches. A background thread may prepare everything after start-up while
requests make what they need first.
"""

import html
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import threading

from . import catalogue, png

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(os.path.dirname(HERE))
GENERATOR = os.path.join(HERE, "make_pictures.py")

COVER_SIZE = (300, 400)
SMALL_COVER_SIZE = (120, 160)
PAGE_SIZE = (480, 640)
PREVIEW_PAGES = 16      # what a reader who has not bought a paid issue may see
PACK_TIMEOUT = 120      # seconds for one muravel-pack run
PICTURE_TIMEOUT = 120   # seconds for the pictures of one issue


def default_program():
    for preset in ("release", "debug"):
        path = os.path.join(REPO, "build", preset, "app", "main", "muravel")
        if os.path.isfile(path):
            return path
    return os.path.join(REPO, "build", "release", "app", "main", "muravel")


def default_pack():
    env = os.environ.get("MURAVEL_PACK")
    if env:
        return env
    for preset in ("release", "debug"):
        path = os.path.join(REPO, "build", preset, "tools", "muravel-pack", "muravel-pack")
        if os.path.isfile(path):
            return path
    return shutil.which("muravel-pack") or os.path.join(
        REPO, "build", "release", "tools", "muravel-pack", "muravel-pack")


def _file_id(path):
    try:
        st = os.stat(path)
        return [st.st_size, st.st_mtime_ns]
    except OSError:
        return None


def _picture_python():
    """An interpreter that has PIL: this one, else the system's (a virtual environment or a
    private Python installation often lacks the Debian package), else None."""
    if importlib.util.find_spec("PIL") is not None:
        return sys.executable
    for candidate in ("/usr/bin/python3", shutil.which("python3")):
        if candidate and os.path.isfile(candidate):
            try:
                subprocess.run([candidate, "-c", "import PIL"], check=True, timeout=20,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                return candidate
            except (OSError, subprocess.SubprocessError):
                pass
    return None


def _link_or_copy(src, dst):
    # Pictures are never rewritten in place (a new set replaces the folder), so a hard link is safe.
    try:
        os.link(src, dst)
    except OSError:
        shutil.copyfile(src, dst)


def _ascii_title(issue):
    return f"{issue.type.upper()} {issue.pid}"


class IssueFactory:
    def __init__(self, data_dir, program=None, pack=None):
        self.data_dir = data_dir
        self.program = os.path.abspath(program or default_program())
        self.pack = os.path.abspath(pack or default_pack())
        self.python = _picture_python()
        self._locks = {i.key: threading.Lock() for i in catalogue.ISSUES}
        self._errors = {}
        self._errors_lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = None

    # -- state ---------------------------------------------------------------------------------

    def missing_reason(self):
        """Why issue files cannot be made, or "" when they can."""
        if not os.path.isfile(self.pack) or not os.access(self.pack, os.X_OK):
            return (f"muravel-pack not found at {self.pack} (build it: cmake --build --preset "
                    "release, or give --pack PATH)")
        if not os.path.isfile(self.program):
            return (f"program file not found at {self.program} (build it, or give "
                    "--program PATH)")
        return ""

    def picture_mode(self):
        return "PIL" if self.python else "plain PNG (PIL missing: install python3-pil)"

    def last_error(self, issue):
        with self._errors_lock:
            return self._errors.get(issue.key, "")

    def _set_error(self, issue, text):
        with self._errors_lock:
            if text:
                self._errors[issue.key] = text
            else:
                self._errors.pop(issue.key, None)

    # -- pictures ----------------------------------------------------------------------------

    def picture_dir(self, issue):
        return os.path.join(self.data_dir, "pictures", issue.key)

    def _picture_stamp(self):
        return f"{catalogue.CATALOGUE_VERSION} {'pil' if self.python else 'plain'}\n"

    def _pictures_current(self, folder):
        try:
            with open(os.path.join(folder, "stamp"), encoding="utf-8") as f:
                return f.read() == self._picture_stamp()
        except OSError:
            return False

    def _picture_jobs(self, issue, folder):
        price = f"¥{issue.price}" if issue.paid else "免费"
        title = [issue.name, issue.date, price]
        ascii_title = [_ascii_title(issue), issue.date.encode("ascii", "ignore").decode(),
                       issue.price if issue.paid else "FREE"]
        jobs = [
            {"path": os.path.join(folder, "cover.jpg"), "width": COVER_SIZE[0],
             "height": COVER_SIZE[1], "colour": list(issue.colour), "lines": title,
             "ascii": ascii_title, "kind": "cover"},
            {"path": os.path.join(folder, "cover_s.jpg"), "width": SMALL_COVER_SIZE[0],
             "height": SMALL_COVER_SIZE[1], "colour": list(issue.colour), "lines": title[:1],
             "ascii": ascii_title[:1], "kind": "cover"},
        ]
        for n in range(1, issue.pages + 1):
            jobs.append({"path": os.path.join(folder, f"p{n:03d}.jpg"), "width": PAGE_SIZE[0],
                         "height": PAGE_SIZE[1], "colour": list(issue.colour),
                         "lines": [f"{issue.name} {issue.date}"],
                         "ascii": [_ascii_title(issue)], "kind": "page", "number": n})
        return jobs

    def ensure_pictures(self, issue):
        """The folder of the issue's pictures, made when missing. Raises RuntimeError."""
        folder = self.picture_dir(issue)
        if self._pictures_current(folder):
            return folder
        with self._locks[issue.key]:
            return self._make_pictures(issue, folder)

    def _make_pictures(self, issue, folder):
        if self._pictures_current(folder):
            return folder
        tmp = folder + ".tmp"
        shutil.rmtree(tmp, ignore_errors=True)
        os.makedirs(tmp)
        jobs = self._picture_jobs(issue, tmp)
        if self.python:
            try:
                subprocess.run([self.python, GENERATOR], input=json.dumps(jobs).encode("utf-8"),
                               check=True, timeout=PICTURE_TIMEOUT, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
            except subprocess.CalledProcessError as e:
                raise RuntimeError("picture generator failed: "
                                   + e.stderr.decode("utf-8", "replace").strip()[-400:])
            except (OSError, subprocess.SubprocessError) as e:
                raise RuntimeError(f"picture generator failed: {e}")
        else:
            for job in jobs:
                with open(job["path"], "wb") as f:
                    f.write(png.plain_picture(job["width"], job["height"],
                                              tuple(job["colour"]), job["kind"] == "cover"))
        with open(os.path.join(tmp, "stamp"), "w", encoding="utf-8") as f:
            f.write(self._picture_stamp())
        shutil.rmtree(folder, ignore_errors=True)
        os.replace(tmp, folder)
        return folder

    def cover_path(self, issue, small=False):
        return os.path.join(self.ensure_pictures(issue), "cover_s.jpg" if small else "cover.jpg")

    # -- content folder ----------------------------------------------------------------------

    def content_dir(self, issue):
        return os.path.join(self.data_dir, "content", issue.key)

    def _content_files(self, issue):
        """name -> text of the generated (non-picture) files of the container."""
        pages = [f"p{n:03d}.jpg" for n in range(1, issue.pages + 1)]
        entries = "\n".join(
            f'<page id="{n}" src="{name}" width="{PAGE_SIZE[0]}" height="{PAGE_SIZE[1]}"/>'
            for n, name in enumerate(pages, 1))
        stream = (
            '<?xml version="1.0" encoding="utf-8"?>\n<XML>\n<configs>\n'
            f'<config RW="0" AllowSeeNumbers="{issue.pages}" price="" userprice="" '
            f'pid="{issue.pid}" type="{issue.type}" name="{html.escape(issue.name)}" '
            f'date="{html.escape(issue.date)}" pages="{issue.pages}"/>\n'
            f"</configs>\n<pages>\n{entries}\n</pages>\n</XML>\n")

        def view(names, note):
            imgs = "\n".join(f'<div class="page"><img src="{n}" alt="{i}"></div>'
                             for i, n in enumerate(names, 1))
            return (
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                f"<title>{html.escape(issue.name)} {html.escape(issue.date)}</title>\n"
                "<style>body{margin:0;background:#555;text-align:center;font-family:sans-serif}"
                ".page{margin:12px auto}.page img{max-width:100%;box-shadow:0 0 6px #000}"
                ".note{color:#fff;padding:16px}</style></head>\n<body>\n"
                f'<div class="note">{html.escape(issue.name)} {html.escape(issue.date)}</div>\n'
                f"{imgs}\n{note}</body></html>\n")

        preview = pages[:PREVIEW_PAGES]
        rest = len(pages) - len(preview)
        note1 = (f'<div class="note" id="preview-end">试读结束，购买后可阅读全部{len(pages)}页'
                 "</div>\n" if rest > 0 else "")
        return {"stream": stream, "view1.html": view(preview, note1), "view2.html": view(pages, "")}

    def ensure_content(self, issue):
        """The content folder of the issue, made when missing. Raises RuntimeError."""
        pictures = self.ensure_pictures(issue)
        folder = self.content_dir(issue)
        stamp = catalogue.CATALOGUE_VERSION + " " + self._picture_stamp()
        stamp_path = os.path.join(self.data_dir, "content", issue.key + ".stamp")
        with self._locks[issue.key]:
            try:
                with open(stamp_path, encoding="utf-8") as f:
                    if f.read() == stamp and os.path.isdir(folder):
                        return folder
            except OSError:
                pass
            tmp = folder + ".tmp"
            shutil.rmtree(tmp, ignore_errors=True)
            os.makedirs(tmp)
            for name, text in self._content_files(issue).items():
                with open(os.path.join(tmp, name), "w", encoding="utf-8", newline="\n") as f:
                    f.write(text)
            _link_or_copy(os.path.join(pictures, "cover.jpg"), os.path.join(tmp, "coverFlash.jpg"))
            for n in range(1, issue.pages + 1):
                name = f"p{n:03d}.jpg"
                _link_or_copy(os.path.join(pictures, name), os.path.join(tmp, name))
            shutil.rmtree(folder, ignore_errors=True)
            os.replace(tmp, folder)
            with open(stamp_path, "w", encoding="utf-8") as f:
                f.write(stamp)
            return folder

    # -- issue files -------------------------------------------------------------------------

    def issue_path(self, issue):
        return os.path.join(self.data_dir, "issues", issue.key + ".exe")

    def pack_arguments(self, issue, folder, out):
        args = [self.pack, "issue", "--program", self.program, "--folder", folder, "--out", out,
                "--pid", issue.pid, "--name", issue.name, "--date", issue.date,
                "--type", issue.type, "--price-flag", issue.price_flag,
                "--reader-kind", issue.reader_kind]
        if issue.paid:
            args += ["--price", issue.price]
        args += ["--sort-id", issue.sort_id, "--open-at-first-start", issue.open_at_first_start]
        return args

    def _issue_stamp(self, issue):
        return json.dumps({"catalogue": catalogue.CATALOGUE_VERSION,
                           "program": [self.program, _file_id(self.program)],
                           "pack": [self.pack, _file_id(self.pack)],
                           "pictures": self._picture_stamp(), "key": issue.key})

    def ready_issue_file(self, issue):
        """The path of a current issue file, or None; makes nothing."""
        path = self.issue_path(issue)
        try:
            with open(path + ".stamp", encoding="utf-8") as f:
                if f.read() == self._issue_stamp(issue) and os.path.isfile(path):
                    return path
        except OSError:
            pass
        return None

    def ensure_issue_file(self, issue):
        """(path, "") once the issue file exists, else (None, why)."""
        path = self.ready_issue_file(issue)
        if path:
            return path, ""
        reason = self.missing_reason()
        if reason:
            return None, reason
        try:
            folder = self.ensure_content(issue)
            with self._locks[issue.key]:
                path = self.ready_issue_file(issue)
                if path:
                    return path, ""
                path = self.issue_path(issue)
                # Taken before the run: a program rebuilt meanwhile makes the stamp stale.
                stamp = self._issue_stamp(issue)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                tmp = path + ".tmp"
                try:
                    os.remove(tmp)
                except FileNotFoundError:
                    pass
                done = subprocess.run(self.pack_arguments(issue, folder, tmp),
                                      timeout=PACK_TIMEOUT, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT)
                if done.returncode != 0 or not os.path.isfile(tmp):
                    out = done.stdout.decode("utf-8", "replace").strip()[-400:]
                    raise RuntimeError(f"muravel-pack failed (exit {done.returncode}): {out}")
                os.replace(tmp, path)
                with open(path + ".stamp", "w", encoding="utf-8") as f:
                    f.write(stamp)
            self._set_error(issue, "")
            return path, ""
        except (RuntimeError, OSError, subprocess.SubprocessError) as e:
            self._set_error(issue, str(e))
            return None, str(e)

    def exe_size(self, issue):
        path = self.ready_issue_file(issue)
        return os.path.getsize(path) if path else 0

    # -- background preparation --------------------------------------------------------------

    def start_background(self, log=print):
        def run():
            made = failed = 0
            for issue in catalogue.ISSUES:
                if self._stop.is_set():
                    return
                try:
                    self.ensure_pictures(issue)
                except RuntimeError as e:
                    log(f"demo-store: pictures of {issue.key}: {e}")
                    failed += 1
                    continue
                if not self.missing_reason():
                    path, why = self.ensure_issue_file(issue)
                    if path:
                        made += 1
                    else:
                        failed += 1
                        log(f"demo-store: issue file {issue.key}: {why}")
            if not self.missing_reason():
                log(f"demo-store: issue files ready: {made}, failed: {failed}")
        self._thread = threading.Thread(target=run, name="prepare", daemon=True)
        self._thread.start()

    def stop(self):
        self._stop.set()
