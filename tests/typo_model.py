"""A pure-Python twin of the typo cost, the sound-alike key and the ranking
of suggestions, kept as plain as possible; it follows the README's tables.

tools/fit_typo_weights.py fits the same model, so its prices are arguments
here, defaulting to the ones the native code uses."""
import math

PRICES = {
    "other": 10,
    "vowel": 6,
    "neighbour key": 7,
    "sound alike": 5,
    "case": 2,
    "left out": 5,
    "vowel left out": 3,
    "doubled letter left out": 3,
    "typed too many": 9,
    "vowel typed too many": 6,
    "doubled letter typed too many": 4,
    "swap": 3,
    "apostrophe left out": 2,
    "apostrophe typed too many": 2,
}
# What a score subtracts for a word that sounds like the typed one, and per
# unit of ln(value + 1) in a weighted index.
SOUND_ALIKE_BONUS = 1
FREQUENCY_WEIGHT = 0.94
VOWELS = set("aeiou")
SOUNDS = {frozenset(pair) for pair in ["cs", "ck", "sz", "kq", "gj", "fv", "bp", "dt", "mn"]}


def _keyboard():
    rows = ["qwertyuiop", "asdfghjkl", "zxcvbnm"]
    pairs = set()
    for r, row in enumerate(rows):
        for i, key in enumerate(row):
            touching = list(row[i + 1 : i + 2])
            if r + 1 < len(rows):
                touching += rows[r + 1][max(i - 1, 0) : i + 1]
            pairs |= {frozenset((key, other)) for other in touching}
    return pairs


KEYS = _keyboard()


def lower(ch):
    lowered = ch.lower()
    return lowered if len(lowered) == 1 else ch


def substitution(meant, typed, prices=PRICES):
    """The cheapest (price, operation) of typing `typed` for `meant`."""
    if meant == typed:
        return 0, None
    a, b = lower(meant), lower(typed)
    if a == b:
        return prices["case"], "case"
    kinds = ["other"]
    if a in VOWELS and b in VOWELS:
        kinds.append("vowel")
    if frozenset((a, b)) in KEYS:
        kinds.append("neighbour key")
    if frozenset((a, b)) in SOUNDS:
        kinds.append("sound alike")
    return min((prices[k], k) for k in kinds)


def in_or_out(text, k, way, prices=PRICES):
    """The cheapest (price, operation) of text[k] (lower case) being left out of
    the typed text (way "left out") or typed too many (way "typed too many")."""
    kinds = [way]
    if text[k] in VOWELS:
        kinds.append("vowel " + way)
    if text[k] == "'":
        kinds.append("apostrophe " + way)
    if text[k] in text[max(k - 1, 0) : k] + text[k + 1 : k + 2]:
        kinds.append("doubled letter " + way)
    return min((prices[k], k) for k in kinds)


def typo_operations(meant, typed, prices=PRICES):
    """The typo cost of typing `typed` for `meant`, and the operations of one
    cheapest alignment, counted by name."""
    a, b = "".join(map(lower, meant)), "".join(map(lower, typed))
    # Each cell holds (cost, operations as a tuple of names).
    table = [[(0, ())] * (len(b) + 1) for _ in range(len(a) + 1)]

    def step(cell, priced):
        price, kind = priced
        return (cell[0] + price, cell[1] + ((kind,) if kind else ()))

    for j in range(1, len(b) + 1):
        table[0][j] = step(table[0][j - 1], in_or_out(b, j - 1, "typed too many", prices))
    for i in range(1, len(a) + 1):
        table[i][0] = step(table[i - 1][0], in_or_out(a, i - 1, "left out", prices))
        for j in range(1, len(b) + 1):
            options = [
                step(table[i - 1][j - 1], substitution(meant[i - 1], typed[j - 1], prices)),
                step(table[i - 1][j], in_or_out(a, i - 1, "left out", prices)),
                step(table[i][j - 1], in_or_out(b, j - 1, "typed too many", prices)),
            ]
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1] and a[i - 1] != b[j - 1]:
                options.append(step(table[i - 2][j - 2], (prices["swap"], "swap")))
            table[i][j] = min(options, key=lambda cell: cell[0])
    cost, kinds = table[-1][-1]
    counts = {}
    for kind in kinds:
        counts[kind] = counts.get(kind, 0) + 1
    return cost, counts


def typo_cost(meant, typed, prices=PRICES):
    return typo_operations(meant, typed, prices)[0]


