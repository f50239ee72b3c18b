#!/usr/bin/env python3
"""Private Dovecot instances on loopback for the Tavlo tests and benchmarks.

Each instance lives in its own folder DIR: configuration, state, log, the
passwd-file and the users' Maildirs. It listens on 127.0.0.1 only, on free
unprivileged ports chosen at start for POP3, POP3S, IMAP and IMAPS, and serves
the certificate tests/data/tls/<NAME>.crt (default "server", signed by the
test CA tests/data/tls/ca.crt). Dovecot has to run as root (it switches to the
mail users' uid 5000 itself).

Command line (stdlib only, usable from bash):

    dovecot_harness.py start   --dir DIR [--cert NAME]
    dovecot_harness.py stop    --dir DIR
    dovecot_harness.py deliver --dir DIR --user U --from ADDR --subject S [--count N] [--body TEXT]
    dovecot_harness.py reset   --dir DIR --user U
    dovecot_harness.py add-user --dir DIR --user U --password P
    dovecot_harness.py pop3-logouts --dir DIR --user U

`start` writes DIR/env.json, DIR/env.sh (for `source`) and DIR/env.txt
(KEY=VALUE lines, for readers without a JSON parser): host, ports, CA file,
log file, users with their passwords and Maildirs. `deliver` prints the POP3 unique ids
(UIDL) of the new messages, one a line: with pop3_uidl_format %f the UIDL is
the Maildir file name.

Users and who uses them (keep test suites that may run in parallel apart;
add more with add-user: Dovecot re-reads the passwd-file when it changes):
    alice, bob, carol          tests/integration/test_check_pop3.py
    dave, judy                 tests/integration/test_check_imap.py (dave's
                               password holds spaces, double quotes and a
                               backslash)
    erin, frank, grace, heidi  tests/unit/Pop3DovecotTest.cpp
    ivan                       tests/unit/ImapDovecotTest.cpp
    kim                        tests/unit/AccountDialogTest.cpp
    lena                       tests/integration/test_accounts.py
    mona                       tests/ui/test_account_dialog.py
    nora, olga, pia, quinn,    tests/unit/BlockedSweepDovecotTest.cpp
    rosa, sven, ulla
    tess                       tests/integration/test_blocked.py

Every POP3 session that ends with QUIT leaves a line in the log with its
RETR and DELE counts (Dovecot's default pop3_logout_format); pop3_logouts()
reads them, so tests can tell what a client downloaded and deleted.

The functions of the same names are importable: start(), stop(), running(),
deliver(), reset(), add_user(), load_env(), maildir(), pop3_logouts().
"""

import argparse
import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TLS_DIR = os.path.join(REPO, "tests", "data", "tls")
HOST = "127.0.0.1"
MAIL_UID = 5000
MAIL_GID = 5000
PROTOCOLS = ("pop3", "pop3s", "imap", "imaps")

USERS = {
    "alice": "alice-secret",
    "bob": "bob-secret",
    "carol": "carol-secret",
    "dave": 'two words "quoted" back\\slash',
    "erin": "erin-secret",
    "frank": "frank-secret",
    "grace": "grace-secret",
    "heidi": "heidi-secret",
    "ivan": "ivan-secret",
    "judy": "judy-secret",
    "kim": "kim-secret",
    "lena": "lena-secret",
    "mona": "mona-secret",
    "nora": "nora-secret",
    "olga": "olga-secret",
    "pia": "pia-secret",
    "quinn": "quinn-secret",
    "rosa": "rosa-secret",
    "sven": "sven-secret",
    "tess": "tess-secret",
    "ulla": "ulla-secret",
}

START_TIMEOUT = 20.0
STOP_TIMEOUT = 15.0

# Unix socket paths are limited to 107 bytes; Dovecot's longest below its
# base_dir is about 30.
MAX_BASE_DIR = 70


class HarnessError(Exception):
    pass


# --------------------------------------------------------------------------
# Paths and the environment files
# --------------------------------------------------------------------------


def _dir(directory):
    return os.path.abspath(directory)


def _env_json(directory):
    return os.path.join(_dir(directory), "env.json")


def load_env(path):
    """The env.json of an instance, given its folder or the file itself."""
    if os.path.isdir(path):
        path = _env_json(path)
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def _home(directory, user):
    return os.path.join(_dir(directory), "home", user)


def maildir(directory, user):
    return os.path.join(_home(directory, user), "Maildir")


