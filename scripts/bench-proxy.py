#!/usr/bin/env python3
"""What a proxy tunnel costs: one POP3-over-TLS check direct and through each proxy.

    scripts/bench-proxy.py [--tavlo build/linux/tavlo] [--runs 9]

Starts a private Dovecot and the test proxies (scripts/proxy_harness.py:
dante for SOCKS4 and SOCKS5, microsocks for SOCKS5 with credentials, tinyproxy
for HTTP CONNECT with Basic credentials) in a temporary folder, and a
mailbox with ten messages. One data folder holds one POP3-over-TLS account;
each variant is `tavlo check` of it with the "Proxy" setting of the variant
(empty for direct). The client's first hop (Dovecot's POP3S port, or the
proxy) sits behind a counting relay, so that every variant pays the same
extra hop and the bytes the client received and sent are counted.

The variants run interleaved (direct, socks4, socks5, ... , direct, ...)
after one warm-up round; the figures are medians of --runs: wall time of the
whole command (process start and exit included) and bytes. Figures are
printed, nothing is asserted. Root is needed to run Dovecot.
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
import proxy_harness  # noqa: E402

import bench_support as bench  # noqa: E402

USER = "xena"
VARIANTS = ["direct", "socks4", "socks5", "socks5_auth", "http"]


run = bench.run_tavlo


def must(done):
    if done.returncode != 0:
        raise SystemExit("bench-proxy: tavlo failed: %s" % done.stderr.decode("latin-1"))
    return done


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    tavlo = os.path.abspath(args.tavlo)

    top = tempfile.mkdtemp(prefix="tavlo-bench-proxy-")
    os.chmod(top, 0o755)  # Dovecot's mail processes reach the homes below it
    dovecot_dir = os.path.join(top, "main")
    proxy_dir = os.path.join(top, "proxies")
    home = os.path.join(top, "home")
    relays = {}
    try:
        server = harness.start(dovecot_dir)
        proxies = proxy_harness.start(proxy_dir, dovecot_dir)
        harness.reset(dovecot_dir, USER)
        harness.deliver(dovecot_dir, USER, "Sender <sender@example.test>", "Bench", 10)
        pop3s = server["ports"]["pop3s"]
        os.makedirs(home)

        # The first hop of each variant behind its own relay.
        relays["direct"] = bench.CountingRelay(pop3s)
        settings = {}
        for name in VARIANTS[1:]:
            info = proxies["proxies"][name]
            relays[name] = bench.CountingRelay(info["port"])
            settings[name] = info["url"].replace(":%d" % info["port"], ":%d" % relays[name].port)
        settings["direct"] = ""

        password = proxy_harness.PROXY_TEST_USERS[USER].encode() + b"\n"
        account_port = {name: pop3s for name in VARIANTS}
        account_port["direct"] = relays["direct"].port
        last = {}

        def one(name):
            # The account's server: the relay for direct, Dovecot behind a proxy.
            if last.get("port") != account_port[name]:
                run(tavlo, home, "accounts", "remove", "--name", "Box")
                must(run(tavlo, home, "accounts", "add", "--name", "Box", "--server",
                         "localhost:%d" % account_port[name], "--user", USER, "--ssl",
                         stdin=password)[1])
                last["port"] = account_port[name]
            must(run(tavlo, home, "settings", "set", "Proxy", settings[name])[1])
            before = relays[name].totals()
            ms, done = run(tavlo, home, "check")
            must(done)
            if done.stdout != b"Box 10 mail.\n":
                raise SystemExit("bench-proxy: unexpected report %r via %s" % (done.stdout, name))
            after = relays[name].totals()
            return ms, after[1] - before[1], after[0] - before[0]

        for name in VARIANTS:  # warm-up
            one(name)
        figures = {name: [] for name in VARIANTS}
        for _ in range(args.runs):
            for name in VARIANTS:
                figures[name].append(one(name))

        print("POP3 over TLS check (`tavlo check`, one account, 10 messages) on loopback;")
        print("median of %d interleaved runs; bytes through a counting relay at the first hop"
              % args.runs)
        print()
        print("%-12s %10s %12s %12s %10s" % ("route", "wall ms", "received B", "sent B",
                                             "vs direct"))
        base = statistics.median(f[0] for f in figures["direct"])
        for name in VARIANTS:
            ms = statistics.median(f[0] for f in figures[name])
            received = statistics.median(f[1] for f in figures[name])
            sent = statistics.median(f[2] for f in figures[name])
            print("%-12s %10.1f %12d %12d %10s" % (name, ms, received, sent,
                                                   "%+.1f ms" % (ms - base)))
    finally:
        for relay in relays.values():
            relay.close()
        proxy_harness.stop(proxy_dir)
        harness.stop(dovecot_dir)
        shutil.rmtree(top, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
