"""Callers that misbehave: lying or failing sequences, re-entrant arguments,
subclasses with overrides, threads, and a trie a million nodes deep."""
import gc
import os
import sys
import threading

import pytest

import _kelvaro
from conftest import IS_PYPY, panic_message
from tries import arrays_from_words, trie_from_words

WORDS = ["car", "cart", "cat", "dog", "do", "\U0001f600x"]
ARRAYS = arrays_from_words(WORDS)
PARAMETERS = ["node_shifts", "node_strings", "node_payloads", "child_indices"]


def build(**replaced):
    """The WORDS trie, with some of its arrays replaced."""
    arguments = dict(zip(PARAMETERS, ARRAYS))
    arguments.update(replaced)
    return _kelvaro.from_internal_data(**arguments)


def describe(trie):
    """Everything a caller can read from a trie that is well formed."""
    return trie.to_bytes(), trie.fuzzy_match("cat", 1, None), trie.exact_match("do")


EXPECTED = describe(build())


class Sequence:
    """A sequence that is no list: items through __getitem__, a length of its own."""

    def __init__(self, items, length=None):
        self.items = list(items)
        self.length = length

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length


class Stop(BaseException):
    """Not an Exception: nothing on the way may swallow it."""


class TestSequences:
    @pytest.mark.parametrize(
        "length",
        [0, 1, 10**12, sys.maxsize, RuntimeError("no length"), -1, "three"],
        ids=["zero", "one", "huge", "maxsize", "raises", "negative", "not-an-int"],
    )
    @pytest.mark.parametrize("parameter", PARAMETERS)
    def test_the_length_is_only_a_hint(self, parameter, length):
        items = ARRAYS[PARAMETERS.index(parameter)]
        assert describe(build(**{parameter: Sequence(items, length)})) == EXPECTED

    def test_bytes_from_a_lying_sequence(self):
        data = build().to_bytes()
        for length in (0, 10**12, ValueError("no")):
            assert _kelvaro.from_bytes(Sequence(data, length)).to_bytes() == data

    @pytest.mark.parametrize("error", [ValueError("midway"), Stop("midway"), TypeError("midway")])
    @pytest.mark.parametrize("parameter", PARAMETERS + ["bs"])
    def test_an_iterator_that_raises_midway(self, parameter, error):
        items = list(build().to_bytes()) if parameter == "bs" else ARRAYS[PARAMETERS.index(parameter)]

        class Breaks(Sequence):
            def __iter__(self):
                yield from self.items[:2]
                raise error

        with pytest.raises(type(error)) as caught:
            if parameter == "bs":
                _kelvaro.from_bytes(Breaks(items))
            else:
                build(**{parameter: Breaks(items)})
        if type(error) is TypeError:
            assert str(caught.value) == f"argument '{parameter}': midway"
        else:
            assert caught.value is error

    def test_iter_returning_no_iterator(self):
        class NotIterable(Sequence):
            def __iter__(self):
                return 5

        with pytest.raises(TypeError, match="^argument 'node_shifts': "):
            build(node_shifts=NotIterable([0]))

    def test_items_that_change_the_list_being_read(self):
        payloads = list(ARRAYS[2])

        class Clears:
            def __index__(self):
                payloads.clear()
                return 7

        class Appends:
            def __index__(self):
                payloads.append(9)
                return 8

        payloads[0] = Clears()
        trie = build(node_payloads=payloads)
        # Iteration stopped at the list's new end: one payload was read.
        assert trie.get_payload(0) == 7
        assert panic_message(trie.get_payload, 1) == "index out of bounds: the len is 1 but the index is 1"

        payloads[:] = [Appends()] + list(ARRAYS[2][1:])
        trie = build(node_payloads=payloads)
        assert trie.get_payload(0) == 8
        assert trie.get_payload(len(ARRAYS[2])) == 9


