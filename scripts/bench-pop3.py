#!/usr/bin/env python3
"""How one `tavlo check` of a POP3 account compares with curl.

    scripts/bench-pop3.py [--tavlo build/linux/tavlo] [--sizes 10,1000,10000] [--runs 9]
                          [--ssl] [--dir DIR]

For each mailbox size it fills a mailbox on a private Dovecot instance (the
one in DIR when given and running, else one started in a temporary folder
and stopped at the end), points one account at it and runs, interleaved
after a warm-up each (see scripts/bench_support.py), `tavlo check` and
Debian's curl asking for the same listing (`curl -X UIDL pop3://...`):

  median ms  elapsed time of the whole process, start to exit, over --runs
  sent B, received B
             payload bytes on the TCP connection(s) to the server, counted by
             a relay between the client and Dovecot (one separate run per
             client; with --ssl these are TLS records)
  peak RSS   the process's maximum resident set (/usr/bin/time -f %M),
             largest of the runs
  ratio      tavlo/curl: the larger of the ratio of the medians and the
             median of the per-round ratios

Figures are printed, nothing is asserted. Root is needed to run Dovecot.
"""

import argparse
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import bench_support as bench  # noqa: E402
import dovecot_harness as harness  # noqa: E402


def describe(output):
    """tavlo prints its report; curl the listing: its last line."""
    lines = [line for line in output.splitlines() if line.strip()]
    if not lines:
        return "(nothing)"
    if lines[0][:1].isdigit():
        return "%d UIDL lines, last %s" % (len(lines), lines[-1].split()[-1][:40])
    return " | ".join(lines)[:60]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--sizes", default="10,1000,10000")
    parser.add_argument("--runs", type=int, default=9, help="rounds of the two clients")
    parser.add_argument("--ssl", action="store_true", help="POP3S (TLS from the first byte)")
    parser.add_argument("--dir", help="use (or start) the harness instance in DIR")
    args = parser.parse_args()
    if not os.access(args.tavlo, os.X_OK):
        parser.error("no tavlo binary at %s (build it or give --tavlo)" % args.tavlo)
    sizes = [int(s) for s in args.sizes.split(",")]

    folder, server, own = bench.open_server(args.dir)
    try:
        port = server["ports"]["pop3s" if args.ssl else "pop3"]
        print("%s on Dovecot port %d; tavlo %s; %d interleaved rounds after a warm-up; "
              "load %s" % ("POP3S" if args.ssl else "POP3", port, args.tavlo, args.runs,
                           bench.machine_load()))
        for size in sizes:
            user = "bench%d" % size
            password = "bench-%d-secret" % size
            harness.add_user(folder, user, password)
            harness.reset(folder, user)
            harness.deliver(folder, user, "Bench <bench@example.test>", "Bench message", size)
            print()
            print("%d messages" % size)
            with tempfile.TemporaryDirectory(prefix="tavlo-bench-home-") as home:
                tavlo = bench.tavlo_client(args.tavlo, home, user, password, args.ssl)
                curl = bench.curl_client("pop3", user, password, args.ssl, request="UIDL")
                bench.print_comparison(*bench.compare(tavlo, curl, port, args.runs), args.runs,
                                       describe)
    finally:
        bench.close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
