#!/usr/bin/env python3
"""How much one `tavlo check` of a POP3 account costs, next to a minimal client.

    scripts/bench-pop3.py [--tavlo build/linux/tavlo] [--sizes 10,1000,10000] [--runs 5]
                          [--ssl] [--dir DIR]

For each mailbox size it fills a mailbox on a private Dovecot instance (the
one in DIR when given and running, else one started in a temporary folder
and stopped at the end), points one account at it and measures, for
`tavlo check` and for a reference client written here with Python's socket
module (USER, PASS, STAT, UIDL, QUIT; the least a check can send):

  wall      elapsed time of the whole process, start to exit; median of --runs,
            after one warm-up run each (Dovecot's index exists by then, and
            tavlo has stored its marker), measured directly against Dovecot.
            The reference's figure is mostly the Python interpreter's start;
            "exchange" is its own time from connect to the QUIT reply.
  peak RSS  the process's maximum resident set as /usr/bin/time -f %M reports
            it (wait4 of its own small child: a child forked from this script
            would carry this interpreter's pages in its high-water mark);
            largest of the runs. The reference's figure is mostly the
            interpreter.
  sent/recv payload bytes on the TCP connection(s) to the server, counted by
            a relay in this script that sits between the client and Dovecot
            (one separate run per client; with --ssl these are TLS records)

Figures are printed, nothing is asserted. Root is needed to run Dovecot.
"""

import argparse
import os
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402


# --------------------------------------------------------------------------
# The reference client (run as a process of its own: --reference)
# --------------------------------------------------------------------------


def reference_client(host, port, user, password, ca):
    """USER, PASS, STAT, UIDL, QUIT (RFC 1939); prints "COUNT LAST-UIDL MS"."""
    started = time.perf_counter()
    sock = socket.create_connection((host, port), timeout=30)
    if ca:
        sock = ssl.create_default_context(cafile=ca).wrap_socket(sock, server_hostname=host)
    pending = b""

    def read_until(terminator):
        nonlocal pending
        while terminator not in pending:
            chunk = sock.recv(65536)
            if not chunk:
                raise SystemExit("server closed the connection")
            pending += chunk
        reply, pending = pending.split(terminator, 1)
        if not reply.startswith(b"+OK"):
            raise SystemExit("refused: %r" % reply[:200])
        return reply

    read_until(b"\r\n")
    sock.sendall(b"USER %s\r\n" % user.encode())
    read_until(b"\r\n")
    sock.sendall(b"PASS %s\r\n" % password.encode())
    read_until(b"\r\n")
    sock.sendall(b"STAT\r\n")
    count = int(read_until(b"\r\n").split()[1])
    sock.sendall(b"UIDL\r\n")
    lines = read_until(b"\r\n.\r\n").split(b"\r\n")[1:]
    sock.sendall(b"QUIT\r\n")
    read_until(b"\r\n")
    sock.close()
    elapsed = time.perf_counter() - started
    last = lines[count - 1].split()[1].decode() if count else "-"
    print(count, last, "%.1f" % (elapsed * 1000))


# --------------------------------------------------------------------------
# Measuring
# --------------------------------------------------------------------------


class CountingRelay:
    """Forwards loopback connections to a server and counts the payload bytes."""

    def __init__(self, upstream_port):
        self.upstream_port = upstream_port
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.sent = 0      # client to server
        self.received = 0  # server to client
        self.connections = 0
        self._lock = threading.Lock()
        self._pumps = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.upstream_port))
            with self._lock:
                self.connections += 1
                for src, dst, field in ((client, server, "sent"), (server, client, "received")):
                    t = threading.Thread(target=self._pump, args=(src, dst, field), daemon=True)
                    self._pumps.append(t)
                    t.start()

    def _pump(self, src, dst, field):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                with self._lock:
                    setattr(self, field, getattr(self, field) + len(data))
                dst.sendall(data)
        except OSError:
            pass
        finally:
            # Pass the end of stream on, so that the other side finishes too.
            for s in (dst, src):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def totals(self):
        """(sent, received, connections) once every connection has ended."""
        # Copied under the lock: a pump is listed and started under it.
        with self._lock:
            pumps = list(self._pumps)
        for t in pumps:
            t.join(timeout=30)
        with self._lock:
            return self.sent, self.received, self.connections

    def close(self):
        self.listener.close()


TIME = "/usr/bin/time"


def run_measured(argv, env):
    """Runs a process; (wall seconds, peak RSS in KiB, stdout)."""
    with tempfile.NamedTemporaryFile(mode="r") as rss:
        started = time.perf_counter()
        proc = subprocess.run([TIME, "-f", "%M", "-o", rss.name] + argv, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True)
        wall = time.perf_counter() - started
        if proc.returncode != 0:
            raise SystemExit("%s failed (%d): %s" % (argv[0], proc.returncode,
                                                     proc.stderr.decode("latin-1", "replace")))
        peak = int(rss.read().split()[-1])
    return wall, peak, proc.stdout


