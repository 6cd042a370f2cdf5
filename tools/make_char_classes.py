"""Writes src/text/char_classes.inc: the Unicode ranges of letters, marks and
digits that the text tokenizer reads, from this interpreter's unicodedata.

The C++ standard library has no Unicode character properties without a
locale, so the ranges are made here once and kept with the sources:

    python3 tools/make_char_classes.py > src/text/char_classes.inc
"""

import sys
import unicodedata

# What the tokenizer needs to tell apart; everything else is a separator.
CLASSES = {"L": "kLetter", "M": "kMark", "N": "kDigit"}


def ranges():
    current = None
    for code in range(0x80, sys.maxunicode + 1):
        kind = CLASSES.get(unicodedata.category(chr(code))[0])
        if current is not None and current[2] == kind and current[1] == code - 1:
            current[1] = code
            continue
        if current is not None and current[2] is not None:
            yield tuple(current)
        current = [code, code, kind]
    if current is not None and current[2] is not None:
        yield tuple(current)


def main():
    found = list(ranges())
    print(f"// Made by tools/make_char_classes.py from Unicode {unicodedata.unidata_version}: the")
    print("// ranges above ASCII of letters (L*), marks (M*) and numbers (N*), sorted.")
    for first, last, kind in found:
        print(f"{{0x{first:X}, 0x{last:X}, CharClass::{kind}}},")


if __name__ == "__main__":
    main()
