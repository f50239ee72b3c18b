#!/usr/bin/env python3
"""What the blocked-sender sweep costs, and what a running program saves by
remembering the messages it already found not blocked.

    scripts/bench-blocked-sweep.py [--tavlo build/linux/tavlo]
        [--bench build/linux/tests/bench/blocked_sweep_bench]
        [--messages 200] [--kib 50] [--runs 5] [--ssl] [--dir DIR]

Against a private Dovecot on loopback (the one in DIR when given and running,
else one started in a temporary folder and stopped at the end): one POP3
account (POP3S with --ssl) whose mailbox holds --messages messages of --kib
KiB each, one in twenty of them from a sender on a two-entry blocked list (a
domain and a full address, added with `tavlo blocked add`). Each run empties
and refills the mailbox, then

  first      the first cycle of a process (blocked_sweep_bench, the window of
             `tavlo check` running cycles on demand): every message retrieved,
             the blocked ones deleted at QUIT
  then one message from an unlisted sender arrives, and the same mailbox is
  checked twice, in turn first or second from run to run:
  same proc. the second cycle of that process: it retrieves only the new one
  fresh      the first cycle of a new process: it retrieves all of them again,
             as every cycle of a program without that memory would

Per cycle: the wall time of CheckMail (ms, median of --runs, measured
directly against Dovecot); the bytes received from the server (TCP payload,
TLS records with --ssl), counted by the relay of scripts/bench-pop3.py put
between client and server in one more run of its own (a second data folder
whose account names the relay); and, from the server's log line of the
session, its RETR count with the bytes those sent, and its DELE count.
Figures are printed, nothing is asserted. Root is needed to run Dovecot.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402

import bench_support as bench  # noqa: E402
open_server = bench.open_server
close_server = bench.close_server

CA = os.path.join(REPO, "tests", "data", "tls", "ca.crt")
USER = "benchsweep"
PASSWORD = "bench-sweep-secret"
BLOCKED = ["spam.test", "joe@blocked.test"]
OK_SENDER = "Friend <friend@ok.test>"


def sender(i):
    """Of message i (from 0): one in twenty is blocked, through a sub-domain
    of the listed domain or the listed address in turn."""
    if i % 20 != 7:
        return OK_SENDER
    return "Offers <offers@mail.spam.test>" if i % 40 == 7 else "joe@blocked.test"


def body(kib):
    line = "The quick brown fox jumps over the lazy dog, and again, and again.\n"
    text = line * (kib * 1024 // len(line) + 1)
    return text[:kib * 1024]


def fill(folder, messages, kib):
    harness.reset(folder, USER)
    text = body(kib)
    for i in range(messages):
        harness.deliver(folder, USER, sender(i), "Message %d" % (i + 1), 1, text)


class Cycles:
    """A blocked_sweep_bench process: its first cycle runs at start."""

    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     env=env, text=True)

    def result(self):
        line = self.proc.stdout.readline()
        fields = line.split(" ", 3)
        if len(fields) < 4 or fields[0] != "cycle":
            raise SystemExit("blocked_sweep_bench said %r" % line)
        return {"ms": float(fields[2]) * 1000.0, "report": fields[3].strip()}

    def again(self):
        self.proc.stdin.write("\n")
        self.proc.stdin.flush()
        return self.result()

    def close(self):
        self.proc.stdin.close()
        if self.proc.wait(timeout=60) != 0:
            raise SystemExit("blocked_sweep_bench failed (%d)" % self.proc.returncode)


def logged(folder, run):
    """run() runs one cycle, which opens one POP3 session of USER; its result
    with the session's RETR and DELE figures from the server's log."""
    before = len(harness.pop3_logouts(folder, USER, quit_only=False))
    result = run()
    sessions = harness.pop3_logouts(folder, USER, wait_for=before + 1, timeout=30,
                                    quit_only=False)
    if len(sessions) != before + 1:
        raise SystemExit("expected one POP3 session, the log shows %d" % (len(sessions) - before))
    session = sessions[before]
    if not session["quit"]:
        # Figures of a cycle that broke off are no figures of the sweep.
        raise SystemExit("a session ended without QUIT (%s) after %d RETR; the cycle took "
                         "%.0f ms and reported %r" % (session["how"], session["retr"],
                                                      result["ms"], result["report"]))
    result.update(retr=session["retr"], retr_bytes=session["retr_bytes"],
                  deleted=session["deleted"])
    return result


def data_folder(tavlo, port, use_tls):
    """A data folder with the account (server 127.0.0.1:PORT, or localhost
    with TLS) and the blocked list; its environment."""
    home = tempfile.mkdtemp(prefix="tavlo-bench-home-")
    env = dict(os.environ, TAVLO_HOME=home, HOME=home, SSL_CERT_FILE=CA,
               XDG_CONFIG_HOME=os.path.join(home, "xdg"))
    env.pop("SSL_CERT_DIR", None)
    add = [tavlo, "accounts", "add", "--name", "Bench", "--server",
           "%s:%d" % ("localhost" if use_tls else "127.0.0.1", port), "--user", USER,
           "--type", "POP3"]
    if use_tls:
        add.append("--ssl")
    subprocess.run(add, input=(PASSWORD + "\n").encode(), env=env, check=True,
                   capture_output=True)
    for entry in BLOCKED:
        subprocess.run([tavlo, "blocked", "add", entry], env=env, check=True,
                       capture_output=True)
    return home, env


def one_run(args, folder, env, second_order, received=None):
    """Fills the mailbox and runs the three cycles; {name: result}. With
    received (a function giving the bytes received so far), each result
    also holds its bytes."""
    results = {}

    def measured(name, cycle):
        before = received() if received else 0
        result = logged(folder, cycle)
        if received:
            result["bytes"] = received() - before
        results[name] = result

    fill(folder, args.messages, args.kib)
    # Each process starts inside its measurement: its first cycle runs at
    # once.
    processes = []

    def start():
        processes.append(Cycles(args.bench, env))
        return processes[-1].result()

    measured("first", start)
    process = processes[0]
    harness.deliver(folder, USER, OK_SENDER, "Arrived later", 1, body(args.kib))
    for name in second_order:
        if name == "same":
            measured("same", process.again)
        else:
            measured("fresh", start)
            processes[-1].close()
    process.close()
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--bench", default=os.path.join(REPO, "build", "linux", "tests", "bench",
                                                        "blocked_sweep_bench"))
    parser.add_argument("--messages", type=int, default=200)
    parser.add_argument("--kib", type=int, default=50)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--ssl", action="store_true", help="POP3S (TLS from the first byte)")
    parser.add_argument("--dir", help="use (or start) the harness instance in DIR")
    args = parser.parse_args()
    for path, option in ((args.tavlo, "--tavlo"), (args.bench, "--bench")):
        if not os.access(path, os.X_OK):
            parser.error("no program at %s (build it or give %s)" % (path, option))

    folder, server, own = open_server(args.dir)
    homes = []
    relay = None
    try:
        harness.add_user(folder, USER, PASSWORD)
        port = server["ports"]["pop3s" if args.ssl else "pop3"]
        home, direct = data_folder(args.tavlo, port, args.ssl)
        homes.append(home)

        runs = []
        for run in range(args.runs):
            # The two second cycles take turns at going first.
            order = ("same", "fresh") if run % 2 == 0 else ("fresh", "same")
            runs.append(one_run(args, folder, direct, order))

        relay = bench.CountingRelay(port)
        home, relayed = data_folder(args.tavlo, relay.port, args.ssl)
        homes.append(home)
        counted = one_run(args, folder, relayed, ("same", "fresh"),
                          received=lambda: relay.totals()[1])

        blocked = sum(sender(i) != OK_SENDER for i in range(args.messages))
        print("Dovecot %s, %s; %d messages of %d KiB, %d from blocked senders (list: %s); "
              "wall: median of %d runs"
              % (folder, "POP3S" if args.ssl else "POP3", args.messages, args.kib, blocked,
                 ", ".join(BLOCKED), args.runs))
        print("Received: TCP payload from the server through a counting relay (a run of its "
              "own); RETR, DELE: the server's log of the session.")
        print()
        row = "%-34s %9s %13s %6s %13s %6s  %s"
        header = row % ("cycle", "wall ms", "received B", "RETR", "RETR bytes", "DELE", "report")
        print(header)
        print("-" * len(header))
        labels = {"first": "first cycle",
                  "same": "second cycle, same process (+1)",
                  "fresh": "second cycle, fresh process (+1)"}
        wall = {}
        for name in ("first", "same", "fresh"):
            wall[name] = statistics.median(r[name]["ms"] for r in runs)
            c = counted[name]
            print(row % (labels[name], "%.1f" % wall[name], c["bytes"], c["retr"],
                         c["retr_bytes"], c["deleted"], c["report"]))
            spread = [r[name]["retr"] for r in runs]
            if any(n != c["retr"] for n in spread):
                print("  (RETR counts differed between runs: %s)" % spread)
        same, fresh = counted["same"], counted["fresh"]
        print()
        print("On the second cycle the memory saves %.1f ms of %.1f (%.1fx) and %d of %d bytes "
              "received (%.0fx)."
              % (wall["fresh"] - wall["same"], wall["fresh"], wall["fresh"] / wall["same"],
                 fresh["bytes"] - same["bytes"], fresh["bytes"], fresh["bytes"] / same["bytes"]))
    finally:
        if relay:
            relay.close()
        for home in homes:
            shutil.rmtree(home, ignore_errors=True)
        close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
