"""Ctrl-C during a long native call raises KeyboardInterrupt within moments,
from inside the call, and leaves every object usable.

PyPy's emulation of the C API runs no signal handler from inside a native
call, so there the interrupt comes when the call returns."""
import gc
import itertools
import signal
import time

import pytest

import _kelvaro
from conftest import cpython_only
from kelvaro import Index

CHAIN_INDEX = Index.from_words(["a" * 20000])
CHAIN = CHAIN_INDEX.trie
# A root with two million children: a tenth of a second or more to decode.
WIDE = 2_000_000
SAVED = _kelvaro.from_internal_data(
    [0] + [WIDE] * WIDE, [""] + ["x"] * WIDE, [None] * (WIDE + 1), list(range(1, WIDE + 1))
).to_bytes()
WORDS = [f"w{i:07d}" for i in range(WIDE)]


@pytest.fixture
def alarm():
    previous = signal.signal(signal.SIGALRM, signal.default_int_handler)
    yield lambda seconds: signal.setitimer(signal.ITIMER_REAL, seconds)
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


# Quadratic on purpose: a band as wide as the query on a deep chain. Each
# of these would take minutes.
ENDLESS = [
    lambda: CHAIN.fuzzy_match("b" * 20000, 10**9, None),
    # The index's lookups run without the interpreter lock, the batches on
    # threads of their own.
    lambda: CHAIN_INDEX.search("b" * 20000, 10**9),
    lambda: CHAIN_INDEX.complete("b" * 20000, 10**9, 3),
    lambda: CHAIN_INDEX.search_many(["b" * 20000] * 4, 10**9, threads=2),
]
CALLS = [
    *ENDLESS,
    lambda: _kelvaro.from_bytes(SAVED),
    lambda: Index.from_words(WORDS),
]


@cpython_only
@pytest.mark.parametrize(
    "call", CALLS, ids=["search", "index search", "complete", "search_many", "decode", "build"]
)
def test_a_long_call_stops_at_ctrl_c(alarm, call):
    started = time.monotonic()
    if call not in ENDLESS:
        call()
    whole = time.monotonic() - started
    alarm(0.01)
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        call()
    # Within moments, from inside the call: not once it has run its course.
    # The search would take minutes.
    assert time.monotonic() - started < (whole / 2 if call not in ENDLESS else 5)
    assert CHAIN.fuzzy_match("a" * 20000, 0, None) == [("a" * 20000, 0, 0)]
    assert CHAIN_INDEX.search_many(["a" * 20000], 0) == [CHAIN_INDEX.search("a" * 20000, 0)]


@pytest.fixture(scope="module")
def weighted():
    """A weighted index most of whose words have no weight, as the English
    one: suggestions look in the table of deletions of the words with a
    weight and among the words that sound alike, besides walking."""
    words = ("".join(letters) for letters in itertools.product("abcdefghijklmnop", repeat=4))
    return Index.from_words({word: i if i % 7 == 0 else 0 for i, word in enumerate(words)}, weighted=True)


# Each would take minutes: thousands of short lookups a second, millions of them.
BATCHES = {
    "suggest_many": lambda index, queries, threads: index.suggest_many(queries, threads=threads),
    "complete_many": lambda index, queries, threads: index.complete_many(queries, 2, threads=threads),
}
QUERIES = ["abcq", "ponm", "zzab"] * 1_000_000


@cpython_only
@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("batch", BATCHES)
def test_a_batch_of_short_lookups_stops_at_ctrl_c(alarm, weighted, batch, threads):
    alarm(0.2)
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        BATCHES[batch](weighted, QUERIES, threads)
    assert time.monotonic() - started < 5
    assert BATCHES[batch](weighted, QUERIES[:3], threads) == [BATCHES[batch](weighted, [q], 1)[0] for q in QUERIES[:3]]


# About a second each.
TEXTS = {
    "check": lambda index: index.check("abcq ponmz the " * 80_000),
    "check code": lambda index: index.check("abcq ponmz the " * 50_000, code=True),
    "correct": lambda index: index.correct("abcq ponmz the " * 7_000),
    "segment": lambda index: index.segment("abcqponmthe" * 120_000),
}


@cpython_only
@pytest.mark.parametrize("call", TEXTS)
def test_running_text_stops_at_ctrl_c(alarm, weighted, call):
    started = time.monotonic()
    TEXTS[call](weighted)
    whole = time.monotonic() - started
    # A collection while the results are made would run gc.callbacks
    # (Hypothesis installs one), and Python drops what a callback raises:
    # the signal would be answered there, and lost.
    gc.disable()
    try:
        alarm(0.05)
        started = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            TEXTS[call](weighted)
        assert time.monotonic() - started < whole / 2
    finally:
        gc.enable()


def test_other_threads_run_during_a_long_lookup():
    # The index's lookups give the interpreter lock away while they work.
    import threading

    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        started = time.monotonic()
        CHAIN_INDEX.search("b" * 3000, 10**9)
        ended = time.monotonic()
    finally:
        done.set()
        ticker.join()
    during = [t for t in ticks if started < t < ended]
    assert len(during) >= min(3, (ended - started) / 0.02)
