#!/usr/bin/env python3
"""End-to-end tests of `tavlo update-check`: the manual update check against a
small web server on loopback, named by the setting UpdateHost.

    test_update_check.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN. Every
test gets a fresh data folder.
"""

import http.server
import os
import sys
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts"))
sys.path.insert(0, HERE)

import test_check_pop3 as cli  # noqa: E402  (the data folder and its tavlo runs)

# The server is on loopback: no proxy of the environment may stand between.
for _name in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
    os.environ.pop(_name, None)

NEWER = "There is a newer version of Tavlo.\nYou can download this new version (v%s) from our homepage\n"
UP_TO_DATE = "Your version of Tavlo is up to date!\n"
NO_CONNECTION = "The Client Could Not Connect to the Server\n"


class Site(http.server.ThreadingHTTPServer):
    """Answers every GET with (status, body) and records path and agent."""

    def __init__(self, status, body):
        self.status, self.body, self.requests = status, body, []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(handler):
                self.requests.append((handler.path, handler.headers.get("User-Agent")))
                handler.send_response(self.status)
                handler.send_header("Content-Type", "text/plain")
                handler.send_header("Content-Length", str(len(self.body)))
                if 300 <= self.status < 400:
                    handler.send_header("Location", "/quendel/en/version")
                handler.end_headers()
                handler.wfile.write(self.body)

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def host(self):
        return "127.0.0.1:%d" % self.server_address[1]

    def stop(self):
        self.shutdown()
        self.server_close()
        self.thread.join(timeout=5)


class UpdateCheckTest(cli.TavloTestCase):
    def site(self, status, body):
        site = Site(status, body)
        self.addCleanup(site.stop)
        result = self.home.run("settings", "set", "UpdateHost", site.host())
        self.assertEqual(result.returncode, 0, result.stderr)
        return site

    def update_check(self):
        return self.home.run("update-check", timeout=30)

    def test_each_answer_prints_the_box_text_and_exits_accordingly(self):
        cases = [(200, b"1.8\r\n", UP_TO_DATE, 0),
                 (200, b"1.8\nold notes\n", UP_TO_DATE, 0),
                 (200, b"1.9\r\n", NEWER % "1.9", 0),
                 (200, b"1.8 \n", NEWER % "1.8 ", 0),
                 (200, b"", NEWER % "", 0),
                 (404, b"1.9\n", NO_CONNECTION, 1),
                 (500, b"broken\n", NO_CONNECTION, 1),
                 (301, b"1.9\n", NO_CONNECTION, 1)]
        for status, body, text, code in cases:
            with self.subTest(status=status, body=body):
                site = self.site(status, body)
                result = self.update_check()
                self.assertEqual(result.stdout.decode("latin-1"), text)
                self.assertEqual(result.returncode, code, result.stderr)
                # One request of the manual document with the program's
                # name as agent; a redirect is not followed.
                self.assertEqual(site.requests,
                                 [("/quendel/version", os.path.basename(cli.TAVLO))])

    def test_no_server_is_no_connection(self):
        result = self.home.run("settings", "set", "UpdateHost",
                               "127.0.0.1:%d" % cli.closed_port())
        self.assertEqual(result.returncode, 0, result.stderr)
        result = self.update_check()
        self.assertEqual(result.stdout.decode("latin-1"), NO_CONNECTION)
        self.assertEqual(result.returncode, 1)

    def test_wrong_use_is_a_usage_error(self):
        result = self.home.run("update-check", "now")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, b"")


def main():
    return cli.run_tests("test_update_check.py", lambda binary: setattr(cli, "TAVLO", binary))


if __name__ == "__main__":
    sys.exit(main())
