"""Arrays of unsigned 32-bit integers as little-endian bytes, the form in
which the native builder takes and returns positions, lengths and values."""

from __future__ import annotations

from array import array
from typing import Iterable

# The array type code whose items are 32 bits wide ("I" on every platform
# kelvaro builds on).
U32 = next(code for code in "IL" if array(code).itemsize == 4)


def u32_array(values: Iterable[int] = ()) -> array[int]:
    """Raises TypeError or OverflowError for an item that is not an int from
    0 to 4294967295."""
    return array(U32, values)


# The build refuses big-endian hosts, so an array's own bytes are already
# little-endian.
def to_bytes(values: array[int]) -> bytes:
    return values.tobytes()


def from_bytes(data: bytes) -> array[int]:
    values = array(U32)
    values.frombytes(data)
    return values
