"""Pure-Python twins of the native search and writer, kept as plain as possible.

fuzzy_match:

Depth first from the root, one row of the Levenshtein table per node, each
node's children entered with their own copy of the parent's row; children of
a node whose smallest row entry exceeds max_dist, or entered once the limit
is reached, are skipped; the last child continuing the query goes first.
"""


def fuzzy_match(arrays, query, max_dist, limit):
    node_shifts, node_strings, node_payloads, child_indices = arrays
    n = len(query)
    results = []

    def children_of(node):
        end = node_shifts[node + 1] if node + 1 < len(node_shifts) else len(child_indices)
        return [(node_strings[c][0], c) for c in child_indices[node_shifts[node] : end]]

    def limit_reached():
        return limit is not None and len(results) >= limit

    stack = [(0, "", None)]
    while stack:
        node, path, parent_row = stack.pop()
        if parent_row is None:
            row = list(range(n + 1))
        else:
            ch = path[-1]
            row = [parent_row[0] + 1]
            for i in range(1, n + 1):
                row.append(min(parent_row[i] + 1, row[i - 1] + 1, parent_row[i - 1] + (query[i - 1] != ch)))
            if node_payloads[node] is not None and row[n] <= max_dist and not limit_reached():
                results.append((path, node_payloads[node], row[n]))
        if limit_reached() or min(row) > max_dist:
            continue
        children = children_of(node)
        depth = len(path)
        preferred = [i for i, (ch, _) in enumerate(children) if depth < n and ch == query[depth]]
        order = preferred[-1:] + [i for i in range(len(children)) if i not in preferred[-1:]]
        for i in reversed(order):
            ch, child = children[i]
            stack.append((child, path + ch, row))
    return results


def levenshtein(a, b):
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


# The writer: shortest integer forms, UTF-8 characters.
def encode_uint(value):
    if value <= 250:
        return bytes([value])
    if value <= 0xFFFF:
        return b"\xfb" + value.to_bytes(2, "little")
    if value <= 0xFFFFFFFF:
        return b"\xfc" + value.to_bytes(4, "little")
    return b"\xfd" + value.to_bytes(8, "little")


def encode_trie(shifts, strings, payloads, children):
    """What to_bytes writes for the trie that from_internal_data makes of these arrays."""

    def array(items, encode_item):
        return encode_uint(len(items)) + b"".join(encode_item(item) for item in items)

    def optional(value, encode_value):
        return b"\x00" if value is None else b"\x01" + encode_value(value)

    return (
        array(shifts, encode_uint)
        + array(strings, lambda s: optional(s[:1] or None, lambda c: c.encode("utf-8")))
        + array(payloads, lambda p: optional(p, encode_uint))
        + array(children, encode_uint)
    )
