# Types of the native module _kelvaro: a character trie with exact and
# edit-distance lookups, built from four flat arrays or from bytes.
from collections.abc import Sequence
from typing import final

__all__ = ["from_internal_data", "from_bytes", "PrefixSearch"]

@final
class PrefixSearch:
    """A trie; made only by from_internal_data and from_bytes."""

    def fuzzy_match(
        self, prefix: str, max_dist: int, limit: int | None
    ) -> list[tuple[str, int, int]]:
        """Every stored text within max_dist edits of prefix, at most limit of
        them, as (text, payload, distance)."""
    def exact_match(self, prefix: str) -> tuple[str, int, int] | None:
        """(prefix, payload, 0) when prefix is stored, else None."""
    def get_children(self, node_id: int) -> list[tuple[str, int]]:
        """The node's children as (character, node id), in stored order."""
    def get_payload(self, node_id: int) -> int | None:
        """The node's payload, or None."""
    def to_bytes(self) -> bytes:
        """The trie in its binary form, for from_bytes."""

def from_internal_data(
    node_shifts: Sequence[int],
    node_strings: Sequence[str],
    node_payloads: Sequence[int | None],
    child_indices: Sequence[int],
) -> PrefixSearch:
    """A trie from its four arrays, taken as they are."""

def from_bytes(bs: bytes | bytearray | Sequence[int]) -> PrefixSearch:
    """The trie that to_bytes wrote."""
