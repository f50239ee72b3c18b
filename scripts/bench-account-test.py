#!/usr/bin/env python3
"""How long "Test Account Settings" takes, next to one check of the same account.

    scripts/bench-account-test.py [--tavlo build/linux/tavlo] [--runs 9] [--dir DIR]

Against a private Dovecot on loopback (the one in DIR when given and running,
else one started in a temporary folder and stopped at the end), one account
per protocol (POP3, POP3 over TLS, IMAP over TLS) with ten messages. For each
it measures the elapsed time of

  test    `tavlo accounts test`: the account dialog's test, from the press of
          the button to its message (process start and exit included)
  check   `tavlo check` of a data folder holding only that account

The two commands run interleaved (test, check, test, check, ...) after one
warm-up run each, so that a drift of the machine touches both alike; the
figure is the median of --runs. The test only logs in and out; the check
also asks for the count and the newest message's id. Figures are printed,
nothing is asserted. Root is needed to run Dovecot.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402

import bench_support as bench  # noqa: E402
open_server = bench.open_server
close_server = bench.close_server

USER = "benchtest"
PASSWORD = "bench-test-secret"
# label, port key, --type, TLS
ACCOUNTS = [("POP3", "pop3", "POP3", False), ("POP3 TLS", "pop3s", "POP3", True),
            ("IMAP TLS", "imaps", "IMAP", True)]


run = bench.run_tavlo


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--dir", help="use (or start) the harness instance in DIR")
    args = parser.parse_args()
    if not os.access(args.tavlo, os.X_OK):
        parser.error("no tavlo binary at %s (build it or give --tavlo)" % args.tavlo)

    folder, server, own = open_server(args.dir)
    homes = []
    try:
        harness.add_user(folder, USER, PASSWORD)
        harness.reset(folder, USER)
        harness.deliver(folder, USER, "Bench <bench@example.test>", "Bench message", 10)
        print("Dovecot %s; tavlo %s; median of %d interleaved runs after a warm-up, ms"
              % (folder, args.tavlo, args.runs))
        print()
        row = "%-9s %10s %10s %8s  %s"
        header = row % ("account", "test ms", "check ms", "ratio", "test says")
        print(header)
        print("-" * len(header))
        for label, key, kind, tls in ACCOUNTS:
            home = tempfile.mkdtemp(prefix="tavlo-bench-home-")
            homes.append(home)
            host = "localhost" if tls else "127.0.0.1"
            add = ["accounts", "add", "--name", "Bench", "--server",
                   "%s:%d" % (host, server["ports"][key]), "--user", USER, "--type", kind]
            if tls:
                add.append("--ssl")
            _, done = run(args.tavlo, home, *add, stdin=(PASSWORD + "\n").encode())
            if done.returncode != 0:
                raise SystemExit("accounts add failed: %s" % done.stderr.decode())
            times = {"test": [], "check": []}
            said = ""
            for i in range(args.runs + 1):
                for name, command in (("test", ["accounts", "test", "--name", "Bench"]),
                                      ("check", ["check"])):
                    ms, done = run(args.tavlo, home, *command)
                    if done.returncode != 0:
                        raise SystemExit("%s failed (%d): %s%s" % (
                            " ".join(command), done.returncode, done.stdout.decode(),
                            done.stderr.decode()))
                    if name == "test":
                        said = done.stdout.decode().split("!")[0]
                    if i > 0:  # the first round warms up
                        times[name].append(ms)
            test = statistics.median(times["test"])
            check = statistics.median(times["check"])
            print(row % (label, "%.1f" % test, "%.1f" % check, "%.2f" % (test / check), said))
    finally:
        for home in homes:
            shutil.rmtree(home, ignore_errors=True)
        close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