class Client:
    """One of the two clients; command(port) gives the argv and environment."""

    def __init__(self, command):
        self.command = command

    def measure(self, port, runs):
        run_measured(*self.command(port))  # warm-up
        walls, rss, outputs = [], [], []
        for _ in range(runs):
            wall, peak, out = run_measured(*self.command(port))
            walls.append(wall)
            rss.append(peak)
            outputs.append(out.decode("latin-1").strip())
        relay = CountingRelay(port)
        try:
            run_measured(*self.command(relay.port))
            sent, received, connections = relay.totals()
        finally:
            relay.close()
        return {"wall": statistics.median(walls), "rss": max(rss), "sent": sent,
                "received": received, "connections": connections, "outputs": outputs}


def tavlo_client(tavlo, home, user, password, use_tls, account_type="POP3"):
    """tavlo check with one account of the type; the server text is written
    per port."""
    env = dict(os.environ, TAVLO_HOME=home, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "xdg"),
               SSL_CERT_FILE=os.path.join(harness.TLS_DIR, "ca.crt"))
    host = "localhost" if use_tls else "127.0.0.1"
    homes = {}

    def command(port):
        # A data folder per port, so that the account's server text names it.
        if port not in homes:
            folder = os.path.join(home, str(port))
            os.makedirs(folder)
            homes[port] = dict(env, TAVLO_HOME=folder)
            add = [tavlo, "accounts", "add", "--name", "Bench", "--server",
                   "%s:%d" % (host, port), "--user", user, "--type", account_type]
            if use_tls:
                add.append("--ssl")
            subprocess.run(add, input=(password + "\n").encode(), check=True, env=homes[port],
                           capture_output=True)
        return [tavlo, "check"], homes[port]

    return Client(command)


def reference(user, password, use_tls):
    ca = os.path.join(harness.TLS_DIR, "ca.crt") if use_tls else ""
    host = "localhost" if use_tls else "127.0.0.1"
    return Client(lambda port: ([sys.executable, os.path.abspath(__file__), "--reference", host,
                                 str(port), user, password, ca], dict(os.environ)))


def open_server(directory):
    """The Dovecot of directory (started unless it runs already), or, without
    a directory, a private one in a temporary folder. Returns the folder, its
    environment and whether it is ours to stop (close_server)."""
    own = directory is None
    folder = directory or tempfile.mkdtemp(prefix="tavlo-bench-")
    try:
        server = harness.load_env(folder)
        if not harness.running(folder):
            raise OSError
    except (OSError, ValueError):
        try:
            server = harness.start(folder)
        except BaseException:
            close_server(folder, own)
            raise
    return folder, server, own


def close_server(folder, own):
    if own:
        harness.stop(folder)
        shutil.rmtree(folder, ignore_errors=True)


def ratio(a, b):
    return "%.2f" % (a / b) if b else "-"


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--reference":
        host, port, user, password, ca = sys.argv[2:7]
        reference_client(host, int(port), user, password, ca)
        return 0

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--sizes", default="10,1000,10000")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--ssl", action="store_true", help="POP3S (TLS from the first byte)")
    parser.add_argument("--dir", help="use (or start) the harness instance in DIR")
    args = parser.parse_args()
    if not os.access(args.tavlo, os.X_OK):
        parser.error("no tavlo binary at %s (build it or give --tavlo)" % args.tavlo)
    sizes = [int(s) for s in args.sizes.split(",")]

    folder, server, own = open_server(args.dir)
    try:
        port = server["ports"]["pop3s" if args.ssl else "pop3"]
        print("Dovecot %s, %s on port %d; tavlo %s; median wall of %d runs after a warm-up"
              % (folder, "POP3S" if args.ssl else "POP3", port, args.tavlo, args.runs))
        print("Bytes: TCP payload through a counting relay (a separate run); "
              "RSS: /usr/bin/time -f %M.")
        print()
        row = "%-8s %-10s %10s %12s %12s %12s  %s"
        header = row % ("messages", "client", "wall ms", "sent B", "received B", "peak RSS KiB",
                        "output")
        print(header)
        print("-" * len(header))
        for size in sizes:
            user = "bench%d" % size
            password = "bench-%d-secret" % size
            harness.add_user(folder, user, password)
            harness.reset(folder, user)
            harness.deliver(folder, user, "Bench <bench@example.test>", "Bench message", size)
            with tempfile.TemporaryDirectory(prefix="tavlo-bench-home-") as home:
                results = [c.measure(port, args.runs)
                           for c in (tavlo_client(args.tavlo, home, user, password, args.ssl),
                                     reference(user, password, args.ssl))]
            t, ref = results
            exchange = statistics.median(float(o.split()[2]) / 1000 for o in ref["outputs"])
            for name, r in (("tavlo", t), ("reference", ref)):
                print(row % (size, name, "%.1f" % (r["wall"] * 1000), r["sent"], r["received"],
                             r["rss"], r["outputs"][-1].replace("\n", " | ")))
            print(row % (size, "ref. exch.", "%.1f" % (exchange * 1000), "", "", "",
                         "(reference, connect to QUIT reply, in process)"))
            print(row % (size, "ratio", ratio(t["wall"], ref["wall"]), ratio(t["sent"], ref["sent"]),
                         ratio(t["received"], ref["received"]), ratio(t["rss"], ref["rss"]),
                         "tavlo / reference; wall against the exchange: %s"
                         % ratio(t["wall"], exchange)))
    finally:
        close_server(folder, own)
    return 0


if __name__ == "__main__":
    sys.exit(main())
