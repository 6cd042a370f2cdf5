"""Pickling for PrefixSearch, registered when kelvaro is imported.

A trie pickles as its to_bytes form and unpickles through from_bytes, both
of which the native module already has; copyreg connects them without
adding anything to _kelvaro itself.
"""

from __future__ import annotations

import copyreg
from typing import Callable, Tuple

import _kelvaro


def _reduce_prefix_search(
    trie: _kelvaro.PrefixSearch,
) -> Tuple[Callable[[bytes], _kelvaro.PrefixSearch], Tuple[bytes]]:
    return _kelvaro.from_bytes, (trie.to_bytes(),)


def register() -> None:
    copyreg.pickle(_kelvaro.PrefixSearch, _reduce_prefix_search)