def _check_user_name(user):
    # The name becomes a passwd-file field and a folder name.
    if not user or any(c in user for c in ":/\n\r\0") or user in (".", ".."):
        raise HarnessError("unusable user name %r" % user)


def _check_password(password):
    if any(c in password for c in ":\n\r\0"):
        raise HarnessError("a password cannot hold ':', CR, LF or NUL in a passwd-file")


def _write_file(path, text, mode=0o644):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(tmp, mode)
    os.replace(tmp, path)


def _read_users(directory):
    users = {}
    path = os.path.join(_dir(directory), "users")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split(":")
                if len(fields) >= 2 and fields[1].startswith("{PLAIN}"):
                    users[fields[0]] = fields[1][len("{PLAIN}"):]
    return users


def _write_users(directory, users):
    lines = []
    for user, password in users.items():
        lines.append("%s:{PLAIN}%s:%d:%d::%s::\n" % (user, password, MAIL_UID, MAIL_GID,
                                                    _home(directory, user)))
    # Dovecot's auth process reads it as its own user; the passwords are
    # test data anyway.
    _write_file(os.path.join(_dir(directory), "users"), "".join(lines), 0o644)


def _make_maildir(directory, user):
    home = _home(directory, user)
    for sub in ("", "Maildir", "Maildir/cur", "Maildir/new", "Maildir/tmp"):
        path = os.path.join(home, sub)
        os.makedirs(path, exist_ok=True)
        os.chown(path, MAIL_UID, MAIL_GID)
        os.chmod(path, 0o700)


def _write_env(directory, env):
    _write_file(_env_json(directory), json.dumps(env, indent=2, sort_keys=True) + "\n")
    flat = {
        "TAVLO_DOVECOT_DIR": env["dir"],
        "TAVLO_DOVECOT_HOST": env["host"],
        "TAVLO_DOVECOT_CA": env["ca"],
        "TAVLO_DOVECOT_CERT": env["cert"],
        "TAVLO_DOVECOT_LOG": env["log"],
        "TAVLO_DOVECOT_USERS": " ".join(sorted(env["users"])),
    }
    for proto, port in env["ports"].items():
        flat["TAVLO_DOVECOT_%s_PORT" % proto.upper()] = str(port)
    for user, info in env["users"].items():
        flat["TAVLO_DOVECOT_PASSWORD_%s" % user.upper()] = info["password"]
        flat["TAVLO_DOVECOT_MAILDIR_%s" % user.upper()] = info["maildir"]
    _write_file(os.path.join(_dir(directory), "env.sh"),
                "".join("export %s=%s\n" % (k, shlex.quote(v)) for k, v in sorted(flat.items())))
    _write_file(os.path.join(_dir(directory), "env.txt"),
                "".join("%s=%s\n" % (k, v) for k, v in sorted(flat.items())))


def _env_for(directory, cert, ports, base_dir):
    directory = _dir(directory)
    return {
        "dir": directory,
        "host": HOST,
        "ports": ports,
        "ca": os.path.join(TLS_DIR, "ca.crt"),
        "cert": cert,
        "config": os.path.join(directory, "dovecot.conf"),
        "log": os.path.join(directory, "dovecot.log"),
        "base_dir": base_dir,
        "users": {u: {"password": p, "maildir": maildir(directory, u)}
                  for u, p in _read_users(directory).items()},
    }


# --------------------------------------------------------------------------
# Start and stop
# --------------------------------------------------------------------------


def free_ports(n):
    # Held open together so that the n ports differ; another process may
    # still take one before Dovecot binds it, which start() retries.
    socks = []
    try:
        for _ in range(n):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind((HOST, 0))
            socks.append(s)
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


def _base_dir_for(directory):
    run = os.path.join(_dir(directory), "run")
    if len(run) <= MAX_BASE_DIR:
        return run
    digest = hashlib.sha1(_dir(directory).encode()).hexdigest()[:12]
    return os.path.join(tempfile.gettempdir(), "tavlo-dovecot-" + digest)


def _check_traversable(path):
    # The mail processes run as uid 5000 and must reach the homes.
    path = os.path.dirname(path)
    while True:
        if not os.stat(path).st_mode & 0o001:
            raise HarnessError("%s is not searchable by other users; Dovecot's mail processes "
                               "(uid %d) cannot reach the homes below it" % (path, MAIL_UID))
        parent = os.path.dirname(path)
        if parent == path:
            return
        path = parent


