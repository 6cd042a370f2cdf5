"""Normalisations by name, so that a saved index can bring its own back.

An index built with a normalisation stores its keys normalised and applies
the same function to every query. A saved index records which function by
name: the named ones below are restored on load, and any other is recorded
by its module and qualified name and has to be passed to Index.load again,
under the same name.
"""

from __future__ import annotations

from typing import Callable, Optional

Normalize = Callable[[str], str]

NAMED: dict[str, Normalize] = {"casefold": str.casefold, "lower": str.lower}

CUSTOM_PREFIX = "custom:"


class MissingNormalization(ValueError):
    """An index built with a custom normalize function was loaded without
    one; `function` is the function's recorded name."""

    def __init__(self, message: str, function: str) -> None:
        super().__init__(message)
        self.function = function


def check(normalize: object) -> Optional[Normalize]:
    if normalize is not None and not callable(normalize):
        raise TypeError(f"normalize must be a callable or None, not {type(normalize).__name__}")
    return normalize


def name_of(normalize: Optional[Normalize]) -> str:
    """"" for none, a name of NAMED, or "custom:" and the qualified name."""
    if normalize is None:
        return ""
    for name, named in NAMED.items():
        if normalize == named:
            return name
    module = getattr(normalize, "__module__", None) or "?"
    qualname = getattr(normalize, "__qualname__", None) or type(normalize).__qualname__
    return f"{CUSTOM_PREFIX}{module}.{qualname}"


def describe(name: str) -> str:
    if name.startswith(CUSTOM_PREFIX):
        return name[len(CUSTOM_PREFIX) :]
    return name or "none"


def restore(name: str, given: Optional[Normalize]) -> Optional[Normalize]:
    """The normalisation of an index saved with `name`, checked against the
    one the caller passed to Index.load (None if they passed none)."""
    if name.startswith(CUSTOM_PREFIX):
        function = describe(name)
        if given is None:
            raise MissingNormalization(
                f"the index was built with the normalize function {function}; "
                "pass it to Index.load as normalize=",
                function,
            )
        # Functions are told apart by name; that two of one name agree is
        # then checked on every stored word (_storage._check_keys).
        if name_of(given) != name:
            raise ValueError(
                f"the index was built with the normalize function {function}, "
                f"not {describe(name_of(given))}"
            )
        return given
    expected = NAMED.get(name) if name else None
    if name and expected is None:
        raise ValueError(f"the index was built with an unknown normalization {name!r}")
    if given is not None and given != expected:
        raise ValueError(
            f"the index was built with normalization {describe(name)}, "
            f"not {describe(name_of(given))}"
        )
    return expected
