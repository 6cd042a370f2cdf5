#!/usr/bin/env python3
"""Makes src/search/letter_case_table.inc: every letter that has a lower-case
form other than itself, as runs for the typo cost's case rule.

The core cannot ask the interpreter, and the C++ library's case mapping
follows whatever locale the process runs in, so the mapping is a table made
once from this interpreter's Unicode database. A letter's lower-case form is
its one-character str.lower(); the one letter whose lower case is longer,
U+0130 (capital I with a dot above), maps to the letter it starts with.

A run is (first, last, step, delta): the code points first, first + step,
... up to last each become themselves plus delta.

Usage: python3 tools/make_case_table.py [--out PATH]
"""

from __future__ import annotations

import argparse
import sys
import unicodedata
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "src" / "search" / "letter_case_table.inc"


def lower_of(code: int) -> int:
    lowered = chr(code).lower()
    if len(lowered) > 1 and all(unicodedata.category(ch) == "Mn" for ch in lowered[1:]):
        lowered = lowered[0]
    return ord(lowered) if len(lowered) == 1 else code


def runs() -> list[tuple[int, int, int, int]]:
    found: list[list[int]] = []
    for code in range(sys.maxunicode + 1):
        if 0xD800 <= code < 0xE000:
            continue
        delta = lower_of(code) - code
        if delta == 0:
            continue
        last = found[-1] if found else None
        if last is not None and last[3] == delta:
            step = code - last[1]
            if last[0] == last[1] and step in (1, 2):
                last[1], last[2] = code, step
                continue
            if step == last[2]:
                last[1] = code
                continue
        found.append([code, code, 1, delta])
    return [tuple(run) for run in found]  # type: ignore[misc]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=OUT)
    out = parser.parse_args().out
    lines = [
        f"// Made by tools/make_case_table.py from Unicode {unicodedata.unidata_version}; do not edit.",
        "// {first, last, step, delta}: first, first + step, ... last become themselves plus delta.",
    ]
    lines += [f"{{0x{a:04X}, 0x{b:04X}, {step}, {delta}}}," for a, b, step, delta in runs()]
    out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
