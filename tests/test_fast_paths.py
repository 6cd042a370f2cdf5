"""Shortcuts that must not be seen: each fast path against the general one it stands in for.

Exact lists, tuples, bytes and bytearrays are read directly, the first
character of a node's str is read from the str itself, exact_match walks a
tree without rows, and searches on a tree skip listing the children of nodes
they prune. Every one of them must give the same results and the same errors
as the way round.
"""
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
from tries import arrays_from_children


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Sequence:
    """A sequence that is neither a list nor a tuple: read through the iteration protocol."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class ListSubclass(list):
    pass


def outcome(call, *args):
    """What a call did: its result, or its exception's type and message."""
    try:
        return ("returned", call(*args))
    except BaseException as error:  # noqa: B902 - PanicException is a BaseException
        if not isinstance(error, Exception) and type(error).__name__ != "PanicException":
            raise
        return (type(error).__name__, str(error))


def built(parameter, values):
    """The saved form of a trie built with `values` as one array, or what the build raised."""
    arrays = {"node_shifts": [], "node_strings": [], "node_payloads": [], "child_indices": []}
    arrays[parameter] = values
    return outcome(lambda: _kelvaro.from_internal_data(**arrays).to_bytes())


def restored(values):
    return outcome(lambda: _kelvaro.from_bytes(values).to_bytes())


integers = st.one_of(
    st.integers(0, 300),
    st.sampled_from([-1, 2**32 - 1, 2**32, 2**64]),
    st.integers(0, 300).map(Index),
)
items = st.lists(st.one_of(integers, st.none(), st.just("7"), st.just(1.5)), max_size=12)


class TestSequences:
    @settings(max_examples=200, deadline=None)
    @given(items, st.sampled_from(["node_shifts", "node_payloads", "child_indices"]))
    def test_lists_and_tuples_read_as_any_sequence(self, values, parameter):
        general = built(parameter, Sequence(values))
        assert built(parameter, list(values)) == general
        assert built(parameter, tuple(values)) == general

    @settings(max_examples=200, deadline=None)
    @given(items)
    def test_byte_arguments_read_as_any_sequence(self, values):
        general = restored(Sequence(values))
        assert restored(list(values)) == general
        assert restored(tuple(values)) == general
        if all(type(v) is int and 0 <= v <= 255 for v in values):
            assert restored(bytes(values)) == general
            assert restored(bytearray(values)) == general

    @pytest.mark.parametrize("change", ["append", "clear", "replace"])
    def test_a_list_changed_by_its_own_element(self, change):
        def items(kind):
            values = kind()

            class Changes:
                def __index__(self):
                    if change == "append":
                        values.append(9)
                    elif change == "clear":
                        values.clear()
                    else:
                        values[2] = 4
                    return 1

            values.extend([0, Changes(), 7, 8])
            return values

        # A list subclass is read through its iterator.
        for parameter in ["node_shifts", "node_payloads"]:
            assert built(parameter, items(list)) == built(parameter, items(ListSubclass))
        assert restored(items(list)) == restored(items(ListSubclass))


# Any characters, lone surrogates included, and strs of every storage width.
characters = st.one_of(st.characters(), st.integers(0xD800, 0xDFFF).map(chr), st.sampled_from("aé€\U0001f600"))
texts = st.lists(characters, max_size=5).map("".join)


class TestFirstCharacters:
    @settings(max_examples=300, deadline=None)
    @given(st.lists(texts, min_size=1, max_size=6))
    def test_first_characters_as_utf8_would_give_them(self, strings):
        # The root lists every other node.
        children = list(range(1, len(strings)))
        shifts = [0] + [len(children)] * len(children)
        found = outcome(lambda: _kelvaro.from_internal_data(shifts, strings, [None] * len(strings), children).get_children(0))
        for text in strings:
            try:
                text.encode("utf-8")
            except UnicodeEncodeError as error:
                assert found == ("UnicodeEncodeError", str(error))
                return
        if all(strings[child] for child in children):
            assert found == ("returned", [(strings[child][0], child) for child in children])
        else:
            assert found == ("PanicException", "called `Option::unwrap()` on a `None` value")


@st.composite
def damaged_trees(draw, damages=("none", "payloads", "shifts", "chars", "child", "shift")):
    """A tree, sometimes with one of its arrays damaged: cut short, or with a
    bad child, character or shift, so that searches fail somewhere."""
    size = draw(st.integers(1, 25))
    chars = [""] + [draw(st.sampled_from("ab")) for _ in range(size - 1)]
    children = [[] for _ in range(size)]
    for node in range(1, size):
        children[draw(st.integers(0, node - 1))].append(node)
    payloads = [draw(st.one_of(st.none(), st.integers(0, 9))) for _ in range(size)]
    shifts, strings, payloads, child_indices = arrays_from_children(chars, payloads, children)
    damage = draw(st.sampled_from(damages))
    if damage == "payloads":
        del payloads[draw(st.integers(0, len(payloads) - 1)) :]
    elif damage == "shifts":
        del shifts[draw(st.integers(0, len(shifts) - 1)) :]
    elif damage == "chars":
        strings[draw(st.integers(0, size - 1))] = ""
    elif damage == "child" and child_indices:
        child_indices[draw(st.integers(0, len(child_indices) - 1))] = draw(st.integers(0, size + 1))
    elif damage == "shift":
        shifts[draw(st.integers(0, size - 1))] = draw(st.integers(0, len(child_indices) + 1))
    return shifts, strings, payloads, child_indices


def not_a_tree(arrays):
    """The same tree with one node more, listed by no run, whose own run
    lists the root: searches never reach it, and the trie is no tree."""
    shifts, strings, payloads, child_indices = (list(array) for array in arrays)
    return shifts + [len(child_indices)], strings, payloads, child_indices + [0]


queries = st.text(st.sampled_from("ab"), max_size=4)


class TestSearchShortcuts:
    @settings(max_examples=400, deadline=None)
    @given(damaged_trees(), queries)
    def test_exact_match_is_the_first_match_at_distance_zero(self, arrays, query):
        trie = _kelvaro.from_internal_data(*arrays)
        general = outcome(trie.fuzzy_match, query, 0, None)
        if general[0] == "returned":
            general = ("returned", general[1][0] if general[1] else None)
        assert outcome(trie.exact_match, query) == general

    # Payloads cut short keep the tree a tree, and make searches fail.
    @settings(max_examples=300, deadline=None)
    @given(damaged_trees(("none", "payloads")), queries, st.integers(0, 2), st.one_of(st.none(), st.integers(0, 3)))
    def test_a_tree_searches_as_a_trie_that_is_not_one(self, arrays, query, distance, limit):
        tree = _kelvaro.from_internal_data(*arrays)
        other = _kelvaro.from_internal_data(*not_a_tree(arrays))
        assert outcome(tree.fuzzy_match, query, distance, limit) == outcome(other.fuzzy_match, query, distance, limit)
        assert outcome(tree.exact_match, query) == outcome(other.exact_match, query)
