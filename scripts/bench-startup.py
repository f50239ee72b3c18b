#!/usr/bin/env python3
"""Start-up and idle figures of `tavlo run` and of tavlo.exe under Wine.

    scripts/bench-startup.py [--tavlo build/linux/tavlo] [--exe build/mingw/tavlo.exe]
                             [--runs 5] [--idle 60] [--watch MINUTES [--sample 10]] [--no-wine]

Prints, asserts nothing:
- start to tray icon, `tavlo run`: from the process start to its first
  "tray:" line on standard output (median and range over --runs starts);
- start to tray icon, tavlo.exe under Wine (when the exe and Wine exist):
  from `wine tavlo.exe` to the appearance of the X window that Wine opens
  for notification-area icons when no tray manager runs ("Wine System
  Tray"), polled with xdotool every 20 ms on a private Xvfb; the wineserver
  and the prefix are warm, so the figure is the program's own start-up;
- resident memory of `tavlo run` idle between checks, after its first
  check has run, from /proc/PID/smaps_rollup: private (Private_Dirty: the
  heap, stacks and written data only this process holds; its anonymous part
  shown too), shared (Shared_Clean + Shared_Dirty: mostly pages of shared
  libraries that other processes map as well) and the program's own clean
  file pages (Private_Clean), next to VmRSS;
- with --watch MINUTES: the same figures over that many minutes of 1-minute
  checks (SearchForMail 0), sampled every --sample minutes;
- wake-ups while idle: voluntary context switches of all its threads
  (/proc/PID/task/*/status) over --idle seconds, per minute.

The idle figures use one account: POP3 over TLS on a private Dovecot when
running as root with Dovecot installed (the check then loads TLS), else a
plain POP3 account on a closed loopback port (the check fails at once).
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "scripts"))


def env_for(home):
    env = dict(os.environ)
    env.update(TAVLO_HOME=home, XDG_CONFIG_HOME=os.path.join(home, "xdg"))
    return env


def start_to_tray(tavlo, home):
    """Seconds from start to the first tray line, and the running process."""
    started = time.monotonic()
    process = subprocess.Popen([tavlo, "run"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env_for(home))
    for raw in process.stdout:
        if b" tray: " in raw:
            return time.monotonic() - started, process
    raise RuntimeError("tavlo run ended without a tray line")


def stop(process):
    process.terminate()
    process.wait(timeout=20)
    process.stdout.close()


def voluntary_switches(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches:"):
                    total += int(line.split()[1])
    return total


def memory_kib(pid):
    """The smaps_rollup fields of the process, in KiB."""
    fields = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3 and parts[2] == "kB":
                fields[parts[0].rstrip(":")] = int(parts[1])
    return fields


def memory_text(pid):
    m = memory_kib(pid)
    return ("private %.2f MB (anonymous %.2f MB), shared %.2f MB, own clean file pages %.2f MB; "
            "RSS %.2f MB" % (m.get("Private_Dirty", 0) / 1024, m.get("Anonymous", 0) / 1024,
                             (m.get("Shared_Clean", 0) + m.get("Shared_Dirty", 0)) / 1024,
                             m.get("Private_Clean", 0) / 1024, m.get("Rss", 0) / 1024))


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def add_account(tavlo, home):
    """One account; returns a cleanup function and a description."""
    args = [tavlo, "accounts", "add", "--name", "Bench", "--type", "POP3"]
    cleanup = lambda: None  # noqa: E731
    if os.geteuid() == 0 and (shutil.which("dovecot") or os.path.exists("/usr/sbin/dovecot")):
        import dovecot_harness as harness
        folder = tempfile.mkdtemp(prefix="tavlo-bench-dovecot-")
        os.chmod(folder, 0o755)
        server = harness.start(folder)
        harness.deliver(folder, "alice", "a@example.test", "Bench", 3)
        args += ["--server", "localhost:%d" % server["ports"]["pop3s"], "--user", "alice", "--ssl"]
        password = server["users"]["alice"]["password"]
        os.environ["SSL_CERT_FILE"] = server["ca"]

        def cleanup():
            harness.stop(folder)
            shutil.rmtree(folder, ignore_errors=True)
        what = "POP3 over TLS on a private Dovecot (3 messages)"
    else:
        args += ["--server", "127.0.0.1:%d" % closed_port(), "--user", "nobody"]
        password = "x"
        what = "plain POP3 on a closed port"
    subprocess.run(args, input=(password + "\n").encode(), env=env_for(home), check=True,
                   capture_output=True)
    return cleanup, what


def bench_linux(tavlo, runs, idle, watch=0, sample=10):
    home = tempfile.mkdtemp(prefix="tavlo-bench-home-")
    cleanup = lambda: None  # noqa: E731
    try:
        times = []
        for _ in range(runs):
            seconds, process = start_to_tray(tavlo, home)
            times.append(seconds)
            stop(process)
        print("tavlo run, start to tray icon: median %.1f ms (%.1f ... %.1f ms, %d runs, "
              "no accounts)" % (1000 * statistics.median(times), 1000 * min(times),
                                1000 * max(times), runs))

        cleanup, what = add_account(tavlo, home)
        if watch:
            subprocess.run([tavlo, "settings", "set", "SearchForMail", "0"], env=env_for(home),
                           check=True, capture_output=True)
        launched = time.monotonic()
        _seconds, process = start_to_tray(tavlo, home)
        # The first check runs 5.3 s after start; let it and the popup finish.
        time.sleep(9)
        first = memory_text(process.pid)
        before = voluntary_switches(process.pid)
        time.sleep(idle)
        after = voluntary_switches(process.pid)
        later = memory_text(process.pid)
        print("tavlo run, idle between checks (%s):" % what)
        print("  memory after the first check: %s" % first)
        print("  memory %d s later:            %s" % (idle, later))
        print("  wake-ups: %d voluntary context switches in %d s (%.1f per minute)"
              % (after - before, idle, (after - before) * 60.0 / idle))
        if watch:
            # Checks every minute from the start; samples fall between them.
            print("  %d minutes of 1-minute checks:" % watch, flush=True)
            elapsed = 0
            while elapsed < watch:
                step = min(sample, watch - elapsed)
                time.sleep(step * 60)
                elapsed += step
                print("  %5.1f min after start: %s" % ((time.monotonic() - launched) / 60,
                                                      memory_text(process.pid)), flush=True)
        stop(process)
    finally:
        cleanup()
        shutil.rmtree(home, ignore_errors=True)


def bench_wine(exe, runs):
    if not os.path.exists(exe):
        print("tavlo.exe under Wine: skipped (no %s; cmake --build --preset mingw)" % exe)
        return
    for tool in ("wine", "Xvfb", "xdotool"):
        if not shutil.which(tool):
            print("tavlo.exe under Wine: skipped (%s is not installed)" % tool)
            return
    env = dict(os.environ)
    env.update(WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(REPO, "build", "wine-run")),
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=;mshtml=")
    display = 90
    while os.path.exists("/tmp/.X11-unix/X%d" % display) or os.path.exists(
            "/tmp/.X%d-lock" % display):
        display += 1
    env["DISPLAY"] = ":%d" % display
    xvfb = subprocess.Popen(["Xvfb", env["DISPLAY"], "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % display):
                break
            time.sleep(0.05)
        os.makedirs(env["WINEPREFIX"], exist_ok=True)
        subprocess.Popen(["setsid", "wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
        subprocess.run(["wine", "wineboot"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def tray_window():
            found = subprocess.run(["xdotool", "search", "--name", "Wine System Tray"], env=env,
                                   capture_output=True)
            return found.returncode == 0 and found.stdout.strip() != b""

        times = []
        for _ in range(runs):
            started = time.monotonic()
            process = subprocess.Popen(["wine", exe], env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seen = None
            while time.monotonic() - started < 30:
                if tray_window():
                    seen = time.monotonic() - started
                    break
                time.sleep(0.02)
            process.terminate()
            subprocess.run(["wineserver", "-k"], env=env)
            process.wait(timeout=30)
            subprocess.Popen(["setsid", "wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
            subprocess.run(["wine", "wineboot"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if seen is None:
                print("tavlo.exe under Wine: no tray window within 30 s")
                return
            times.append(seen)
        print("tavlo.exe under Wine, start to tray icon: median %.0f ms (%.0f ... %.0f ms, %d "
              "runs; warm wineserver, first appearance of the \"Wine System Tray\" window)"
              % (1000 * statistics.median(times), 1000 * min(times), 1000 * max(times), runs))
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
        xvfb.terminate()
        xvfb.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tavlo", default=os.path.join(REPO, "build", "linux", "tavlo"))
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "mingw", "tavlo.exe"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=int, default=60)
    parser.add_argument("--watch", type=int, default=0,
                        help="minutes of 1-minute checks to watch memory over (0: none)")
    parser.add_argument("--sample", type=int, default=10, help="minutes between samples")
    parser.add_argument("--no-wine", action="store_true", help="skip tavlo.exe under Wine")
    args = parser.parse_args()
    if not os.access(args.tavlo, os.X_OK):
        print("bench-startup.py: no tavlo at %s (cmake --build --preset linux)" % args.tavlo,
              file=sys.stderr)
        return 2
    bench_linux(os.path.abspath(args.tavlo), args.runs, args.idle, args.watch, args.sample)
    if not args.no_wine:
        bench_wine(os.path.abspath(args.exe), args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
