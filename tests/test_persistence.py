"""Saving a trie with to_bytes and restoring it with from_bytes."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
import reference
from conftest import panic_message

UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def decode_outcome(data):
    """The canonical encoding of from_bytes(data), or the message of its PanicException."""
    try:
        return _kelvaro.from_bytes(data).to_bytes()
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise
        return error.args[0]


def make_trie(shifts=(), strings=(), payloads=(), children=()):
    return _kelvaro.from_internal_data(list(shifts), list(strings), list(payloads), list(children))


def unhex(text):
    return bytes.fromhex(text)


# The words "ab" (payload 0) and "ac" (payload 1).
WORKED_ARRAYS = ([0, 1, 3, 3], ["", "a", "b", "c"], [None, None, 0, 1], [1, 2, 3])
WORKED_BYTES = unhex("04 00 01 03 03 04 00 01 61 01 62 01 63 04 00 00 01 00 01 01 03 01 02 03")


def nodes(trie, count):
    return [(trie.get_children(n), trie.get_payload(n)) for n in range(count)]


def test_worked_example_encodes_and_decodes():
    assert make_trie(*WORKED_ARRAYS).to_bytes() == WORKED_BYTES
    assert nodes(_kelvaro.from_bytes(WORKED_BYTES), 4) == [
        ([("a", 1)], None),
        ([("b", 2), ("c", 3)], None),
        ([], 0),
        ([], 1),
    ]


def test_empty_trie_round_trips():
    assert make_trie().to_bytes() == unhex("00 00 00 00")
    assert _kelvaro.from_bytes(unhex("00 00 00 00")).to_bytes() == unhex("00 00 00 00")


INTEGER_FORMS = [
    (0, "00"),
    (250, "FA"),
    (251, "FB FB 00"),
    (65535, "FB FF FF"),
    (65536, "FC 00 00 01 00"),
    (4294967295, "FC FF FF FF FF"),
]


@pytest.mark.parametrize("value, form", INTEGER_FORMS)
def test_integers_take_their_shortest_form_in_every_array(value, form):
    for arrays, encoding in [
        (([value], [], [], []), "01" + form + "00 00 00"),
        (([], [], [value], []), "00 00 01 01" + form + "00"),
        (([], [], [], [value]), "00 00 00 01" + form),
    ]:
        assert make_trie(*arrays).to_bytes() == unhex(encoding)
        assert _kelvaro.from_bytes(unhex(encoding)).to_bytes() == unhex(encoding)
    assert _kelvaro.from_bytes(unhex("00 00 01 01" + form + "00")).get_payload(0) == value


def test_array_lengths_take_their_shortest_form():
    assert make_trie(shifts=[7] * 251).to_bytes() == unhex("FB FB 00") + b"\x07" * 251 + bytes(3)


LONGER_FORMS = [
    ("01 FB 05 00 00 00 00", "01 05 00 00 00"),
    ("01 FC 00 01 00 00 00 00 00", "01 FB 00 01 00 00 00"),
    ("00 00 01 01 FC 2A 00 00 00 00", "00 00 01 01 2A 00"),
    ("00 00 00 01 FC FB 00 00 00", "00 00 00 01 FB FB 00"),
    ("FB 01 00 07 FC 00 00 00 00 FD 00 00 00 00 00 00 00 00 00", "01 07 00 00 00"),
]


@pytest.mark.parametrize("longer, canonical", LONGER_FORMS)
def test_longer_integer_forms_are_read_and_written_back_canonically(longer, canonical):
    assert _kelvaro.from_bytes(unhex(longer)).to_bytes() == unhex(canonical)


CHARACTERS = [
    ("a", "61"),
    ("\u00e9", "C3 A9"),
    ("\u20ac", "E2 82 AC"),
    ("\U0001f600", "F0 9F 98 80"),
]
# Each width's first and last character, and the neighbours of the surrogates.
BOUNDARY_CHARACTERS = "\x00\x7f\x80\u07ff\u0800\ud7ff\ue000\uffff\U00010000\U0010ffff"
CHARACTERS += [(ch, ch.encode("utf-8").hex()) for ch in BOUNDARY_CHARACTERS]


@pytest.mark.parametrize("char, utf8", CHARACTERS)
def test_characters_are_utf8_behind_a_present_tag(char, utf8):
    encoding = unhex("02 00 01 02 00 01" + utf8 + "02 00 00 01 01")
    assert make_trie([0, 1], ["", char], [None, None], [1]).to_bytes() == encoding
    assert _kelvaro.from_bytes(encoding).get_children(0) == [(char, 1)]


ERRORS = [
    ("", "UnexpectedEnd { additional: 1 }"),
    # Integer markers: 253 only in counts, 254 and 255 never.
    ("01 FD 00 00 00 00 00 00 00 00", "InvalidIntegerType { expected: U32, found: U64 }"),
    ("00 00 00 01 FD", "InvalidIntegerType { expected: U32, found: U64 }"),
    ("FE", "InvalidIntegerType { expected: U64, found: U128 }"),
    ("FF", "InvalidIntegerType { expected: U64, found: Reserved }"),
    ("00 00 01 01 FF", "InvalidIntegerType { expected: U32, found: Reserved }"),
    # Input ending inside a value counts the bytes still missing.
    ("01 FC 00 00", "UnexpectedEnd { additional: 2 }"),
    ("FD 00", "UnexpectedEnd { additional: 7 }"),
    ("00 00 01 01 FB 00", "UnexpectedEnd { additional: 1 }"),
    ("05 00 01", "UnexpectedEnd { additional: 1 }"),
    ("FD 00 00 00 00 01 00 00 00", "UnexpectedEnd { additional: 1 }"),
    # Option tags.
    ("00 01 02", 'UnexpectedVariant { type_name: "core::option::Option<char>", '
     "allowed: Range { min: 0, max: 1 }, found: 2 }"),
    ("00 00 01 FF", 'UnexpectedVariant { type_name: "core::option::Option<u32>", '
     "allowed: Range { min: 0, max: 1 }, found: 255 }"),
    # Characters: bad leads, bad continuations, surrogates, overlong forms, beyond U+10FFFF.
    ("00 01 01 80", "InvalidCharEncoding([128, 0, 0, 0])"),
    ("00 01 01 C1 BF", "InvalidCharEncoding([193, 0, 0, 0])"),
    ("00 01 01 F5 80 80 80", "InvalidCharEncoding([245, 0, 0, 0])"),
    ("00 01 01 C3 41", "InvalidCharEncoding([195, 65, 0, 0])"),
    ("00 01 01 ED A0 80", "InvalidCharEncoding([237, 160, 128, 0])"),
    ("00 01 01 E0 9F BF", "InvalidCharEncoding([224, 159, 191, 0])"),
    ("00 01 01 F0 8F BF BF", "InvalidCharEncoding([240, 143, 191, 191])"),
    ("00 01 01 F4 90 80 80", "InvalidCharEncoding([244, 144, 128, 128])"),
    ("00 01 01 E2 82", "UnexpectedEnd { additional: 1 }"),
    ("00 01 01 F0 9F", "UnexpectedEnd { additional: 2 }"),
    # Storage that cannot be sized fails before any element is read, even a bad one...
    ("FD FF FF FF FF FF FF FF FF", "capacity overflow"),
    ("FD 00 00 00 00 00 00 00 20 FF", "capacity overflow"),
    ("00 FD 00 00 00 00 00 00 00 20", "capacity overflow"),
    ("00 00 FD 00 00 00 00 00 00 00 10", "capacity overflow"),
    ("00 00 00 FD 00 00 00 00 00 00 00 20", "capacity overflow"),
    # ...while one element fewer is sized by the bytes left and runs out of input.
    ("FD FF FF FF FF FF FF FF 1F 00", "UnexpectedEnd { additional: 1 }"),
    ("00 00 FD FF FF FF FF FF FF FF 0F 00 00", "UnexpectedEnd { additional: 1 }"),
    ("00 00 00 FC FF FF FF FF 07", "UnexpectedEnd { additional: 1 }"),
]


@pytest.mark.parametrize("data, error", ERRORS)
def test_malformed_input_panics_with_the_first_error(data, error):
    expected = error if error == "capacity overflow" else UNWRAP + error
    assert panic_message(_kelvaro.from_bytes, unhex(data)) == expected


@pytest.mark.parametrize("suffix", ["00", "FF", "04 00 01 03", "FD FF FF FF FF FF FF FF FF"])
def test_bytes_after_the_fourth_array_are_ignored(suffix):
    trie = _kelvaro.from_bytes(WORKED_BYTES + unhex(suffix))
    assert trie.to_bytes() == WORKED_BYTES


@pytest.mark.parametrize("data", [WORKED_BYTES, unhex("00 01 01 ED A0 80")])
def test_any_byte_sequence_type_gives_the_same_outcome_and_stays_unchanged(data):
    arguments = [data, bytearray(data), list(data), tuple(data)]
    assert len({decode_outcome(argument) for argument in arguments}) == 1
    assert arguments == [data, bytearray(data), list(data), tuple(data)]


u32 = st.one_of(
    st.integers(0, 300),
    st.sampled_from([251, 65535, 65536, 2**32 - 1]),
    st.integers(0, 2**32 - 1),
)
node_string = st.one_of(st.just(""), st.text(st.characters(exclude_categories=("Cs",)), max_size=3))
# Lengths vary independently, so unequal arrays and out-of-range ids come up too.
trie_arrays = st.tuples(
    st.lists(u32, max_size=12),
    st.lists(node_string, max_size=12),
    st.lists(st.one_of(st.none(), u32), max_size=12),
    st.lists(u32, max_size=12),
)


@given(trie_arrays)
def test_encoding_is_canonical_and_round_trips(arrays):
    data = make_trie(*arrays).to_bytes()
    assert data == reference.encode_trie(*arrays)
    assert _kelvaro.from_bytes(data).to_bytes() == data


def assert_decodes_or_panics(data):
    outcome = decode_outcome(data)
    if isinstance(outcome, bytes):
        assert decode_outcome(outcome) == outcome
    else:
        assert outcome == "capacity overflow" or outcome.startswith(UNWRAP)


@given(st.binary(max_size=64))
def test_random_bytes_decode_or_panic(data):
    assert_decodes_or_panics(data)


mutation = st.tuples(st.integers(0, 2), st.integers(0, 10**6), st.integers(0, 255))


@settings(max_examples=300)
@given(trie_arrays, st.lists(mutation, max_size=4))
def test_mutated_encodings_decode_or_panic(arrays, mutations):
    data = bytearray(make_trie(*arrays).to_bytes())
    for kind, position, value in mutations:
        position %= len(data) + 1
        if kind == 0:
            data.insert(position, value)
        elif position < len(data):
            if kind == 1:
                data[position] = value
            else:
                del data[position]
    assert_decodes_or_panics(bytes(data))
