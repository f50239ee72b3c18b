#!/usr/bin/env python3
"""What one `tavlo check` of an IMAP account costs, and how fast the IMAP client fetches.

    scripts/bench-imap.py [--tavlo build/linux/tavlo]
                          [--fetch-bench build/linux/tests/bench/imap_fetch_bench]
                          [--runs 5] [--ssl] [--dir DIR] [--fetch-sizes 1,50]

Against a private Dovecot instance (the one in DIR when given and running,
else one started in a temporary folder and stopped at the end):

1. One check: a mailbox with unseen mail, so that the whole dialogue runs
   (LOGIN, STATUS "INBOX" (UNSEEN), STATUS "INBOX" (UIDNEXT), LOGOUT; RFC
   3501), once through `tavlo check` with one IMAP account and once through a
   reference client written here with Python's socket module that sends the
   same lines. Wall time, bytes and peak RSS are measured as
   scripts/bench-pop3.py measures them (whose measuring pieces this script
   uses): median wall of --runs after a warm-up, each client a process of its
   own; TCP payload bytes through a counting relay (a separate run); peak RSS
   by /usr/bin/time -f %M.
2. FETCH: a message of each size in --fetch-sizes (MB) is delivered, and
   imap_fetch_bench (tests/bench/) fetches it with the client into its data
   source (memory up to 30000 bytes, a temporary mapped file above). Printed:
   the time of the FETCH itself (command to completion, inside the program),
   the throughput from it, the process's wall time and its peak RSS.

Figures are printed, nothing is asserted. Root is needed to run Dovecot.
"""

import argparse
import os
import socket
import ssl
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402

from bench_support import bench_pop3 as bench  # noqa: E402

CA = os.path.join(harness.TLS_DIR, "ca.crt")
CHECK_USER = ("benchimap", "bench-imap-secret")


def fetch_user(size):
    return "benchfetch%d" % size, "bench-fetch-%d-secret" % size


# --------------------------------------------------------------------------
# The reference client (run as a process of its own: --reference)
# --------------------------------------------------------------------------


def imap_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reference_client(host, port, user, password, ca):
    """The check's dialogue; prints "UNSEEN UIDNEXT MS"."""
    started = time.perf_counter()
    sock = socket.create_connection((host, port), timeout=30)
    if ca:
        sock = ssl.create_default_context(cafile=ca).wrap_socket(sock, server_hostname=host)
    pending = b""
    tag = 0

    def read_line():
        nonlocal pending
        while b"\r\n" not in pending:
            chunk = sock.recv(65536)
            if not chunk:
                raise SystemExit("server closed the connection")
            pending += chunk
        line, pending = pending.split(b"\r\n", 1)
        return line

    def command(text):
        nonlocal tag
        tag += 1
        name = b"A%04d" % tag
        sock.sendall(name + b" " + text.encode("latin-1") + b"\r\n")
        untagged = []
        while True:
            line = read_line()
            if line.startswith(name + b" "):
                if not line[len(name) + 1:].upper().startswith(b"OK"):
                    raise SystemExit("refused: %r" % line)
                return untagged
            untagged.append(line)

    def status_item(lines, item):
        for line in lines:
            words = line.replace(b"(", b" ").replace(b")", b" ").split()
            if item in words:
                return int(words[words.index(item) + 1])
        return 0

    read_line()  # the greeting
    command("LOGIN %s %s" % (imap_quote(user), imap_quote(password)))
    unseen = status_item(command('STATUS "INBOX" (UNSEEN)'), b"UNSEEN")
    uidnext = status_item(command('STATUS "INBOX" (UIDNEXT)'), b"UIDNEXT") if unseen else 0
    command("LOGOUT")
    sock.close()
    print(unseen, uidnext, "%.1f" % ((time.perf_counter() - started) * 1000))


# --------------------------------------------------------------------------
# The clients
# --------------------------------------------------------------------------


def reference(user, password, use_tls):
    host = "localhost" if use_tls else "127.0.0.1"
    ca = CA if use_tls else ""
    return bench.Client(lambda port: ([sys.executable, os.path.abspath(__file__), "--reference",
                                       host, str(port), user, password, ca], dict(os.environ)))


# --------------------------------------------------------------------------
# The two parts
# --------------------------------------------------------------------------


