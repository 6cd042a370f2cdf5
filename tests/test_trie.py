"""The trie's node accessors: children runs, payloads, and what a malformed trie does."""
import pytest

import _kelvaro
from conftest import panic_message


def out_of_bounds(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


MISSING_CHARACTER = "called `Option::unwrap()` on a `None` value"


def test_worked_example(ab_ac):
    assert [ab_ac.get_children(n) for n in range(4)] == [[("a", 1)], [("b", 2), ("c", 3)], [], []]
    assert [ab_ac.get_payload(n) for n in range(4)] == [None, None, 0, 1]


def test_runs():
    # The last node's run ends at the end of child_indices: node 2 has child 1.
    chain = _kelvaro.from_internal_data([0, 1, 1], ["", "x", "y"], [None, 5, None], [2, 1])
    assert [chain.get_children(n) for n in range(3)] == [[("y", 2)], [], [("x", 1)]]
    # A trailing shift equal to the number of child entries changes nothing.
    closed = _kelvaro.from_internal_data([0, 1, 1, 2], ["", "x", "y"], [None, 5, None], [2, 1])
    assert [closed.get_children(n) for n in range(3)] == [[("y", 2)], [], [("x", 1)]]
    # A shift larger than the next one means no children, not an error.
    backwards = _kelvaro.from_internal_data([2, 0, 0], ["", "a", "b"], [None, None, None], [1, 2])
    assert backwards.get_children(0) == []


def test_children_keep_stored_order_even_when_unsorted_or_repeated():
    trie = _kelvaro.from_internal_data([0, 3, 3, 3], ["", "z", "a", "z"], [None] * 4, [1, 2, 3])
    assert trie.get_children(0) == [("z", 1), ("a", 2), ("z", 3)]


def test_non_bmp_and_nul_characters():
    trie = _kelvaro.from_internal_data([0, 2, 2], ["", "\U0001f600!", "\0"], [None, 1, 2], [1, 2])
    assert trie.get_children(0) == [("\U0001f600", 1), ("\0", 2)]
    assert all(len(ch) == 1 for ch, _ in trie.get_children(0))


def test_payload_zero_is_a_payload(ab_ac):
    assert ab_ac.get_payload(2) == 0
    assert ab_ac.get_payload(0) is None


def test_root_without_character_is_never_read():
    trie = _kelvaro.from_internal_data([0, 1], ["", "a"], [None, None], [1])
    assert trie.get_children(0) == [("a", 1)]


@pytest.mark.parametrize(
    "arrays, call, message",
    [
        (([], [], [], []), lambda t: t.get_children(0), out_of_bounds(0, 0)),
        (([], [], [], []), lambda t: t.get_payload(0), out_of_bounds(0, 0)),
        (([0, 1, 3, 3], ["", "a", "b", "c"], [None] * 4, [1, 2, 3]), lambda t: t.get_children(4), out_of_bounds(4, 4)),
        (([0, 1, 3, 3], ["", "a", "b", "c"], [None] * 4, [1, 2, 3]), lambda t: t.get_payload(4294967295), out_of_bounds(4, 4294967295)),
        # The run reaches beyond child_indices.
        (([0, 5], ["", "a"], [None] * 2, [1, 1]), lambda t: t.get_children(0), out_of_bounds(2, 2)),
        # A shift of the last node beyond child_indices: no children, not an error.
        # A child id beyond node_chars.
        (([0, 1], ["", "a"], [None] * 2, [9]), lambda t: t.get_children(0), out_of_bounds(2, 9)),
        # A child without a character, while the child itself answers.
        (([0, 1], ["", ""], [None] * 2, [1]), lambda t: t.get_children(0), MISSING_CHARACTER),
        # Each accessor is bounded by its own array.
        (([0, 0], ["", "a"], [None], []), lambda t: t.get_payload(1), out_of_bounds(1, 1)),
        (([0], ["", "a"], [None, 3], [1]), lambda t: t.get_children(1), out_of_bounds(1, 1)),
    ],
)
def test_malformed_tries_fail_where_they_are_read(arrays, call, message):
    trie = _kelvaro.from_internal_data(*arrays)
    assert panic_message(call, trie) == message
    # The object is unchanged and answers later calls.
    assert panic_message(call, trie) == message
    if len(arrays[0]) and len(arrays[2]):
        trie.get_payload(0)


def test_malformed_pieces_do_not_spoil_the_rest():
    trie = _kelvaro.from_internal_data([0, 1, 1], ["", "", "b"], [None, 4, None], [1, 2])
    assert panic_message(trie.get_children, 0) == MISSING_CHARACTER
    assert trie.get_children(1) == []
    assert trie.get_payload(1) == 4
    # The last node's run ([1, 2)) holds node 2 itself, which has a character.
    assert trie.get_children(2) == [("b", 2)]


def test_huge_shift_does_not_allocate_for_the_whole_range():
    trie = _kelvaro.from_internal_data([0, 4294967295], ["", "a"], [None, None], [1])
    assert panic_message(trie.get_children, 0) == out_of_bounds(1, 1)
