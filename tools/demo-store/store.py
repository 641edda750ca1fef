#!/usr/bin/env python3
"""The demo store: the store's servers (client API, update list, purchase, accounts, network
library lists, issue files and covers) on one loopback port, for local runs and tests.

    python3 tools/demo-store/store.py [--port 8180] [--data DIR] [--program PATH] [--pack PATH]
                                      [--slow BPS] [--drop BYTES [--drop-times N]] [--no-length]
                                      [--check-code] [--no-prebuild] [--quiet]

Prints "demo-store: listening on http://127.0.0.1:PORT" first (--port 0 takes a free port),
then the demo accounts and whether issue files can be made. Tests that use the store as their
peer start it with a fresh --data folder, --no-prebuild and --quiet, and wait for the port.
Ends on SIGINT or SIGTERM.
"""

import argparse
import os
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from demostore import accounts, issues, server  # noqa: E402

DEFAULT_DATA = os.path.join(issues.REPO, "build", "demo-store")


def parse_args(argv):
    p = argparse.ArgumentParser(description="Stand-in for the store's servers (loopback only).")
    p.add_argument("--port", type=int, default=8180, help="port (default 8180, 0 = any free one)")
    p.add_argument("--data", default=DEFAULT_DATA,
                   help="folder for accounts.json and the cached pictures and issue files")
    p.add_argument("--program", default=None,
                   help="program file the issue files are made from (default: the built muravel)")
    p.add_argument("--pack", default=None, help="muravel-pack (default: the built one)")
    p.add_argument("--slow", type=int, default=0, metavar="BPS",
                   help="send files at about BPS bytes a second")
    p.add_argument("--drop", type=int, default=0, metavar="BYTES",
                   help="close every file reply after BYTES bytes of its body")
    p.add_argument("--drop-times", type=int, default=0, metavar="N",
                   help="with --drop: drop only the first N file replies (default: all)")
    p.add_argument("--no-length", action="store_true",
                   help="send files without Content-Length (the body ends with the connection)")
    p.add_argument("--check-code", action="store_true",
                   help="make login and registration check the verification picture's digits")
    p.add_argument("--no-prebuild", action="store_true",
                   help="make pictures and issue files only when asked for")
    p.add_argument("--quiet", action="store_true", help="do not log requests")
    return p.parse_args(argv)


def _interrupt(*_):
    # Only raise here: setting an Event from a handler can deadlock when the signal lands while
    # the main thread holds that Event's lock.
    raise KeyboardInterrupt


def _announce(store, data):
    f = store.factory
    print(f"demo-store: listening on {store.base}", flush=True)
    print(f"demo-store: data folder {data}")
    print("demo-store: demo accounts (name / password / balance):")
    for a in accounts.DEMO_ACCOUNTS:
        kind = "enterprise" if a["kind"] == "enter" else "personal"
        print(f"  {a['name']:<14} {a['password']:<10} {a['balance'] // 100}.{a['balance'] % 100:02d}"
              f"  ({kind})")
    why = f.missing_reason()
    print("demo-store: issue files: " + (f"missing, {why}" if why else f"made from {f.program}"))
    print(f"demo-store: pictures: {f.picture_mode()}", flush=True)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    options = server.Options(port=args.port, slow=args.slow, drop=args.drop,
                             drop_times=args.drop_times,
                             no_length=args.no_length, check_code=args.check_code)
    data = os.path.abspath(args.data)
    signal.signal(signal.SIGTERM, _interrupt)
    store = None
    try:
        try:
            store = server.start(options, data, args.program, args.pack,
                                 prebuild=not args.no_prebuild,
                                 request_log=None if args.quiet else
                                 (lambda line: print(line, file=sys.stderr, flush=True)))
        except OSError as e:
            print(f"demo-store: cannot listen on {options.host}:{options.port}: {e}",
                  file=sys.stderr)
            return 1
        _announce(store, data)
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        return 0
    finally:
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, signal.SIG_IGN)
        # Ending never waits long: a stop that stalls (a worker inside a tool run, say) is cut.
        watchdog = threading.Timer(10, lambda: os._exit(3))
        watchdog.daemon = True
        watchdog.start()
        if store is not None:
            server.stop(store)


if __name__ == "__main__":
    sys.exit(main())
