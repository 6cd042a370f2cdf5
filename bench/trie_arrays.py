"""The four arrays of `_kelvaro.from_internal_data`, built from words.

    node_shifts    per node: where its run of children starts in child_indices
    node_strings   per node: its character ("" for the root)
    node_payloads  per node: the payload of the word that ends there, or None
    child_indices  the children of all nodes, one contiguous run per node

Node ids are given breadth first, so node 0 is the root, the nodes of each
depth follow those of the depth above, and the children of every node are
consecutive ids listed in one run, in character order. A word given twice
keeps the payload of its last occurrence.

    >>> build_arrays(["ab", "ac"], [0, 1])
    ([0, 1, 3, 3], ['', 'a', 'b', 'c'], [None, None, 0, 1], [1, 2, 3])
"""
from collections import deque

PAYLOAD = None  # the key under which a word's payload sits in its node's dict


def build_arrays(words, payloads):
    """The four arrays of a trie holding each of `words` with its payload."""
    root = {}
    for word, payload in zip(words, payloads):
        node = root
        for ch in word:
            node = node.setdefault(ch, {})
        node[PAYLOAD] = payload

    node_shifts, node_strings, node_payloads, child_indices = [], [], [], []
    queue = deque([("", root)])
    next_id = 1
    while queue:
        ch, node = queue.popleft()
        node_shifts.append(len(child_indices))
        node_strings.append(ch)
        node_payloads.append(node.get(PAYLOAD))
        labels = sorted(label for label in node if label is not PAYLOAD)
        child_indices.extend(range(next_id, next_id + len(labels)))
        next_id += len(labels)
        queue.extend((label, node[label]) for label in labels)
    return node_shifts, node_strings, node_payloads, child_indices


if __name__ == "__main__":
    import doctest

    doctest.testmod()
