"""Every public path, run many times, succeeding and failing in every way,
leaves no Python object behind.

CPython counts its allocated blocks, so a reference the module forgets to
release shows as growth; PyPy has no such count, and there the paths only
run. Native memory is checked by `make check`, which runs these tests under
LeakSanitizer.
"""
import gc
import sys

import pytest

import _kelvaro
import kelvaro
from _kelvaro import PrefixSearch
from kelvaro import _native_index
from conftest import IS_PYPY
from tries import arrays_from_words

ARRAYS = arrays_from_words(["car", "cart", "cat", "dog", "\U0001f600"])
T = _kelvaro.from_internal_data(*ARRAYS)
SAVED = T.to_bytes()
WEIGHTED = kelvaro.Index.from_words({"the": 5, "quick": 3, "fox": 2, "Brown": 1}, weighted=True)


class Index:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __index__(self):
        return self.behaviour()


def raise_(error):
    raise error


def refused_with_cause():
    raise TypeError("refused") from ValueError("underneath")


class BreaksMidway(list):
    def __iter__(self):
        yield from super().__iter__()
        raise ValueError("midway")


class NoLength(list):
    def __len__(self):
        raise RuntimeError("no length")


def foreign_receiver():
    # The method's C entry, called with a receiver that is no PrefixSearch.
    if not FOREIGN_ENTRY:
        from test_binding import method_entry

        FOREIGN_ENTRY.append(method_entry("get_payload"))
    return FOREIGN_ENTRY[0](5, 1)


FOREIGN_ENTRY = []


def build(shifts=ARRAYS[0], strings=ARRAYS[1], payloads=ARRAYS[2], children=ARRAYS[3]):
    return _kelvaro.from_internal_data(shifts, strings, payloads, children)


SUCCESSES = {
    "from_internal_data": build,
    "from_internal_data from other sequences": lambda: build(tuple(ARRAYS[0]), strings=tuple(ARRAYS[1]), children=range(1, 8)),
    "from_bytes": lambda: _kelvaro.from_bytes(SAVED),
    "from_bytes from a list": lambda: _kelvaro.from_bytes(list(SAVED)),
    "from_bytes from a bytearray": lambda: _kelvaro.from_bytes(bytearray(SAVED)),
    "fuzzy_match": lambda: T.fuzzy_match("cat", 2, None),
    "fuzzy_match with limit": lambda: T.fuzzy_match("cat", 2, 1),
    "fuzzy_match with keywords": lambda: T.fuzzy_match(prefix="\U0001f600", max_dist=Index(lambda: 1), limit=Index(lambda: 5)),
    "exact_match found": lambda: T.exact_match("dog"),
    "exact_match missing": lambda: T.exact_match("do"),
    "get_children": lambda: T.get_children(1),
    "get_payload": lambda: T.get_payload(len(ARRAYS[0]) - 1),
    "to_bytes": T.to_bytes,
    "Index.check": lambda: WEIGHTED.check("Teh quick brwn fox, thequick \ud800"),
    "Index.segment": lambda: WEIGHTED.segment("thequikfox brownfox", 1),
    "Index.correct": lambda: WEIGHTED.correct("TEH quickfox bro wn"),
}

BINDING_ERRORS = {
    "too many positional": lambda: T.get_payload(1, 2),
    "missing": lambda: T.fuzzy_match("a"),
    "multiple values": lambda: T.exact_match("a", prefix="b"),
    "unexpected keyword": lambda: _kelvaro.from_bytes(SAVED, data=1),
    "keyword without UTF-8": lambda: T.get_payload(**{"\udcff": 1}),
    "no constructor": lambda: PrefixSearch(),
}

