#!/usr/bin/env python3
"""What one `tavlo check` of an IMAP account and one FETCH cost, next to curl.

    scripts/bench-imap.py [--tavlo build/linux/tavlo]
                          [--fetch-bench build/linux/tests/bench/imap_fetch_bench]
                          [--runs 9] [--ssl] [--dir DIR] [--fetch-sizes 1,50]

Against a private Dovecot instance (the one in DIR when given and running,
else one started in a temporary folder and stopped at the end), each pair of
clients run interleaved after a warm-up each (scripts/bench_support.py):

1. One check: a mailbox with unseen mail, so that the whole dialogue runs
   (LOGIN, STATUS "INBOX" (UNSEEN), STATUS "INBOX" (UIDNEXT), LOGOUT; RFC
   3501), through `tavlo check` with one IMAP account, next to
   `curl -X 'STATUS INBOX (UNSEEN UIDNEXT)' imap://...`.
2. FETCH: a message of each size in --fetch-sizes (MB) is delivered;
   imap_fetch_bench (tests/bench/) fetches it with the IMAP client into its
   data source (memory up to 30000 bytes, a temporary mapped file above),
   next to `curl imap://.../INBOX;UID=N -o FILE`.

Printed for each client: median wall time of the whole process, payload
bytes through a counting relay (a separate run), peak RSS (/usr/bin/time -f
%M), and the ratio tavlo/curl (the larger of the ratio of medians and the
median of per-round ratios). Figures are printed, nothing is asserted. Root
is needed to run Dovecot.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import bench_support as bench  # noqa: E402
import dovecot_harness as harness  # noqa: E402

CHECK_USER = ("benchimap", "bench-imap-secret")


def fetch_user(size):
    return "benchfetch%d" % size, "bench-fetch-%d-secret" % size


def bench_check(args, folder, server):
    port = server["ports"]["imaps" if args.ssl else "imap"]
    user, password = CHECK_USER
    harness.reset(folder, user)
    harness.deliver(folder, user, "Bench <bench@example.test>", "Bench message", 3)
    print("1. One check of an IMAP account (%s, port %d), 3 unseen messages"
          % ("IMAPS" if args.ssl else "IMAP", port))
    print()
    with tempfile.TemporaryDirectory(prefix="tavlo-bench-home-") as home:
        tavlo = bench.tavlo_client(args.tavlo, home, user, password, args.ssl, "IMAP")
        curl = bench.curl_client("imap", user, password, args.ssl,
                                 request="STATUS INBOX (UNSEEN UIDNEXT)")
        bench.print_comparison(*bench.compare(tavlo, curl, port, args.runs), args.runs)
    print()


def fetch_bench_client(args, host, user, password):

    def command(port):
        argv = [args.fetch_bench, host, str(port), user] + (["--tls"] if args.ssl else [])
        return argv, dict(os.environ, SSL_CERT_FILE=bench.CA), (password + "\n").encode()

    return bench.Client("tavlo", command)


def only_uid(folder, server, user, password, use_tls):
    """The UID of the one message in the user's INBOX (asked with curl)."""
    port = server["ports"]["imaps" if use_tls else "imap"]
    argv, env, stdin = bench.curl_client("imap", user, password, use_tls, path="/INBOX",
                                         request="UID SEARCH ALL").command(port)
    out = subprocess.run(argv, env=env, input=stdin, capture_output=True, check=True).stdout
    return int(out.split()[-1])


def bench_fetch(args, folder, server):
    port = server["ports"]["imaps" if args.ssl else "imap"]
    host = "localhost" if args.ssl else "127.0.0.1"
    print("2. FETCH of one whole message (%s): imap_fetch_bench (BODY.PEEK[] into its data "
          "source) and curl (-o a file)" % ("IMAPS" if args.ssl else "IMAP"))
    for size in args.fetch_sizes:
        user, password = fetch_user(size)
        harness.reset(folder, user)
        line = "The quick brown fox jumps over the lazy dog. 0123456789\n"
        body = line * (size * 1024 * 1024 // len(line) + 1)
        harness.deliver(folder, user, "Bench <bench@example.test>", "Large", 1, body=body)
        uid = only_uid(folder, server, user, password, args.ssl)
        print()
        print("%d MB message" % size)
        with tempfile.TemporaryDirectory(prefix="tavlo-bench-fetch-") as scratch:
            tavlo = fetch_bench_client(args, host, user, password)
            curl = bench.curl_client("imap", user, password, args.ssl,
                                     path="/INBOX;UID=%d" % uid,
                                     output=os.path.join(scratch, "body"))
            bench.print_comparison(
                *bench.compare(tavlo, curl, port, args.runs), args.runs,
                lambda out: ("%s bytes in %.1f ms, %s" % (out.split()[0],
                                                           float(out.split()[1]) * 1000,
                                                           out.split()[2])
                             if out else "(body to a file)"))
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--fetch-bench",
                        default=os.path.join(REPO, "build", "linux", "tests", "bench",
                                             "imap_fetch_bench"))
    parser.add_argument("--runs", type=int, default=9, help="rounds of the two clients")
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
        print("Dovecot %s; tavlo %s; %d interleaved rounds after a warm-up; load %s"
              % (folder, args.tavlo, args.runs, bench.machine_load()))
        print()
        bench_check(args, folder, server)
        bench_fetch(args, folder, server)
    finally:
        bench.close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