class TestIntegerArguments:
    @pytest.mark.parametrize(
        "call",
        [
            lambda t, bad: t.get_payload(bad),
            lambda t, bad: t.get_children(bad),
            lambda t, bad: t.fuzzy_match("a", bad, None),
            lambda t, bad: t.fuzzy_match("a", 1, bad),
            lambda t, bad: build(node_shifts=[0, bad]),
            lambda t, bad: build(node_payloads=[None, bad]),
            lambda t, bad: _kelvaro.from_bytes([0, bad]),
        ],
        ids=["get_payload", "get_children", "max_dist", "limit", "node_shifts", "node_payloads", "bs"],
    )
    def test_an_index_that_raises_passes_unchanged(self, call):
        error = Stop("from __index__")

        class Raises:
            def __index__(self):
                raise error

        with pytest.raises(Stop) as caught:
            call(build(), Raises())
        assert caught.value is error

    def test_index_returning_a_non_int(self):
        class Wrong:
            def __index__(self):
                return "7"

        with pytest.raises(TypeError, match="^argument 'node_id': "):
            build().get_payload(Wrong())

    def test_int_subclasses_are_read_by_value_not_by_their_overrides(self):
        class Lying(int):
            def __index__(self):
                raise AssertionError("__index__ must not be called")

            def __int__(self):
                raise AssertionError("__int__ must not be called")

        trie = build()
        assert trie.get_payload(Lying(3)) == trie.get_payload(3)
        assert trie.get_children(Lying(1)) == trie.get_children(1)
        assert trie.fuzzy_match("cat", Lying(1), Lying(2)) == trie.fuzzy_match("cat", 1, 2)
        assert describe(build(node_shifts=[Lying(v) for v in ARRAYS[0]])) == EXPECTED
        assert _kelvaro.from_bytes([Lying(b) for b in trie.to_bytes()]).to_bytes() == trie.to_bytes()


class TestStrSubclasses:
    class Disguised(str):
        """A str whose overrides tell another story."""

        def __str__(self):
            return "zzz"

        def __iter__(self):
            return iter("zzz")

        def __getitem__(self, index):
            return "z"

        def encode(self, *args, **kwargs):
            return b"zzz"

    class LongerThanItIs(str):
        def __len__(self):
            return 10**9

    class Empty(str):
        def __len__(self):
            return 0

    def test_queries_read_the_characters_themselves(self):
        trie = build()
        for text in (self.Disguised("cat"), self.LongerThanItIs("cat")):
            assert trie.fuzzy_match(text, 1, None) == trie.fuzzy_match("cat", 1, None)
            assert trie.exact_match(text) == ("cat", 2, 0)

    def test_node_strings_read_the_characters_themselves(self):
        for kind in (self.Disguised, self.LongerThanItIs):
            assert describe(build(node_strings=[kind(s) for s in ARRAYS[1]])) == EXPECTED

    def test_a_length_of_zero(self):
        assert build().exact_match(self.Empty("cat")) == ("cat", 2, 0)

    def test_keyword_names_that_lie_about_their_length(self):
        class Lying(str):
            def __len__(self):
                return len("node_id")

            def __hash__(self):
                return str.__hash__(self)

            def __eq__(self, other):
                return str.__eq__(self, other)

        trie = build()
        with pytest.raises(TypeError) as caught:
            trie.get_payload(**{Lying("node"): 1})
        assert str(caught.value) == "PrefixSearch.get_payload() got an unexpected keyword argument 'node'"
        assert trie.get_payload(**{Lying("node_id"): 3}) == trie.get_payload(3)


class TestReentrancy:
    def test_arguments_that_call_back_into_the_same_object(self):
        trie = build()

        class Queries:
            def __index__(self):
                assert trie.exact_match("dog") == ("dog", 3, 0)
                assert trie.to_bytes() == EXPECTED[0]
                return 1

        assert trie.fuzzy_match("cat", Queries(), Queries()) == trie.fuzzy_match("cat", 1, 1)
        assert trie.get_children(Queries()) == trie.get_children(1)

    def test_an_argument_that_drops_every_other_reference_to_the_receiver(self):
        holder = [build()]

        class Drops:
            def __index__(self):
                holder.clear()
                gc.collect()
                return 2

        method = type(holder[0]).get_payload
        # The call itself still holds the receiver.
        assert method(holder[0], Drops()) is None
        assert holder == []


def expect_outcome(call):
    """The value of call(), or the message of its PanicException."""
    try:
        return call()
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise
        return ("panic", error.args[0])


