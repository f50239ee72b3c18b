"""The benchmarks' shared pieces: Dovecot start-or-reuse and clean-up, the
counting relay, measured runs, the tavlo and curl clients, and the
interleaved comparison of two clients.

Every comparison runs each client once to warm up (Dovecot's index exists
by then, tavlo has stored its marker), then alternates them, AB, BA, AB, ...,
so that a load that comes and goes on the machine falls on both alike. The
ratio printed is the larger of the ratio of the medians and the median of the
per-round ratios: neither a lucky median nor a lucky round flatters it."""

import os
import shutil
import socket
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

TIME = "/usr/bin/time"
CURL = "curl"
CA = os.path.join(harness.TLS_DIR, "ca.crt")


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


def run_measured(argv, env, stdin=b""):
    """Runs a process; (wall seconds, peak RSS in KiB, stdout). The peak comes
    from /usr/bin/time (wait4 of its own small child: a child forked from this
    script would carry this interpreter's pages in its high-water mark)."""
    with tempfile.NamedTemporaryFile(mode="r") as rss:
        started = time.perf_counter()
        proc = subprocess.run([TIME, "-f", "%M", "-o", rss.name] + argv, env=env, input=stdin,
                              capture_output=True)
        wall = time.perf_counter() - started
        if proc.returncode != 0:
            raise SystemExit("%s failed (%d): %s" % (argv[0], proc.returncode,
                                                     proc.stderr.decode("latin-1", "replace")))
        peak = int(rss.read().split()[-1])
    return wall, peak, proc.stdout


class Client:
    """One client; command(port) gives (argv, environment, standard input)."""

    def __init__(self, name, command):
        self.name = name
        self.command = command

    def run(self, port):
        return run_measured(*self.command(port))

    def count_bytes(self, port):
        """(sent, received, connections) of one run through a counting relay."""
        relay = CountingRelay(port)
        try:
            self.run(relay.port)
            return relay.totals()
        finally:
            relay.close()


def compare(a, b, port, rounds):
    """Runs a and b interleaved after a warm-up each; returns one result per
    client (wall and peak RSS lists, median wall, bytes, last output) and the
    ratio of a to b."""
    a.run(port)
    b.run(port)
    samples = {a.name: [], b.name: []}
    for r in range(rounds):
        for client in ((a, b) if r % 2 == 0 else (b, a)):
            samples[client.name].append(client.run(port))
    results = []
    for client in (a, b):
        runs = samples[client.name]
        sent, received, connections = client.count_bytes(port)
        results.append({"name": client.name, "walls": [s[0] for s in runs],
                        "wall": statistics.median(s[0] for s in runs),
                        "rss": max(s[1] for s in runs), "sent": sent, "received": received,
                        "connections": connections,
                        "output": runs[-1][2].decode("latin-1").strip()})
    ta, tb = results
    of_medians = ta["wall"] / tb["wall"]
    per_round = statistics.median(x / y for x, y in zip(ta["walls"], tb["walls"]))
    return ta, tb, max(of_medians, per_round), of_medians, per_round


COMPARE_ROW = "%-10s %10s %10s %12s %12s  %s"


def print_comparison(ta, tb, ratio, of_medians, per_round, rounds, describe=None):
    """Prints the two clients' figures and the ratio. describe(output) makes
    the last output printable (a short summary of what the client got)."""
    describe = describe or (lambda out: out.replace("\n", " | ")[:60])
    header = COMPARE_ROW % ("client", "median ms", "sent B", "received B", "peak RSS KiB",
                            "output")
    print(header)
    print("-" * len(header))
    for r in (ta, tb):
        print(COMPARE_ROW % (r["name"], "%.1f" % (r["wall"] * 1000), r["sent"], r["received"],
                             r["rss"], describe(r["output"])))
    print("ratio %s/%s: %.2f (of medians %.2f, median of %d per-round ratios %.2f)"
          % (ta["name"], tb["name"], ratio, of_medians, rounds, per_round))


# --------------------------------------------------------------------------
# The clients
# --------------------------------------------------------------------------


def tavlo_env(home):
    """The environment of a tavlo whose data folder is home, trusting the
    test CA only."""
    env = dict(os.environ, TAVLO_HOME=home, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "xdg"),
               SSL_CERT_FILE=CA)
    env.pop("SSL_CERT_DIR", None)
    return env


def run_tavlo(tavlo, home, *args, stdin=b""):
    """One tavlo command with the data folder home: (wall ms, the completed
    process)."""
    started = time.perf_counter()
    done = subprocess.run([tavlo] + list(args), input=stdin, capture_output=True,
                          env=tavlo_env(home), timeout=120)
    return (time.perf_counter() - started) * 1000.0, done


def tavlo_client(tavlo, home, user, password, use_tls, account_type="POP3"):
    """`tavlo check` with one account of the type; a data folder per port,
    so that the account's server text names it."""
    env = tavlo_env(home)
    host = "localhost" if use_tls else "127.0.0.1"
    homes = {}

    def command(port):
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
        return [tavlo, "check"], homes[port], b""

    return Client("tavlo", command)


def curl_client(scheme, user, password, use_tls, path="/", request=None, output=None):
    """Debian's curl as the reference client: SCHEME(s)://host:port/PATH,
    with -X REQUEST when given; the body goes to output (a file name) or to
    standard output. The password is passed in a config on standard input,
    not on the command line."""
    host = "localhost" if use_tls else "127.0.0.1"

    def command(port):
        argv = [shutil.which(CURL) or CURL, "-sS", "--config", "-",
                "%s%s://%s:%d%s" % (scheme, "s" if use_tls else "", host, port, path)]
        if use_tls:
            argv[1:1] = ["--cacert", CA]
        if request:
            argv[1:1] = ["-X", request]
        if output:
            argv[1:1] = ["-o", output]
        config = 'user = "%s:%s"\n' % (user, password)
        return argv, dict(os.environ), config.encode()

    return Client("curl", command)


# --------------------------------------------------------------------------
# The server
# --------------------------------------------------------------------------


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


def machine_load():
    """The load averages, for the heading: the machine may be shared."""
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])
