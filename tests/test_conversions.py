"""From Python values to the system's values: every kind of argument, and what a bad one raises."""
import ctypes
import sys

import pytest

import _kelvaro
from conftest import IS_PYPY, cpython_only, two_words

T = two_words()
OUT_OF_RANGE = "out of range integral type conversion attempted"


def build(node_shifts=(0,), node_strings=("",), node_payloads=(None,), child_indices=()):
    return _kelvaro.from_internal_data(node_shifts, node_strings, node_payloads, child_indices)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class OnlyInt:
    def __int__(self):
        return 1


class TestArrays:
    @pytest.mark.parametrize("parameter", ["node_shifts", "node_strings", "node_payloads", "child_indices"])
    def test_str_is_refused_although_it_is_a_sequence(self, parameter):
        with pytest.raises(TypeError) as caught:
            build(**{parameter: "abc"})
        assert str(caught.value) == f"argument '{parameter}': Can't extract `str` to `Vec`"

    def test_str_subclass_is_refused_too(self):
        class Text(str):
            pass

        with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
            _kelvaro.from_bytes(Text("x"))

    @pytest.mark.parametrize("value", [5, {1, 2}, {0: 1}, (i for i in ()), iter([0]), None])
    def test_non_sequences(self, value):
        with pytest.raises(TypeError) as caught:
            build(node_shifts=value)
        type_name = type(value).__qualname__
        assert str(caught.value) == f"argument 'node_shifts': '{type_name}' object cannot be converted to 'Sequence'"

    @pytest.mark.parametrize("shifts", [[0, 1, 3, 3], (0, 1, 3, 3), bytes([0, 1, 3, 3]), bytearray([0, 1, 3, 3])])
    def test_any_sequence_of_integers(self, shifts):
        trie = _kelvaro.from_internal_data(shifts, ["", "a", "b", "c"], (None, None, 0, 1), range(1, 4))
        assert [trie.get_children(n) for n in range(4)] == [[("a", 1)], [("b", 2), ("c", 3)], [], []]

    def test_length_is_only_a_hint(self):
        class Liar(list):
            def __len__(self):
                return 10**15

        class Refuser(list):
            def __len__(self):
                raise RuntimeError("no length")

        trie = build(node_shifts=Liar([0]), node_payloads=Refuser([7]))
        assert trie.get_payload(0) == 7

    def test_error_while_iterating_passes_unchanged(self):
        class Breaks(list):
            def __iter__(self):
                yield 0
                raise ValueError("midway")

        with pytest.raises(ValueError, match="^midway$"):
            build(node_shifts=Breaks([0, 0]))

    def test_element_error_has_no_index(self):
        with pytest.raises(TypeError) as caught:
            build(node_strings=["", 5])
        assert str(caught.value) == "argument 'node_strings': 'int' object cannot be converted to 'PyString'"

    @cpython_only
    def test_failure_without_exception(self):
        """A C-API failure that sets no exception becomes SystemError."""

        class Stubborn(list):
            pass

        slots = ctypes.c_void_p * 32
        type_slots = slots.from_address(id(Stubborn))
        # PyTypeObject on 64-bit CPython 3.11: tp_name is word 3, tp_iter word 27.
        if sys.version_info[:2] != (3, 11) or ctypes.c_char_p(type_slots[3]).value != b"Stubborn":
            pytest.skip("type layout differs from the one this test knows")
        returns_null = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p)(lambda _: None)
        saved = type_slots[27]
        type_slots[27] = ctypes.cast(returns_null, ctypes.c_void_p).value
        try:
            with pytest.raises(SystemError, match="^attempted to fetch exception but none was set$"):
                build(node_shifts=Stubborn([0]))
        finally:
            type_slots[27] = saved