class TestThreads:
    @pytest.fixture(autouse=True)
    def switch_often(self):
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)
        yield
        sys.setswitchinterval(interval)

    def test_a_bytearray_changed_by_another_thread_between_calls(self):
        first = build().to_bytes()
        second = trie_from_words(["zebra", "zero"]).to_bytes()
        broken = first[:-3]
        data = bytearray(first)
        stop = threading.Event()

        def rewrite():
            while not stop.is_set():
                for content in (second, broken, first):
                    data[:] = content

        writer = threading.Thread(target=rewrite)
        writer.start()
        try:
            outcomes = {expect_outcome(lambda: _kelvaro.from_bytes(data).to_bytes()) for _ in range(3000)}
        finally:
            stop.set()
            writer.join()
        allowed = {first, second, expect_outcome(lambda: _kelvaro.from_bytes(broken))}
        assert outcomes <= allowed

    def test_many_threads_querying_one_object(self):
        trie = trie_from_words(example_words(400))
        queries = [
            lambda: trie.fuzzy_match("abs", 2, None),
            lambda: trie.fuzzy_match("acced", 1, 3),
            lambda: trie.exact_match("abashed"),
            lambda: trie.get_children(0),
            lambda: trie.get_payload(5),
            lambda: trie.get_payload(10**6),  # fails, concurrently too
            trie.to_bytes,
        ]
        expected = [expect_outcome(query) for query in queries]
        barrier = threading.Barrier(8)
        results = [None] * 8

        def worker(slot):
            barrier.wait()
            results[slot] = [[expect_outcome(query) for query in queries] for _ in range(30)]

        threads = [threading.Thread(target=worker, args=(slot,)) for slot in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert all(rounds == [expected] * 30 for rounds in results)


def example_words(count):
    path = os.path.join(os.path.dirname(__file__), "..", "examples", "words.txt")
    with open(path, encoding="utf-8") as source:
        return source.read().split()[:count]


CHAIN_LENGTH = 1_000_000
CHAIN_TEXT = "abcdefghij"


def chain_arrays(nodes):
    """Node i's only child is node i + 1, on the character CHAIN_TEXT[i % 10],
    and each node but the root carries its depth as payload."""
    node_shifts = list(range(nodes))
    node_strings = [""] + [CHAIN_TEXT[(depth - 1) % 10] for depth in range(1, nodes)]
    node_payloads = [None] + list(range(1, nodes))
    child_indices = list(range(1, nodes))
    return node_shifts, node_strings, node_payloads, child_indices


def run_with_small_stack(function):
    """Runs `function` on a thread with a 512 KiB stack, which a recursion
    per node of a million-node chain would overflow many times over."""
    failures = []

    def guarded():
        try:
            function()
        except BaseException as error:  # noqa: B902 - reported on the main thread
            failures.append(error)

    previous = threading.stack_size(512 * 1024)
    try:
        thread = threading.Thread(target=guarded)
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()
    if failures:
        raise failures[0]


def test_a_chain_a_million_nodes_deep():
    def exercise():
        trie = _kelvaro.from_internal_data(*chain_arrays(CHAIN_LENGTH))

        node, depth = 0, 0
        while True:
            children = trie.get_children(node)
            if not children:
                break
            ((ch, node),) = children
            depth += 1
        assert (node, depth) == (CHAIN_LENGTH - 1, CHAIN_LENGTH - 1)
        assert ch == CHAIN_TEXT[(depth - 1) % 10]

        # Pruning stops the walk a few levels below the query's length.
        assert trie.fuzzy_match("abcdef", 1, None) == [("abcde", 5, 1), ("abcdef", 6, 0), ("abcdefg", 7, 1)]
        prefix = CHAIN_TEXT * 300
        assert trie.exact_match(prefix) == (prefix, 3000, 0)

        data = trie.to_bytes()
        restored = _kelvaro.from_bytes(data)
        assert restored.to_bytes() == data
        assert restored.get_payload(CHAIN_LENGTH - 1) == CHAIN_LENGTH - 1
        assert restored.get_children(CHAIN_LENGTH - 2) == [(CHAIN_TEXT[(CHAIN_LENGTH - 2) % 10], CHAIN_LENGTH - 1)]
        del trie, restored

    run_with_small_stack(exercise)
    gc.collect()


def test_a_very_long_byte_list_reads_like_the_bytes():
    data = _kelvaro.from_internal_data(*chain_arrays(200_000)).to_bytes()
    assert _kelvaro.from_bytes(list(data)).to_bytes() == data
    if not IS_PYPY:
        assert _kelvaro.from_bytes(memoryview(data)).to_bytes() == data