def _config_text(directory, cert, ports, base_dir):
    directory = _dir(directory)
    cert_file = os.path.join(TLS_DIR, cert + ".crt")
    key_file = os.path.join(TLS_DIR, cert + ".key")
    users = os.path.join(directory, "users")
    name = "tavlo-" + hashlib.sha1(directory.encode()).hexdigest()[:12]
    return f"""# Written by scripts/dovecot_harness.py; a private test instance.
instance_name = {name}
base_dir = {base_dir}
state_dir = {directory}/state
log_path = {directory}/dovecot.log
info_log_path = {directory}/dovecot.log
protocols = imap pop3
listen = {HOST}
first_valid_uid = 500
first_valid_gid = 500
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_verbose = yes
# Tests log in with wrong passwords on purpose; no delays for that.
auth_failure_delay = 0
ssl = yes
ssl_cert = <{cert_file}
ssl_key = <{key_file}
ssl_min_protocol = TLSv1.2
mail_location = maildir:~/Maildir
# The Maildir file name: stable across index resets, known at delivery.
pop3_uidl_format = %f
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {users}
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {users}
}}
service imap-login {{
  inet_listener imap {{
    port = {ports["imap"]}
  }}
  inet_listener imaps {{
    port = {ports["imaps"]}
    ssl = yes
  }}
}}
service pop3-login {{
  inet_listener pop3 {{
    port = {ports["pop3"]}
  }}
  inet_listener pop3s {{
    port = {ports["pop3s"]}
    ssl = yes
  }}
}}
# No growing penalty for repeated failed logins from 127.0.0.1.
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
"""


def _master_pid(base_dir):
    try:
        with open(os.path.join(base_dir, "master.pid"), encoding="ascii") as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def _alive(pid):
    # A zombie (our own unreaped child) counts as gone.
    try:
        with open("/proc/%d/stat" % pid, encoding="ascii") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def _greeting(port, use_tls, expect, deadline):
    """True once the port answers with a greeting that starts with expect."""
    while time.monotonic() < deadline:
        try:
            with socket.create_connection((HOST, port), timeout=2) as raw:
                if use_tls:
                    # Only readiness is checked here; the certificate may be
                    # one that the tests expect clients to refuse.
                    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                    ctx.check_hostname = False
                    ctx.verify_mode = ssl.CERT_NONE
                    with ctx.wrap_socket(raw) as tls:
                        line = tls.recv(512)
                else:
                    line = raw.recv(512)
                if line.startswith(expect):
                    return True
        except (OSError, ssl.SSLError):
            pass
        time.sleep(0.05)
    return False


