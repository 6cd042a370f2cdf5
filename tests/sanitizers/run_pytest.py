"""Runs pytest for `make check` against the sanitized build of the module.

This process checks itself for leaks when it exits; every public path of the
module runs in it. The processes that the tests start (the command line,
pools of workers) still run under the sanitizers' error checks, but not the
leak check: they are whole programs whose interpreters and libraries keep
some memory when they exit, at moments that vary from run to run.
"""
import os
import sys

import pytest

if __name__ == "__main__":
    # The sanitizer read its options when this process started; the change
    # reaches only the processes started from now on. A later option wins.
    os.environ["ASAN_OPTIONS"] = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    sys.exit(pytest.main(sys.argv[1:]))
