"""The module's surface: what importing it gives, and the PrefixSearch class."""
import ctypes
import importlib
import shutil
import subprocess
import sys
import weakref

import pytest

import _kelvaro
from _kelvaro import PrefixSearch
from conftest import IS_PYPY, cpython_only, panic_of

METHODS = ["fuzzy_match", "exact_match", "get_children", "get_payload", "to_bytes"]


class TestModule:
    def test_attributes(self):
        assert _kelvaro.__all__ == ["from_internal_data", "from_bytes", "PrefixSearch"]
        assert _kelvaro.__doc__ == ""
        for function in (_kelvaro.from_internal_data, _kelvaro.from_bytes):
            assert function.__module__ == "_kelvaro"
            if not IS_PYPY:
                assert function.__self__ is _kelvaro

    def test_function_signatures(self):
        assert _kelvaro.from_internal_data.__text_signature__ == (
            "(node_shifts, node_strings, node_payloads, child_indices)"
        )
        assert _kelvaro.from_bytes.__text_signature__ == "(bs)"
        assert _kelvaro.from_bytes.__doc__ is None

    def test_reimport_adds_nothing(self):
        first = sys.modules.pop("_kelvaro")
        try:
            again = importlib.import_module("_kelvaro")
            # CPython runs the initialiser again and gets the cached module;
            # PyPy copies the first module's namespace without running it.
            if not IS_PYPY:
                assert again is first
            assert again.__all__ == ["from_internal_data", "from_bytes", "PrefixSearch"]
            assert again.PrefixSearch is first.PrefixSearch
        finally:
            sys.modules["_kelvaro"] = first

    @pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm from binutils")
    def test_only_the_entry_is_exported(self):
        listing = subprocess.run(
            ["nm", "-D", "--defined-only", _kelvaro.__file__], capture_output=True, text=True, check=True
        ).stdout
        assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit__kelvaro"]

    @cpython_only
    def test_second_initialisation_returns_the_cached_module(self):
        init = ctypes.PyDLL(_kelvaro.__file__).PyInit__kelvaro
        init.restype = ctypes.py_object
        assert init() is _kelvaro
        assert init() is _kelvaro
        assert _kelvaro.__all__ == ["from_internal_data", "from_bytes", "PrefixSearch"]


class TestPrefixSearchType:
    def test_names_and_doc(self):
        assert PrefixSearch.__module__ == "builtins"
        assert PrefixSearch.__name__ == "PrefixSearch"
        assert PrefixSearch.__qualname__ == "PrefixSearch"
        assert PrefixSearch.__doc__ is None

    def test_methods_in_table_order(self):
        assert [name for name in PrefixSearch.__dict__ if name in METHODS] == METHODS

    @cpython_only
    def test_method_signatures(self):
        assert [getattr(PrefixSearch, name).__text_signature__ for name in METHODS] == [
            "($self, prefix, max_dist, limit)",
            "($self, prefix)",
            "($self, node_id)",
            "($self, node_id)",
            "($self)",
        ]

    @pytest.mark.parametrize(
        "construct",
        [lambda: PrefixSearch(), lambda: PrefixSearch(1, x=2), lambda: PrefixSearch.__new__(PrefixSearch)],
    )
    def test_no_constructor(self, construct):
        with pytest.raises(TypeError) as caught:
            construct()
        assert str(caught.value) == "No constructor defined for PrefixSearch"

    def test_cannot_be_subclassed(self):
        with pytest.raises(TypeError):

            class Sub(PrefixSearch):
                pass

    def test_attributes_cannot_be_set(self, ab_ac):
        with pytest.raises(AttributeError):
            ab_ac.anything = 1
        with pytest.raises(AttributeError):
            ab_ac.exact_match = 1

    @cpython_only
    def test_no_dict_and_no_weak_references(self, ab_ac):
        assert not hasattr(ab_ac, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(ab_ac)

    def test_instance_made_without_the_factory_is_refused_not_crashed(self):
        # CPython refuses object.__new__ here; PyPy makes an instance that
        # never went through the module's factory.
        try:
            blank = object.__new__(PrefixSearch)
        except TypeError:
            return
        for call in (lambda: blank.get_payload(0), lambda: blank.get_children(0), blank.to_bytes):
            with pytest.raises(TypeError, match="not created by from_internal_data or from_bytes"):
                call()
        del blank


class TestPanicException:
    def test_type(self, ab_ac):
        error = panic_of(ab_ac.get_payload, 7)
        panic = type(error)
        assert panic.__module__ == "pyo3_runtime"
        assert panic.__name__ == "PanicException"
        assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
        assert "BaseException" in panic.__doc__ and "internal error" in panic.__doc__
        assert error.args == ("index out of bounds: the len is 4 but the index is 7",)
        assert type(panic_of(ab_ac.get_children, 9)) is panic
        assert not hasattr(_kelvaro, "PanicException")

    def test_not_caught_by_except_exception(self, ab_ac):
        with pytest.raises(BaseException) as caught:
            try:
                ab_ac.get_payload(7)
            except Exception:  # noqa: BLE001 - must not catch it
                pytest.fail("PanicException was caught as an Exception")
        assert type(caught.value).__name__ == "PanicException"

    def test_report_on_standard_error(self, ab_ac, capfd):
        capfd.readouterr()
        panic_of(ab_ac.get_payload, 7)
        report = capfd.readouterr().err
        assert "index out of bounds: the len is 4 but the index is 7" in report
        assert "src/prefix/" in report
        assert "thread" in report