def _log_tail(directory, lines=20):
    try:
        with open(os.path.join(_dir(directory), "dovecot.log"), encoding="utf-8",
                  errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


def start(directory, cert="server"):
    """Starts an instance in directory (stopping one left there) and returns its env."""
    if os.geteuid() != 0:
        raise HarnessError("Dovecot test instances need root")
    dovecot = shutil.which("dovecot", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not dovecot:
        raise HarnessError("dovecot is not installed (packages dovecot-imapd dovecot-pop3d)")
    for ext in (".crt", ".key"):
        if not os.path.isfile(os.path.join(TLS_DIR, cert + ext)):
            raise HarnessError("no certificate %s%s in %s" % (cert, ext, TLS_DIR))
    directory = _dir(directory)
    stop(directory)
    os.makedirs(directory, exist_ok=True)
    os.chmod(directory, 0o755)
    os.makedirs(os.path.join(directory, "home"), exist_ok=True)
    os.chmod(os.path.join(directory, "home"), 0o755)
    _check_traversable(os.path.join(directory, "home"))
    os.makedirs(os.path.join(directory, "state"), exist_ok=True)
    base_dir = _base_dir_for(directory)
    os.makedirs(base_dir, exist_ok=True)

    users = _read_users(directory)
    for user, password in USERS.items():
        users.setdefault(user, password)
    _write_users(directory, users)
    for user in users:
        _make_maildir(directory, user)

    config = os.path.join(directory, "dovecot.conf")
    failure = ""
    for _attempt in range(3):
        ports = dict(zip(PROTOCOLS, free_ports(len(PROTOCOLS))))
        _write_file(config, _config_text(directory, cert, ports, base_dir))
        # The daemon keeps its inherited descriptors: a pipe here would
        # never reach end of file, so its early messages go to a file.
        with tempfile.TemporaryFile(mode="w+") as out:
            run = subprocess.run([dovecot, "-c", config], stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=out)
            out.seek(0)
            failure = out.read().strip()
        if run.returncode != 0:
            stop(directory)
            continue
        deadline = time.monotonic() + START_TIMEOUT
        ready = all(_greeting(ports[p], p.endswith("s"), b"* OK" if p.startswith("imap") else b"+OK",
                              deadline) for p in PROTOCOLS)
        if ready:
            env = _env_for(directory, cert, ports, base_dir)
            env["pid"] = _master_pid(base_dir)
            _write_env(directory, env)
            return env
        failure = "the ports did not answer within %.0f s" % START_TIMEOUT
        stop(directory)
    raise HarnessError("Dovecot did not start: %s\n%s" % (failure, _log_tail(directory)))


def running(directory):
    """True while the instance of directory runs."""
    pid = _master_pid(_base_dir_for(directory))
    return pid is not None and _alive(pid) and os.path.exists(_env_json(directory))


def stop(directory):
    """Stops the instance of directory, if one runs; waits until it is gone."""
    directory = _dir(directory)
    base_dir = _base_dir_for(directory)
    pid = _master_pid(base_dir)
    if pid is not None and _alive(pid):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + STOP_TIMEOUT
        while _alive(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        if _alive(pid):
            os.kill(pid, signal.SIGKILL)
            while _alive(pid):
                time.sleep(0.05)
    # Nothing may point at the stopped instance any more.
    for name in (os.path.join(base_dir, "master.pid"), _env_json(directory),
                 os.path.join(directory, "env.sh"), os.path.join(directory, "env.txt")):
        try:
            os.unlink(name)
        except OSError:
            pass
    if not base_dir.startswith(directory + os.sep):
        shutil.rmtree(base_dir, ignore_errors=True)


# --------------------------------------------------------------------------
# Users and mail
# --------------------------------------------------------------------------


def add_user(directory, user, password):
    """Adds (or changes) a user of a running or stopped instance."""
    _check_user_name(user)
    _check_password(password)
    users = _read_users(directory)
    users[user] = password
    _write_users(directory, users)
    _make_maildir(directory, user)
    try:
        env = load_env(directory)
    except OSError:
        return
    env["users"][user] = {"password": password, "maildir": maildir(directory, user)}
    _write_env(directory, env)


def _existing_user_maildir(directory, user):
    _check_user_name(user)
    path = maildir(directory, user)
    if not os.path.isdir(path):
        raise HarnessError("no user %s in %s" % (user, _dir(directory)))
    return path


def _stamp(name):
    """(seconds, microseconds) of a Maildir name "SEC.MUSEC...", or None."""
    try:
        sec, rest = name.split(".", 1)
        if not rest.startswith("M"):
            return None
        digits = rest[1:].split("P", 1)[0]
        return int(sec) * 1000000 + int(digits)
    except ValueError:
        return None


def deliver(directory, user, sender, subject, count=1, body=None):
    """Writes count messages into the user's Maildir/new; returns their UIDLs in order.

    The file names are "SEC.MUSEC" stamps that increase with every message,
    also across calls, so Dovecot numbers the new messages after the old ones
    and in this order.
    """
    path = _existing_user_maildir(directory, user)
    latest = 0
    for sub in ("new", "cur"):
        for name in os.listdir(os.path.join(path, sub)):
            stamp = _stamp(name)
            if stamp is not None and stamp > latest:
                latest = stamp
    first = max(time.time_ns() // 1000, latest + 1)
    pid = os.getpid()
    host = socket.gethostname().replace("/", "_").replace(":", "_") or "localhost"
    ids = []
    for i in range(count):
        stamp = first + i
        name = "%d.M%06dP%dQ%d.%s" % (stamp // 1000000, stamp % 1000000, pid, i, host)
        date = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(stamp // 1000000))
        text = ("From: %s\n" % sender
                + "To: %s@localhost\n" % user
                + "Subject: %s\n" % subject
                + "Date: %s\n" % date
                + "Message-ID: <%s@tavlo.test>\n" % name
                + "\n"
                + (body if body is not None else "Message %d of %d.\n" % (i + 1, count)))
        tmp = os.path.join(path, "tmp", name)
        with open(tmp, "w", encoding="latin-1", newline="\n") as f:
            f.write(text)
        os.chown(tmp, MAIL_UID, MAIL_GID)
        os.chmod(tmp, 0o600)
        os.rename(tmp, os.path.join(path, "new", name))
        ids.append(name)
    return ids


def reset(directory, user):
    """Empties the user's mailbox; Dovecot's index stays, so UIDs keep counting up."""
    path = _existing_user_maildir(directory, user)
    for sub in ("new", "cur", "tmp"):
        folder = os.path.join(path, sub)
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))


_LOGOUT = re.compile(r"pop3\(([^)]*)\)<[^:]*: Info: Disconnected: (.*?) ?"
                     r"top=(\d+)/(\d+), retr=(\d+)/(\d+), del=(\d+)/(\d+), size=(\d+)")


def pop3_logouts(directory, user, wait_for=0, timeout=10.0, quit_only=True):
    """The POP3 sessions of user that ended with QUIT (with quit_only False:
    that ended at all), oldest first, as the log has them: dicts with retr,
    retr_bytes, deleted, messages (the count at login), size, quit and how
    (the log's reason, "Logged out" after QUIT). With wait_for, waits (at
    most timeout seconds) until there are that many: the log process writes
    a little after the QUIT reply."""
    path = os.path.join(_dir(directory), "dovecot.log")
    deadline = time.monotonic() + timeout
    while True:
        found = []
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = _LOGOUT.search(line)
                    if not m or m.group(1) != user:
                        continue
                    quit = m.group(2) == "Logged out"
                    if quit or not quit_only:
                        found.append({"top": int(m.group(3)), "retr": int(m.group(5)),
                                      "retr_bytes": int(m.group(6)), "deleted": int(m.group(7)),
                                      "messages": int(m.group(8)), "size": int(m.group(9)),
                                      "quit": quit, "how": m.group(2)})
        except OSError:
            pass
        if len(found) >= wait_for or time.monotonic() >= deadline:
            return found
        time.sleep(0.05)


# --------------------------------------------------------------------------
# Command line
# --------------------------------------------------------------------------


def main(argv=None):
    parser = argparse.ArgumentParser(description="Private Dovecot instances for the Tavlo tests.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("start", help="start an instance and write DIR/env.{json,sh,txt}")
    p.add_argument("--dir", required=True)
    p.add_argument("--cert", default="server", help="certificate tests/data/tls/NAME.crt/.key")
    p = sub.add_parser("stop", help="stop the instance of DIR")
    p.add_argument("--dir", required=True)
    p = sub.add_parser("deliver", help="write messages into a user's Maildir/new; prints UIDLs")
    p.add_argument("--dir", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--from", dest="sender", required=True)
    p.add_argument("--subject", required=True)
    p.add_argument("--count", type=int, default=1)
    p.add_argument("--body")
    p = sub.add_parser("reset", help="empty a user's mailbox")
    p.add_argument("--dir", required=True)
    p.add_argument("--user", required=True)
    p = sub.add_parser("add-user", help="add a user (or change its password)")
    p.add_argument("--dir", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p = sub.add_parser("pop3-logouts", help="the user's ended POP3 sessions, one line each: "
                                            "RETR count and bytes, DELE count, how it ended")
    p.add_argument("--dir", required=True)
    p.add_argument("--user", required=True)
    args = parser.parse_args(argv)

    try:
        if args.command == "start":
            env = start(args.dir, args.cert)
            print("dovecot %d running: pop3 %d, pop3s %d, imap %d, imaps %d; env in %s"
                  % (env["pid"] or 0, env["ports"]["pop3"], env["ports"]["pop3s"],
                     env["ports"]["imap"], env["ports"]["imaps"], _env_json(args.dir)))
        elif args.command == "stop":
            stop(args.dir)
        elif args.command == "deliver":
            if args.count < 0:
                parser.error("--count must not be negative")
            for uid in deliver(args.dir, args.user, args.sender, args.subject, args.count,
                               args.body):
                print(uid)
        elif args.command == "reset":
            reset(args.dir, args.user)
        elif args.command == "add-user":
            add_user(args.dir, args.user, args.password)
        elif args.command == "pop3-logouts":
            for s in pop3_logouts(args.dir, args.user, quit_only=False):
                print("retr=%d/%d del=%d/%d %s" % (s["retr"], s["retr_bytes"], s["deleted"],
                                                   s["messages"], s["how"]))
    except HarnessError as e:
        print("dovecot_harness: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