class TestIntegers:
    @pytest.mark.parametrize("value, expected", [(0, 0), (4294967295, 4294967295), (True, 1), (Index(3), 3)])
    def test_u32_accepted(self, value, expected):
        assert build(node_payloads=[value]).get_payload(0) == expected

    @pytest.mark.parametrize("value", [-1, 4294967296, Index(-1), Index(2**32)])
    def test_u32_out_of_range(self, value):
        with pytest.raises(OverflowError) as caught:
            build(node_payloads=[value])
        assert str(caught.value) == OUT_OF_RANGE

    @pytest.mark.parametrize("value", [2**64, -(2**70)])
    def test_beyond_the_machine_word_the_interpreter_speaks(self, value):
        with pytest.raises(OverflowError):
            build(node_shifts=[value])

    @pytest.mark.parametrize("value", [1.0, "1", OnlyInt(), None])
    def test_u32_not_an_integer(self, value):
        with pytest.raises(TypeError, match="^argument 'node_id': "):
            T.get_payload(value)

    def test_none_payloads_by_identity(self):
        trie = build(node_shifts=[0, 0, 0], node_strings=["", "", ""], node_payloads=[None, 0, 7])
        assert [trie.get_payload(n) for n in range(3)] == [None, 0, 7]

    def test_bool_node_id(self):
        assert T.get_payload(True) == T.get_payload(1)

    @pytest.mark.parametrize("item", [256, -1, Index(300)])
    def test_u8_out_of_range(self, item):
        with pytest.raises(OverflowError) as caught:
            _kelvaro.from_bytes([0, item])
        assert str(caught.value) == OUT_OF_RANGE

    def test_u64_out_of_range_is_the_interpreters_own(self):
        for value in (-1, 2**64, Index(-1)):
            with pytest.raises(OverflowError) as caught:
                T.fuzzy_match("a", value, None)
            assert not str(caught.value).startswith("argument")
        with pytest.raises(OverflowError):
            T.fuzzy_match("a", 0, -5)

    @pytest.mark.parametrize("value", [1.5, "1", OnlyInt()])
    def test_u64_not_an_integer(self, value):
        with pytest.raises(TypeError, match="^argument 'max_dist': "):
            T.fuzzy_match("a", value, None)
        with pytest.raises(TypeError, match="^argument 'limit': "):
            T.fuzzy_match("a", 0, value)


class TestRenaming:
    def test_renamed_type_error_keeps_the_original_cause(self):
        cause = ValueError("underneath")

        class Refuses:
            def __index__(self):
                raise TypeError("refused") from cause

        with pytest.raises(TypeError) as caught:
            T.get_payload(Refuses())
        assert type(caught.value) is TypeError
        assert str(caught.value) == "argument 'node_id': refused"
        assert caught.value.__cause__ is cause

    def test_only_exactly_type_error_is_renamed(self):
        class Special(TypeError):
            pass

        class Refuses:
            def __index__(self):
                raise Special("as it is")

        with pytest.raises(Special, match="^as it is$"):
            T.get_payload(Refuses())


class TestTexts:
    @pytest.mark.parametrize("value, type_name", [(5, "int"), (b"a", "bytes"), (None, "NoneType")])
    def test_not_a_str(self, value, type_name):
        with pytest.raises(TypeError) as caught:
            T.exact_match(value)
        assert str(caught.value) == f"argument 'prefix': '{type_name}' object cannot be converted to 'PyString'"

    def test_lone_surrogate_is_the_interpreters_error(self):
        with pytest.raises(UnicodeEncodeError):
            T.exact_match("a\udcffb")
        with pytest.raises(UnicodeEncodeError):
            build(node_strings=["a\udcff"])

    @pytest.mark.parametrize(
        "text, first", [("xyz", "x"), ("\U0001f600abc", "\U0001f600"), ("\0a", "\0"), ("é", "é"), ("\uffff", "\uffff")]
    )
    def test_first_character_kept(self, text, first):
        trie = _kelvaro.from_internal_data([0, 1], ["", text], [None, None], [1])
        assert trie.get_children(0) == [(first, 1)]

    def test_str_subclass_is_a_str(self):
        class Text(str):
            pass

        trie = _kelvaro.from_internal_data([0, 1], ["", Text("q")], [None, None], [1])
        assert trie.get_children(0) == [("q", 1)]
        assert type(trie.get_children(0)[0][0]) is str


def test_arrays_converted_before_a_later_failure_are_released():
    if IS_PYPY:
        pytest.skip("PyPy has no allocated-block count")
    good = list(range(10_000))
    build(good, [""] * 10, good, good)  # warm up caches
    before = sys.getallocatedblocks()
    for _ in range(50):
        with pytest.raises(TypeError):
            _kelvaro.from_internal_data(good, [""] * 10_000, good, "oops")
    assert sys.getallocatedblocks() - before < 100
