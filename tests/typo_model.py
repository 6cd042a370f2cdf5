"""A pure-Python twin of the typo cost and of the ranking of suggestions,
kept as plain as possible; it follows the README's price table."""
import math

PRICES = {
    "other": 10,
    "vowel": 6,
    "neighbour key": 8,
    "sound alike": 4,
    "case": 5,
    "in or out": 10,
    "vowel in or out": 5,
    "doubled letter": 4,
    "swap": 7,
}
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


def substitution(meant, typed):
    if meant == typed:
        return 0
    a, b = lower(meant), lower(typed)
    if a == b:
        return PRICES["case"]
    costs = [PRICES["other"]]
    if a in VOWELS and b in VOWELS:
        costs.append(PRICES["vowel"])
    if frozenset((a, b)) in KEYS:
        costs.append(PRICES["neighbour key"])
    if frozenset((a, b)) in SOUNDS:
        costs.append(PRICES["sound alike"])
    return min(costs)


def in_or_out(text, k):
    """The price of leaving out, or typing too many, text[k] (text in lower case)."""
    costs = [PRICES["in or out"]]
    if text[k] in VOWELS:
        costs.append(PRICES["vowel in or out"])
    if text[k] in text[max(k - 1, 0) : k] + text[k + 1 : k + 2]:
        costs.append(PRICES["doubled letter"])
    return min(costs)


def typo_cost(meant, typed):
    a, b = "".join(map(lower, meant)), "".join(map(lower, typed))
    table = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for j in range(1, len(b) + 1):
        table[0][j] = table[0][j - 1] + in_or_out(b, j - 1)
    for i in range(1, len(a) + 1):
        table[i][0] = table[i - 1][0] + in_or_out(a, i - 1)
        for j in range(1, len(b) + 1):
            best = min(
                table[i - 1][j - 1] + substitution(meant[i - 1], typed[j - 1]),
                table[i - 1][j] + in_or_out(a, i - 1),
                table[i][j - 1] + in_or_out(b, j - 1),
            )
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1] and a[i - 1] != b[j - 1]:
                best = min(best, table[i - 2][j - 2] + PRICES["swap"])
            table[i][j] = best
    return table[-1][-1]


def ranked(word, candidates, weighted):
    """Matches (text, value, distance) in the order suggest gives them."""

    def place(match):
        text, value, _ = match
        cost = typo_cost(text, word)
        if not weighted:
            return (text != word, False, cost, 0, text)
        return (text != word, value == 0, cost - math.log(value + 1), -value, text)

    return sorted(candidates, key=place)
