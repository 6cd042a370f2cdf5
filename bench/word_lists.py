"""The bench's word lists and the queries drawn from them.

Everything random has a fixed seed, so two runs measure the same work; the
sections that compare with another version draw the same queries from the
same words on both sides.
"""
import os
import random

HUGE = "/usr/share/dict/american-english-huge"
INSANE = "/usr/share/dict/american-english-insane"
SPELLING = "/work/shared/data/spelling"
SEED = 20240611


def read_words(path):
    """The distinct lines of a word list, in file order."""
    with open(path, encoding="utf-8") as f:
        return list(dict.fromkeys(line.strip() for line in f if line.strip()))


def cjk_words(count=300_000, ideographs=3_000, seed=SEED):
    """Words of 1 to 4 characters over the first `ideographs` CJK ideographs."""
    rng = random.Random(seed)
    alphabet = [chr(c) for c in range(0x4E00, 0x4E00 + ideographs)]
    words = {}
    while len(words) < count:
        words["".join(rng.choices(alphabet, k=rng.randint(1, 4)))] = None
    return list(words)


def mixed_words(count, seed=SEED):
    """Words over Cyrillic, Greek, CJK and emoji, each word in one script."""
    rng = random.Random(seed)
    scripts = [
        ([chr(c) for c in range(0x430, 0x450)], 3, 12),
        ([chr(c) for c in range(0x3B1, 0x3CA)], 3, 12),
        ([chr(c) for c in range(0x4E00, 0x4E00 + 800)], 1, 4),
        ([chr(c) for c in range(0x1F600, 0x1F650)], 1, 5),
    ]
    words = {}
    while len(words) < count:
        alphabet, shortest, longest = rng.choice(scripts)
        words["".join(rng.choices(alphabet, k=rng.randint(shortest, longest)))] = None
    return list(words)


def edited(word, edits, alphabet, rng):
    """`word` with `edits` random substitutions, insertions or deletions."""
    for _ in range(edits):
        kind = rng.choice(["substitute", "insert", "delete"] if word else ["insert"])
        at = rng.randrange(len(word) + (kind == "insert"))
        if kind == "insert":
            word = word[:at] + rng.choice(alphabet) + word[at:]
        elif kind == "delete":
            word = word[:at] + word[at + 1 :]
        else:
            word = word[:at] + rng.choice(alphabet) + word[at + 1 :]
    return word


def make_queries(words, count, seed=SEED):
    """Dictionary words, each with 0, 1 or 2 random edits."""
    rng = random.Random(seed)
    alphabet = sorted(set("".join(words)))
    return [edited(rng.choice(words), rng.randint(0, 2), alphabet, rng) for _ in range(count)]


def completion_prefixes(keys, count, seed=SEED):
    """Prefixes of 1 to 8 letters of stored words; every third with one typo."""
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    prefixes = []
    for i in range(count):
        word = rng.choice(keys)
        prefix = word[: rng.randint(1, min(8, len(word)))]
        prefixes.append(edited(prefix, 1, letters, rng) if i % 3 == 2 else prefix)
    return [p for p in prefixes if p]


def spelling_pairs():
    """(right, wrong, set) for every misspelling of both test sets."""
    pairs = []
    for number in (1, 2):
        with open(os.path.join(SPELLING, f"testset{number}.txt"), encoding="utf-8") as f:
            for line in f:
                if ":" not in line:
                    continue
                right, wrongs = line.split(":", 1)
                pairs += [(right.strip(), wrong, number) for wrong in wrongs.split()]
    return pairs