def _sound_codes(w):
    """The sound classes of a word of lower-case ASCII letters, in order."""
    for start, instead in (("kn", "n"), ("gn", "n"), ("pn", "n"), ("wr", "r"), ("ps", "s"), ("pt", "t"),
                           ("x", "s"), ("wh", "w")):
        if w.startswith(start):
            w = instead + w[len(start) :]
            break
    n = len(w)

    def at(k):
        return w[k] if 0 <= k < n else ""

    i = 0
    while i < n:
        c, nx, nx2 = w[i], at(i + 1), at(i + 2)
        code, step = "", 1
        if c in "aeiou":
            code = "A" if i == 0 else ""
        elif c == "y":
            code = "Y" if nx and nx in "aeiou" else ("A" if i == 0 else "")
        elif c == "w":
            code = "W" if nx and nx in "aeiou" else ""
        elif c == "h":
            code = "H" if nx and nx in "aeiou" and (i == 0 or at(i - 1) in "aeiou") else ""
        elif c == "c":
            if nx == "h":
                code, step = "X", 2
            elif nx == "k":
                code, step = "K", 2
            elif nx == "i" and nx2 in ("a", "o"):
                code, step = "X", 2
            else:
                code = "S" if nx and nx in "eiy" else "K"
        elif c == "s":
            if nx == "h":
                code, step = "X", 2
            elif nx == "c" and nx2 == "h":
                code, step = "SK", 3
            elif nx == "i" and nx2 in ("a", "o"):
                code, step = "X", 2
            elif nx == "c" and nx2 and nx2 in "eiy":
                code, step = "S", 2
            else:
                code = "S"
        elif c == "t":
            if nx == "h":
                code, step = "0", 2
            elif nx == "i" and nx2 in ("a", "o"):
                code, step = "X", 2
            elif nx == "c" and nx2 == "h":
                code, step = "X", 3
            else:
                code = "T"
        elif c == "d":
            if nx == "g" and nx2 and nx2 in "eiy":
                code, step = "J", 2
            else:
                code = "T"
        elif c == "g":
            if nx == "h":
                code, step = ("K" if i == 0 else ""), 2
            elif nx == "n" and (i + 2 == n or (nx2 == "e" and i + 3 == n)):
                code = ""
            else:
                code = "J" if nx and nx in "eiy" else "K"
        elif c == "p":
            code, step = ("F", 2) if nx == "h" else ("P", 1)
        elif c == "b":
            code = "" if at(i - 1) == "m" and i + 1 == n else "P"
        else:
            code = {"q": "K", "x": "KS", "z": "S", "v": "F", "k": "K", "j": "J", "f": "F", "m": "M",
                    "n": "N", "l": "L", "r": "R"}[c]
        yield code
        i += step


def sound_key(word):
    """The sound-alike key of a word, or None for a word that is not all
    ASCII letters (in either case) and apostrophes, which are left out, or
    whose letters make no sound ("h")."""
    w = word.replace("'", "")
    if not w or not all("a" <= c <= "z" or "A" <= c <= "Z" or c == "'" for c in word):
        return None
    w = w.lower()
    key = []
    for code in _sound_codes(w):
        for ch in code:
            if not key or key[-1] != ch:
                key.append(ch)
    return "".join(key) or None


def sounds_alike(meant, typed):
    """Whether both words have a sound key, and the same one."""
    key = sound_key(meant)
    return key is not None and key == sound_key(typed)


def score(meant, typed, value, weighted, sounds=True, prices=PRICES, bonus=SOUND_ALIKE_BONUS,
          frequency_weight=FREQUENCY_WEIGHT):
    """What ranks a candidate: its typo cost, less the bonus if it sounds
    like the typed word, less, in a weighted index, frequency_weight *
    ln(value + 1)."""
    cost = typo_cost(meant, typed, prices)
    if sounds and sounds_alike(meant, typed):
        cost -= bonus
    return cost - frequency_weight * math.log(value + 1) if weighted else cost


def case_only(meant, typed):
    """Whether the two differ in case alone (or not at all)."""
    return len(meant) == len(typed) and all(lower(a) == lower(b) for a, b in zip(meant, typed))


def ranked(word, candidates, weighted, sounds=True):
    """Matches (text, value, distance) in the order suggest gives them: the
    word itself, then the words that differ from it in case alone, then the
    rest by weight and score."""

    def place(match):
        text, value, _ = match
        s = score(text, word, value, weighted, sounds)
        return (text != word, not case_only(text, word), weighted and value == 0, s, -value if weighted else 0,
                text)

    return sorted(candidates, key=place)