CONVERSION_ERRORS = {
    "str for an array": lambda: build(shifts="abc"),
    "no sequence": lambda: build(children={1, 2}),
    "str element of no str": lambda: build(strings=["", 5]),
    "u32 out of range": lambda: build(payloads=[None, 2**32]),
    "u32 beyond a C long": lambda: T.get_payload(2**70),
    "u8 out of range": lambda: _kelvaro.from_bytes([0, 256]),
    "u64 out of range": lambda: T.fuzzy_match("a", -1, None),
    "u64 of no integer": lambda: T.fuzzy_match("a", 1.5, None),
    "__index__ raising TypeError with a cause": lambda: T.get_payload(Index(refused_with_cause)),
    "__index__ raising another error": lambda: T.fuzzy_match("a", 1, Index(lambda: raise_(KeyError("k")))),
    "iteration failing midway": lambda: build(shifts=BreaksMidway(ARRAYS[0])),
    "length failing, then an element": lambda: build(payloads=NoLength([None, -1])),
    "text without UTF-8": lambda: T.exact_match("a\udcffb"),
    "node string without UTF-8": lambda: build(strings=["", "\udcff"]),
    "arrays converted before a later failure": lambda: build(children="oops"),
    "folded text of another length": lambda: _native_index.check_text(WEIGHTED, "ab", "a", False, True, 1, 1, 0.0),
    "a weight that is no number": lambda: _native_index.correct_text(WEIGHTED, "ab", "ab", False, True, "x", 1, 1),
}

INTERNAL_ERRORS = {
    "payload out of bounds": lambda: T.get_payload(99),
    "children out of bounds": lambda: T.get_children(99),
    "child without a character": lambda: _kelvaro.from_internal_data([0, 1], ["", ""], [None, 1], [1]).get_children(0),
    "not a tree": lambda: _kelvaro.from_internal_data([0, 1], ["r", "a"], [None, 1], [1, 0]).fuzzy_match("a", 5, None),
    "query on a broken trie": lambda: _kelvaro.from_internal_data([0, 2], ["", "a"], [None, 1], [1, 9]).exact_match("a"),
    "capacity overflow": lambda: _kelvaro.from_bytes(bytes.fromhex("FD FF FF FF FF FF FF FF FF")),
}

DECODE_ERRORS = {
    "unexpected end": lambda: _kelvaro.from_bytes(SAVED[:-1]),
    "invalid integer type": lambda: _kelvaro.from_bytes(b"\xfe"),
    "unexpected variant": lambda: _kelvaro.from_bytes(bytes.fromhex("00 01 02")),
    "invalid character encoding": lambda: _kelvaro.from_bytes(bytes.fromhex("00 01 01 ED A0 80")),
}

PATHS = {}
for group, raised in [
    (SUCCESSES, None),
    (BINDING_ERRORS, TypeError),
    (CONVERSION_ERRORS, (TypeError, OverflowError, ValueError, KeyError, UnicodeEncodeError)),
    (INTERNAL_ERRORS, "PanicException"),
    (DECODE_ERRORS, "PanicException"),
]:
    PATHS.update({name: (call, raised) for name, call in group.items()})
if not IS_PYPY:
    PATHS["foreign receiver"] = (foreign_receiver, TypeError)


def run(call, raised):
    """Runs the path once and checks that it ends as it should."""
    if raised is None:
        call()
        return
    try:
        call()
    except BaseException as error:  # noqa: B902 - PanicException is one
        if raised == "PanicException":
            assert type(error).__name__ == "PanicException"
        else:
            assert isinstance(error, raised)
        return
    pytest.fail("the path did not fail")


WARM_UP = 300
ROUNDS = 400


@pytest.mark.parametrize("call, raised", PATHS.values(), ids=PATHS.keys())
def test_a_path_run_many_times_leaves_nothing_behind(call, raised):
    # What is made once and kept, such as types, interned names and the
    # interpreter's caches, is made while warming up.
    for _ in range(WARM_UP):
        run(call, raised)
    if IS_PYPY:
        return
    before = settled_blocks()
    for _ in range(ROUNDS):
        run(call, raised)
    # A forgotten reference per call would add ROUNDS blocks or more.
    assert settled_blocks() - before < ROUNDS // 8


def settled_blocks():
    """The allocated blocks, with nothing counted that only a cache holds.
    The interpreter's type attribute cache keeps the name of each lookup
    that filled a slot, in a slot chosen by the name's address: a name made
    afresh for a lookup (as by getattr with a computed name, in the test's
    helpers or in the interpreter) stays there until another evicts it, so
    without a clear the count drifts by a hundred blocks from run to run."""
    sys._clear_type_cache()
    gc.collect()
    return sys.getallocatedblocks()
