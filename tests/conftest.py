import os
import platform
import shutil
import tempfile

import pytest
from hypothesis import settings

import _kelvaro

# A first search makes an index's lookup tables, and the sanitizer builds
# run everything many times slower: no example has a deadline.
settings.register_profile("kelvaro", deadline=None)
settings.load_profile("kelvaro")


def pytest_configure(config):
    """The tests never touch the user's own cache: the English index is
    cached in a folder of the session's, which every test and every
    process a test starts inherits."""
    folder = tempfile.mkdtemp(prefix="kelvaro-test-cache-")
    config._kelvaro_cache = (folder, os.environ.get("KELVARO_CACHE_DIR"))
    os.environ["KELVARO_CACHE_DIR"] = folder


def pytest_unconfigure(config):
    folder, before = config._kelvaro_cache
    shutil.rmtree(folder, ignore_errors=True)
    if before is None:
        os.environ.pop("KELVARO_CACHE_DIR", None)
    else:
        os.environ["KELVARO_CACHE_DIR"] = before


IS_PYPY = platform.python_implementation() == "PyPy"
cpython_only = pytest.mark.skipif(IS_PYPY, reason="relies on CPython's own behaviour")


def panic_of(call, *args, **kwargs):
    """Runs `call` and returns the PanicException it must raise.

    PanicException derives from BaseException and is not exported, so it can
    only be caught as BaseException and recognised by name.
    """
    try:
        call(*args, **kwargs)
    except BaseException as error:  # noqa: B902 - the point of the helper
        if type(error).__name__ != "PanicException":
            raise
        return error
    pytest.fail("expected PanicException")


def panic_message(call, *args, **kwargs):
    return panic_of(call, *args, **kwargs).args[0]


def two_words():
    """The words "ab" (payload 0) and "ac" (payload 1): four nodes."""
    return _kelvaro.from_internal_data([0, 1, 3, 3], ["", "a", "b", "c"], [None, None, 0, 1], [1, 2, 3])


@pytest.fixture
def ab_ac():
    return two_words()
