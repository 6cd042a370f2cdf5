"""A tour of _kelvaro over the word list next to this file.

Builds a trie from examples/words.txt (each word's payload is its line
number), then answers exact and fuzzy lookups, walks a word node by node, and
saves the trie to a file and loads it back.
"""
import os
import tempfile
import time
from collections import deque

import _kelvaro

HERE = os.path.dirname(os.path.abspath(__file__))


def build_arrays(words):
    """The four arrays of a trie holding `words`, each with its position as payload.

    Node ids are breadth-first, so each node's children form one contiguous
    run of child_indices, in character order.
    """
    root = {}
    for position, word in enumerate(words):
        node = root
        for ch in word:
            node = node.setdefault(ch, {})
        node[None] = position  # the payload sits under the key None

    node_shifts, node_strings, node_payloads, child_indices = [], [], [], []
    queue = deque([("", root)])
    next_id = 1
    while queue:
        ch, node = queue.popleft()
        node_shifts.append(len(child_indices))
        node_strings.append(ch)
        node_payloads.append(node.get(None))
        for child_ch in sorted(k for k in node if k is not None):
            child_indices.append(next_id)
            next_id += 1
            queue.append((child_ch, node[child_ch]))
    return node_shifts, node_strings, node_payloads, child_indices


def show(title, value):
    print(f"  {title:<38} {value}")


def main():
    with open(os.path.join(HERE, "words.txt"), encoding="utf-8") as f:
        words = [line.strip() for line in f if line.strip()]
    arrays = build_arrays(words)
    trie = _kelvaro.from_internal_data(*arrays)
    print(f"{len(words)} words in a trie of {len(arrays[0])} nodes\n")

    print("Exact lookups: (word, payload, distance), or None")
    for word in ["spelling", "spel", "jalapeño", "zzz"]:
        show(f"exact_match({word!r})", trie.exact_match(word))

    print("\nFuzzy lookups: every stored word within the distance")
    for query, distance, limit in [
        ("spelling", 0, None),
        ("speling", 1, None),
        ("speling", 2, None),
        ("speling", 2, 3),
        ("jalapeno", 1, None),
        ("melee", 2, None),
        ("tree", 1, None),
        ("tree", 1, 2),
    ]:
        started = time.perf_counter()
        matches = trie.fuzzy_match(query, distance, limit)
        elapsed = (time.perf_counter() - started) * 1e6
        print(f"  fuzzy_match({query!r}, {distance}, {limit}) in {elapsed:.0f} µs:")
        for text, payload, dist in matches:
            print(f"      {text:<14} payload {payload:<5} distance {dist}")

    print("\nWalking 'cart' node by node")
    node = 0
    for ch in "cart":
        node = next(child for c, child in trie.get_children(node) if c == ch)
        show(f"{ch!r} -> node {node}", f"payload {trie.get_payload(node)}")

    print("\nSaving and loading")
    data = trie.to_bytes()
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "words.trie")
        with open(path, "wb") as f:
            f.write(data)
        with open(path, "rb") as f:
            loaded = _kelvaro.from_bytes(f.read())
        show("bytes written", len(data))
        queries = [("speling", 2, None), ("tree", 1, None), ("jalapeno", 1, 1)]
        same = all(loaded.fuzzy_match(*q) == trie.fuzzy_match(*q) for q in queries)
        same = same and loaded.exact_match("spelling") == trie.exact_match("spelling")
        show("loaded trie answers the same", same)
        show("and saves to the same bytes", loaded.to_bytes() == data)


if __name__ == "__main__":
    main()
