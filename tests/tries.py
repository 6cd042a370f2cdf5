"""Building tries for tests: from words, or from an explicit tree."""
from collections import deque

import _kelvaro


def arrays_from_children(chars, payloads, children):
    """The four arrays of a trie whose node n has the character chars[n]
    ("" for none), the payload payloads[n] and the children children[n],
    in that order; runs are laid out in node-id order."""
    node_shifts, child_indices = [], []
    for run in children:
        node_shifts.append(len(child_indices))
        child_indices.extend(run)
    return node_shifts, list(chars), list(payloads), child_indices


def arrays_from_words(words):
    """A trie holding each word with its position as payload (a later
    duplicate wins); breadth-first ids, siblings in character order."""
    root = {}
    for position, word in enumerate(words):
        node = root
        for ch in word:
            node = node.setdefault(ch, {})
        node[None] = position
    chars, payloads, children = [], [], []
    queue = deque([("", root)])
    while queue:
        ch, node = queue.popleft()
        chars.append(ch)
        payloads.append(node.get(None))
        first = len(chars) + len(queue)
        keys = sorted(k for k in node if k is not None)
        children.append(list(range(first, first + len(keys))))
        queue.extend((k, node[k]) for k in keys)
    return arrays_from_children(chars, payloads, children)


def trie_from_words(words):
    return _kelvaro.from_internal_data(*arrays_from_words(words))


def trie_from_children(chars, payloads, children):
    return _kelvaro.from_internal_data(*arrays_from_children(chars, payloads, children))


def path_texts(chars, children):
    """Each node's path text, for a well-formed tree rooted at node 0."""
    texts = {0: ""}
    stack = [0]
    while stack:
        node = stack.pop()
        for child in children[node]:
            texts[child] = texts[node] + chars[child]
            stack.append(child)
    return texts
