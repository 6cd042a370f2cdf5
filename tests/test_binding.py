"""Argument binding, the receiver check, and the order in which a faulty call's errors win."""
import ctypes

import pytest

import _kelvaro
from _kelvaro import PrefixSearch
from conftest import cpython_only, two_words

T = two_words()

BINDING_ERRORS = [
    (lambda: T.fuzzy_match("car"), "PrefixSearch.fuzzy_match() missing 2 required positional arguments: 'max_dist' and 'limit'"),
    (lambda: T.fuzzy_match("car", 1), "PrefixSearch.fuzzy_match() missing 1 required positional argument: 'limit'"),
    (lambda: T.fuzzy_match(), "PrefixSearch.fuzzy_match() missing 3 required positional arguments: 'prefix', 'max_dist', and 'limit'"),
    (lambda: T.fuzzy_match(limit=None), "PrefixSearch.fuzzy_match() missing 2 required positional arguments: 'prefix' and 'max_dist'"),
    (
        lambda: _kelvaro.from_internal_data(),
        "from_internal_data() missing 4 required positional arguments: "
        "'node_shifts', 'node_strings', 'node_payloads', and 'child_indices'",
    ),
    (lambda: _kelvaro.from_bytes(), "from_bytes() missing 1 required positional argument: 'bs'"),
    (lambda: T.get_payload(1, 2), "PrefixSearch.get_payload() takes 1 positional arguments but 2 were given"),
    (lambda: T.get_children(1, 2, 3), "PrefixSearch.get_children() takes 1 positional arguments but 3 were given"),
    (lambda: _kelvaro.from_bytes(b"", b""), "from_bytes() takes 1 positional arguments but 2 were given"),
    (lambda: T.exact_match("a", prefix="b"), "PrefixSearch.exact_match() got multiple values for argument 'prefix'"),
    (lambda: T.fuzzy_match("a", 1, None, 4), "PrefixSearch.fuzzy_match() takes 3 positional arguments but 4 were given"),
    (lambda: T.fuzzy_match("a", 1, max_dist=2), "PrefixSearch.fuzzy_match() got multiple values for argument 'max_dist'"),
    (lambda: _kelvaro.from_bytes(b"", data=1), "from_bytes() got an unexpected keyword argument 'data'"),
    (lambda: T.get_payload(node=1), "PrefixSearch.get_payload() got an unexpected keyword argument 'node'"),
    (lambda: T.get_payload(**{"\udcff": 1}), "PrefixSearch.get_payload() got an unexpected keyword argument '\udcff'"),
    (lambda: T.get_payload(**{"node_id\0": 1}), "PrefixSearch.get_payload() got an unexpected keyword argument 'node_id\0'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert caught.value.args == (message,)


def test_keywords_in_any_order():
    positional = T.get_children(1)
    assert T.get_children(node_id=1) == positional
    assert _kelvaro.from_internal_data(
        child_indices=[1, 2, 3], node_payloads=[None, None, 0, 1], node_strings=["", "a", "b", "c"], node_shifts=[0, 1, 3, 3]
    ).get_children(1) == positional


class TestOrderOfSteps:
    def test_too_many_positionals_before_any_keyword(self):
        with pytest.raises(TypeError, match="takes 1 positional arguments but 2 were given"):
            T.get_payload(1, 2, bogus=3)

    def test_keywords_in_order_before_missing(self):
        with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
            T.fuzzy_match(bogus=1, prefix="a", prefix2=3)

    def test_binding_before_conversion(self):
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'limit'"):
            T.fuzzy_match(5, -1)

    def test_conversions_in_parameter_order(self):
        with pytest.raises(TypeError, match="^argument 'prefix': "):
            T.fuzzy_match(5, -1, "x")
        with pytest.raises(OverflowError):
            T.fuzzy_match("a", -1, "x")
        with pytest.raises(TypeError, match="^argument 'node_shifts': "):
            _kelvaro.from_internal_data("a", "b", "c", "d")
        with pytest.raises(TypeError, match="^argument 'child_indices': "):
            _kelvaro.from_internal_data([], [], [], "d")

    def test_conversion_before_operation(self):
        empty = _kelvaro.from_internal_data([], [], [], [])
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            empty.get_payload(-1)


def method_entry(name):
    """The C entry of a PrefixSearch method, called directly as the
    interpreter would, so that the receiver can be anything."""
    descriptor = PrefixSearch.__dict__[name]
    # PyMethodDescrObject: object header, d_type, d_name, d_qualname, d_method.
    method_def = ctypes.c_void_p.from_address(id(descriptor) + 5 * ctypes.sizeof(ctypes.c_void_p)).value
    assert ctypes.c_char_p.from_address(method_def).value == name.encode()
    address = ctypes.c_void_p.from_address(method_def + ctypes.sizeof(ctypes.c_void_p)).value
    if name == "to_bytes":
        return ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_void_p)(address)
    entry = ctypes.PYFUNCTYPE(
        ctypes.py_object, ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_ssize_t, ctypes.c_void_p
    )(address)

    def call(receiver, *args):
        return entry(receiver, (ctypes.py_object * max(len(args), 1))(*args), len(args), None)

    return call


@cpython_only
class TestReceiverCheck:
    @pytest.mark.parametrize("name, args", [("get_payload", (1,)), ("fuzzy_match", ("a", 1, None)), ("exact_match", ("a",))])
    def test_foreign_receiver(self, name, args):
        with pytest.raises(TypeError) as caught:
            method_entry(name)(5, *args)
        assert str(caught.value) == "'int' object cannot be converted to 'PrefixSearch'"

    def test_foreign_receiver_without_arguments(self):
        with pytest.raises(TypeError, match="^'str' object cannot be converted to 'PrefixSearch'$"):
            method_entry("to_bytes")("x", None)

    def test_binding_before_receiver(self):
        with pytest.raises(TypeError, match="takes 1 positional arguments but 2 were given"):
            method_entry("get_payload")(5, 1, 2)

    def test_receiver_before_conversion(self):
        with pytest.raises(TypeError, match="^'int' object cannot be converted to 'PrefixSearch'$"):
            method_entry("get_payload")(5, "not a node")

    def test_the_real_receiver_works(self):
        assert method_entry("get_payload")(T, 3) == 1
