#!/usr/bin/env python3
"""Private proxies on loopback for the Tavlo tests and benchmarks.

Three proxy servers from Debian, each started from its own configuration in
one folder DIR, listening on 127.0.0.1 on free unprivileged ports chosen at
start, never as the system services:

    dante (danted)  SOCKS4 and SOCKS5 without authentication, one port
    microsocks      SOCKS5 with user name and password (RFC 1929)
    tinyproxy       HTTP CONNECT with Basic authentication

Command line (stdlib only, usable from bash):

    proxy_harness.py start --dir DIR [--dovecot-dir DOVECOT_DIR]
    proxy_harness.py stop  --dir DIR

With --dovecot-dir (a running instance of scripts/dovecot_harness.py),
tinyproxy allows CONNECT only to that instance's four ports (any other port
is refused with 403, which the tests use as "a proxy that refuses the
target"), and the users of the proxy tests are added to the instance:

    vera    tests/unit/ProxyDovecotTest.cpp
    walt    tests/integration/test_proxy.py
    xena    scripts/bench-proxy.py

`start` writes DIR/env.json and DIR/env.txt (KEY=VALUE lines):
TAVLO_PROXY_<NAME>_PORT, _USER, _PASSWORD and _URL (the "Proxy" setting that
reaches it) for NAME in SOCKS4, SOCKS5, SOCKS5_AUTH, HTTP.

The functions of the same names are importable: start(), stop(), load_env().
Dante and tinyproxy drop to the user nobody after start; the harness runs as
root (as the Dovecot harness does).
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import dovecot_harness  # noqa: E402

HOST = "127.0.0.1"
SOCKS5_USER, SOCKS5_PASSWORD = "tavlo-socks", "socks: secret@5"
HTTP_USER, HTTP_PASSWORD = "tavlo-http", "http-secret"
PROXY_TEST_USERS = {
    "vera": "vera-secret",
    "walt": "walt-secret",
    "xena": "xena-secret",
}
PROGRAMS = {"dante": "danted", "microsocks": "microsocks", "tinyproxy": "tinyproxy"}


class HarnessError(Exception):
    pass


def _which(name):
    return shutil.which(name, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")


def _quote(text):
    """Percent-encodes everything but the unreserved characters (RFC 3986)."""
    safe = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~")
    return "".join(c if c in safe else "%%%02X" % b for c, b in
                   ((chr(b), b) for b in text.encode("utf-8")))


def _write(path, text, mode=0o644):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, mode)


def _dante_config(directory, port):
    return "\n".join([
        "logoutput: %s" % os.path.join(directory, "danted.log"),
        "internal: %s port = %d" % (HOST, port),
        # Loopback is the external side too: every target is on loopback.
        "external: %s" % HOST,
        "clientmethod: none",
        "socksmethod: none",
        "user.privileged: root",
        "user.unprivileged: nobody",
        "client pass {",
        "    from: 127.0.0.0/8 to: 0.0.0.0/0",
        "    log: error",
        "}",
        "socks pass {",
        "    from: 127.0.0.0/8 to: 0.0.0.0/0",
        "    command: connect",
        "    log: error",
        "}",
        "",
    ])


def _tinyproxy_config(directory, port, allowed_ports):
    lines = [
        "User nobody",
        "Group nogroup",
        "Port %d" % port,
        "Listen %s" % HOST,
        "Timeout 60",
        "MaxClients 50",
        "Allow 127.0.0.1",
        "BasicAuth %s %s" % (HTTP_USER, HTTP_PASSWORD),
        "LogFile \"%s\"" % os.path.join(directory, "tinyproxy.log"),
        "LogLevel Info",
        "DisableViaHeader Yes",
    ]
    # Without ConnectPort lines tinyproxy allows CONNECT to every port.
    lines += ["ConnectPort %d" % p for p in allowed_ports]
    return "\n".join(lines) + "\n"


def _wait_listening(port, process, name, deadline):
    while time.time() < deadline:
        if process.poll() is not None:
            raise HarnessError("%s ended at start (exit %s)" % (name, process.returncode))
        try:
            with socket.create_connection((HOST, port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise HarnessError("%s does not listen on port %d" % (name, port))


def _env_json(directory):
    return os.path.join(directory, "env.json")


def load_env(path):
    """The env.json of the proxies, given their folder or the file itself."""
    if os.path.isdir(path):
        path = _env_json(path)
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def _flat(env):
    flat = {"TAVLO_PROXY_DIR": env["dir"]}
    for name, info in env["proxies"].items():
        key = "TAVLO_PROXY_%s_" % name.upper()
        flat[key + "PORT"] = str(info["port"])
        flat[key + "USER"] = info["user"]
        flat[key + "PASSWORD"] = info["password"]
        flat[key + "URL"] = info["url"]
    return flat


def _alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def stop(directory):
    """Stops the proxies started in directory (harmless when none run)."""
    directory = os.path.abspath(directory)
    try:
        env = load_env(directory)
    except (OSError, ValueError):
        return
    pids = [info["pid"] for info in env.get("pids", {}).values()]
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.time() + 5
    while time.time() < deadline and any(_alive(p) for p in pids):
        time.sleep(0.05)
    for pid in pids:
        if _alive(pid):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
    os.remove(_env_json(directory))


def start(directory, dovecot_dir=None):
    """Starts the three proxies in directory (stopping ones left there); returns their env."""
    if os.geteuid() != 0:
        raise HarnessError("the proxy instances run as root and drop to nobody")
    missing = [prog for prog in PROGRAMS.values() if not _which(prog)]
    if missing:
        raise HarnessError("not installed: %s (packages dante-server microsocks tinyproxy)"
                           % " ".join(missing))
    directory = os.path.abspath(directory)
    stop(directory)
    os.makedirs(directory, exist_ok=True)
    os.chmod(directory, 0o777)  # tinyproxy writes its log as nobody

    allowed = []
    if dovecot_dir:
        dovecot_env = dovecot_harness.load_env(dovecot_dir)
        allowed = sorted(dovecot_env["ports"].values())
        for user, password in PROXY_TEST_USERS.items():
            dovecot_harness.add_user(dovecot_dir, user, password)

    dante_port, micro_port, tiny_port = dovecot_harness.free_ports(3)
    _write(os.path.join(directory, "danted.conf"), _dante_config(directory, dante_port))
    _write(os.path.join(directory, "tinyproxy.conf"),
           _tinyproxy_config(directory, tiny_port, allowed))
    for log in ("danted.log", "tinyproxy.log", "microsocks.log"):
        open(os.path.join(directory, log), "a").close()
        os.chmod(os.path.join(directory, log), 0o666)

    commands = {
        "dante": [_which("danted"), "-f", os.path.join(directory, "danted.conf"),
                  "-p", os.path.join(directory, "danted.pid")],
        "microsocks": [_which("microsocks"), "-i", HOST, "-p", str(micro_port),
                       "-u", SOCKS5_USER, "-P", SOCKS5_PASSWORD],
        "tinyproxy": [_which("tinyproxy"), "-d", "-c", os.path.join(directory, "tinyproxy.conf")],
    }
    ports = {"dante": dante_port, "microsocks": micro_port, "tinyproxy": tiny_port}
    pids = {}
    deadline = time.time() + 15
    try:
        for name, command in commands.items():
            with open(os.path.join(directory, name + ".out"), "ab") as out:
                process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                           stderr=subprocess.STDOUT, start_new_session=True)
            pids[name] = {"pid": process.pid}
            _write(_env_json(directory), json.dumps({"dir": directory, "pids": pids,
                                                     "proxies": {}}))
            _wait_listening(ports[name], process, name, deadline)
    except HarnessError:
        stop(directory)
        raise

    def url(scheme, port, user="", password=""):
        cred = "%s:%s@" % (_quote(user), _quote(password)) if user else ""
        return "%s://%s%s:%d" % (scheme, cred, HOST, port)

    proxies = {
        "socks4": {"port": dante_port, "user": "", "password": "",
                   "url": url("socks4", dante_port)},
        "socks5": {"port": dante_port, "user": "", "password": "",
                   "url": url("socks5", dante_port)},
        "socks5_auth": {"port": micro_port, "user": SOCKS5_USER, "password": SOCKS5_PASSWORD,
                        "url": url("socks5", micro_port, SOCKS5_USER, SOCKS5_PASSWORD)},
        "http": {"port": tiny_port, "user": HTTP_USER, "password": HTTP_PASSWORD,
                 "url": url("http", tiny_port, HTTP_USER, HTTP_PASSWORD)},
    }
    env = {"dir": directory, "pids": pids, "proxies": proxies, "allowed_ports": allowed}
    _write(_env_json(directory), json.dumps(env, indent=2, sort_keys=True) + "\n")
    _write(os.path.join(directory, "env.txt"),
           "".join("%s=%s\n" % kv for kv in sorted(_flat(env).items())))
    return env


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("start")
    p.add_argument("--dir", required=True)
    p.add_argument("--dovecot-dir")
    p = sub.add_parser("stop")
    p.add_argument("--dir", required=True)
    args = parser.parse_args(argv)
    try:
        if args.command == "start":
            env = start(args.dir, args.dovecot_dir)
            for key, value in sorted(_flat(env).items()):
                print("%s=%s" % (key, value))
        else:
            stop(args.dir)
    except HarnessError as e:
        print("proxy_harness: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
