"""The benchmarks' shared pieces, which live in bench-pop3.py: Dovecot
start-or-reuse and clean-up, the counting relay, the interleaved timing.
Its file name is no module name, so it is loaded here once by path."""

import importlib.util
import os

_spec = importlib.util.spec_from_file_location(
    "bench_pop3", os.path.join(os.path.dirname(os.path.abspath(__file__)), "bench-pop3.py"))
bench_pop3 = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(bench_pop3)