def bench_check(args, folder, server):
    port = server["ports"]["imaps" if args.ssl else "imap"]
    user, password = CHECK_USER
    harness.reset(folder, user)
    harness.deliver(folder, user, "Bench <bench@example.test>", "Bench message", 3)
    print("1. One check of an IMAP account (%s, port %d), 3 unseen messages"
          % ("IMAPS" if args.ssl else "IMAP", port))
    print()
    row = "%-11s %10s %10s %12s %12s  %s"
    header = row % ("client", "wall ms", "sent B", "received B", "peak RSS KiB", "output")
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory(prefix="tavlo-bench-home-") as home:
        t, ref = [c.measure(port, args.runs)
                  for c in (bench.tavlo_client(args.tavlo, home, user, password, args.ssl, "IMAP"),
                            reference(user, password, args.ssl))]
    exchange = statistics.median(float(o.split()[2]) / 1000 for o in ref["outputs"])
    for name, r in (("tavlo", t), ("reference", ref)):
        print(row % (name, "%.1f" % (r["wall"] * 1000), r["sent"], r["received"], r["rss"],
                     r["outputs"][-1].replace("\n", " | ")))
    print(row % ("ref. exch.", "%.1f" % (exchange * 1000), "", "", "",
                 "(reference, connect to LOGOUT reply, in process)"))
    print(row % ("ratio", bench.ratio(t["wall"], ref["wall"]), bench.ratio(t["sent"], ref["sent"]),
                 bench.ratio(t["received"], ref["received"]), bench.ratio(t["rss"], ref["rss"]),
                 "tavlo / reference; wall against the exchange: %s"
                 % bench.ratio(t["wall"], exchange)))
    print()


def bench_fetch(args, folder, server):
    port = server["ports"]["imaps" if args.ssl else "imap"]
    host = "localhost" if args.ssl else "127.0.0.1"
    print("2. FETCH BODY.PEEK[] of one message into a data source (imap_fetch_bench, %s)"
          % ("IMAPS" if args.ssl else "IMAP"))
    print()
    row = "%-8s %12s %10s %10s %10s %12s  %s"
    header = row % ("size MB", "bytes", "fetch ms", "MB/s", "wall ms", "peak RSS KiB", "source")
    print(header)
    print("-" * len(header))
    env = dict(os.environ, SSL_CERT_FILE=CA)
    for size in args.fetch_sizes:
        user, password = fetch_user(size)
        harness.reset(folder, user)
        line = "The quick brown fox jumps over the lazy dog. 0123456789\n"
        body = line * (size * 1024 * 1024 // len(line) + 1)
        harness.deliver(folder, user, "Bench <bench@example.test>", "Large", 1, body=body)
        argv = [args.fetch_bench, host, str(port), user] + (["--tls"] if args.ssl else [])
        # A warm-up run, then the median of the runs.
        samples = []
        for _ in range(args.runs + 1):
            with tempfile.NamedTemporaryFile(mode="r") as rss:
                started = time.perf_counter()
                proc = bench.subprocess.run([bench.TIME, "-f", "%M", "-o", rss.name] + argv,
                                            input=(password + "\n").encode(), env=env,
                                            capture_output=True)
                wall = time.perf_counter() - started
                if proc.returncode != 0:
                    raise SystemExit("imap_fetch_bench failed: %s"
                                     % proc.stderr.decode("latin-1", "replace"))
                peak = int(rss.read().split()[-1])
            fetched, seconds, kind = proc.stdout.decode().split()
            samples.append((float(seconds), wall, peak, int(fetched), kind))
        samples = samples[1:]
        fetch = statistics.median(s[0] for s in samples)
        wall = statistics.median(s[1] for s in samples)
        peak = max(s[2] for s in samples)
        fetched, kind = samples[-1][3], samples[-1][4]
        print(row % (size, fetched, "%.1f" % (fetch * 1000),
                     "%.1f" % (fetched / fetch / 1e6 if fetch else 0), "%.1f" % (wall * 1000),
                     peak, kind))
    print()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--reference":
        host, port, user, password, ca = sys.argv[2:7]
        reference_client(host, int(port), user, password, ca)
        return 0

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--fetch-bench",
                        default=os.path.join(REPO, "build", "linux", "tests", "bench",
                                             "imap_fetch_bench"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--ssl", action="store_true", help="IMAPS (TLS from the first byte)")
    parser.add_argument("--dir", help="use (or start) the harness instance in DIR")
    parser.add_argument("--fetch-sizes", default="1,50", help="message sizes in MB")
    args = parser.parse_args()
    for path in (args.tavlo, args.fetch_bench):
        if not os.access(path, os.X_OK):
            parser.error("no program at %s (build it or name it)" % path)
    args.fetch_sizes = [int(s) for s in args.fetch_sizes.split(",")]

    folder, server, own = bench.open_server(args.dir)
    try:
        for user, password in [CHECK_USER] + [fetch_user(size) for size in args.fetch_sizes]:
            harness.add_user(folder, user, password)
        # Dovecot re-reads its passwd-file when the file's time stamp (in
        # seconds) changes: let the last change be seen.
        time.sleep(1.1)
        print("Dovecot %s; tavlo %s; median of %d runs after a warm-up" % (folder, args.tavlo,
                                                                            args.runs))
        print()
        bench_check(args, folder, server)
        bench_fetch(args, folder, server)
    finally:
        bench.close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
