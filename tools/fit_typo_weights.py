"""Fits the typo model of tests/typo_model.py (all of PRICES, sound bonuses
included, and FREQUENCY_WEIGHT) by maximum likelihood, and reports the fitted
values beside the current ones with the top-1 accuracy of each.

The chance that a typed word meant a candidate is exp(-score / T) over the
sum for all its candidates: the stored words within two edits, those that
sound the same, and the right word. Fitting is hard EM: align every
candidate with the prices so far; with those operation counts fixed the
score is linear in the parameters and the log-likelihood concave, so
projected Newton finds its maximum; align again, until nothing moves.

Data: Peter Norvig's first test set, to fit on, and the default index for
words and counts. His second set is validation only: it chooses nothing.
The fit starts from, and is pulled ever so slightly toward, the prices that
were set by hand before (STARTING), so that it reproduces whatever the
twin's prices are now.

Usage: python tools/fit_typo_weights.py [DIR]   (DIR holds testset1.txt and
testset2.txt, by default ../shared/data/spelling beside the repository;
under a minute; progress on stderr)
"""

from __future__ import annotations

import math
import os
import sys
import time
from collections.abc import Mapping

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

import kelvaro  # noqa: E402
import typo_model as tm  # noqa: E402

DATA = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "shared", "data", "spelling")
BONUS = "sound alike bonus"
# The parameters: PRICES in its order, the sound-alike bonus, then the
# frequency weight.
KINDS = list(tm.PRICES) + [BONUS]
N = len(KINDS) + 1
BONUSES = {BONUS}
OTHER = KINDS.index("other")
# The prices as they were set by hand, before any fit, in KINDS' order and
# then the frequency weight: where the fit starts. Case (2) and the
# apostrophe's prices (2, 2) are set by rule (typo_cost.h): the test sets are
# lower case and without apostrophes, so the pull below holds them there.
STARTING = [10.0, 6.0, 8.0, 4.0, 2.0, 10.0, 5.0, 4.0, 10.0, 5.0, 4.0, 7.0, 2.0, 2.0, 10.0, 1.0]
CURRENT = [float(tm.PRICES[k]) for k in tm.PRICES] + [float(tm.SOUND_ALIKE_BONUS), tm.FREQUENCY_WEIGHT]
# The L2 pull toward the current parameters, per unit of beta (below)
# squared: at the fitted scale (a tenth is about 0.8 in beta) some 0.006 per
# tenth squared, far below what a few hundred pairs weigh, so it only holds
# what the data cannot see.
PULL = 0.01
ROUNDS = 12
START = time.time()

Pair = tuple[str, str, str, list[tuple[str, int]]]  # right, typed, status, candidates
Group = tuple[int, list[list[tuple[int, float]]]]  # the right word's row, sparse score vectors


def say(message: str) -> None:
    print(f"[{time.time() - START:6.1f}s] {message}", file=sys.stderr, flush=True)


def read_pairs(name: str) -> list[tuple[str, str]]:
    pairs = []
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        for line in f:
            right, wrongs = line.split(":")
            pairs += [(right.strip().casefold(), w.casefold()) for w in wrongs.split()]
    return pairs


def candidate_sets(index: kelvaro.Index, by_key: dict, pairs: list[tuple[str, str]]) -> list[Pair]:
    """Each pair whose right word is stored, with its status ("fit",
    "unreachable" or "stored typo") and the candidates that can come first:
    the ones with a value when there are any (the rest rank after them)."""
    typed = sorted({w for _, w in pairs})
    found = dict(zip(typed, index.suggest_many(typed, 2, None, threads=2)))
    out = []
    for right, w in pairs:
        value = index.get(right, -1)
        if value < 0:
            continue
        # suggest may add sound-alikes further away; the twin's are added below.
        cands = {m.word.casefold(): m.value for m in found[w] if m.distance <= 2}
        cands.update(by_key.get(tm.sound_key(w), []))
        cands[right] = value
        if any(cands.values()):
            cands = {t: v for t, v in cands.items() if v or t == w}
        status = "stored typo" if w in cands and w != right else "fit" if right in cands else "unreachable"
        out.append((right, w, status, sorted(cands.items())))
    return out


def align(pairs: list[Pair], prices: Mapping[str, float]) -> dict[tuple[str, str], tuple[float, dict[str, int]]]:
    todo = sorted({(t, w) for _, w, status, cands in pairs if status != "stored typo" for t, _ in cands})
    return {(t, w): tm.typo_operations(t, w, prices) for t, w in todo}


def design(pairs: list[Pair], aligned: dict) -> list[Group]:
    """For each pair to fit, the right word's row and every candidate's score as
    a sparse vector over the parameters."""
    groups = []
    for right, w, status, cands in pairs:
        if status != "fit":
            continue
        rows = []
        for t, value in cands:
            row = [(KINDS.index(k), float(n)) for k, n in sorted(aligned[t, w][1].items())]
            if tm.sounds_alike(t, w):
                row.append((KINDS.index(BONUS), -1.0))
            if value:
                row.append((N - 1, -math.log(value + 1)))
            rows.append(row)
        groups.append(([t for t, _ in cands].index(right), rows))
    return groups


def objective(beta: list[float], groups: list[Group], pull: float = 0.0):
    """The log-likelihood of the right words with scores beta . x (T = 1), less
    pull/2 * |beta - the current parameters at beta's scale|^2, with its
    gradient and Hessian."""
    ll, grad, hess = 0.0, [0.0] * N, [[0.0] * N for _ in range(N)]
    for right, rows in groups:
        scores = [sum(beta[i] * a for i, a in row) for row in rows]
        low = min(scores)
        weights = [math.exp(low - s) for s in scores]
        total = sum(weights)
        ll += low - scores[right] - math.log(total)
        mean = [0.0] * N
        for row, wt in zip(rows, weights):
            p = wt / total
            for i, a in row:
                mean[i] += p * a
                for j, b in row:
                    hess[i][j] -= p * a * b
        for i, a in rows[right]:
            grad[i] -= a
        for i in range(N):
            grad[i] += mean[i]
            for j in range(N):
                hess[i][j] += mean[i] * mean[j]
    # The pull is toward STARTING scaled so that "other" agrees with beta's, so
    # it leaves the scale to the data and holds a parameter no data moves
    # (such as "case": the test sets are all lower case) at its current value.
    # (For "other" itself every term below is zero or cancels.)
    for i, c in enumerate(x / 10 for x in STARTING):
        r = beta[i] - c * beta[OTHER]
        ll -= pull / 2 * r * r
        grad[i], grad[OTHER] = grad[i] - pull * r, grad[OTHER] + pull * c * r
        hess[i][i] -= pull
        hess[i][OTHER] += pull * c
        hess[OTHER][i] += pull * c
        hess[OTHER][OTHER] -= pull * c * c
    return ll, grad, hess


def solve(a: list[list[float]], b: list[float]) -> list[float]:
    """a x = b by Gauss-Jordan elimination with partial pivoting (a is small)."""
    n, m = len(b), [row + [y] for row, y in zip(a, b)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        m[c] = [x / m[c][c] for x in m[c]]
        for r in range(n):
            if r != c:
                f = m[r][c]
                m[r] = [x - f * y for x, y in zip(m[r], m[c])]
    return [row[n] for row in m]


def maximise(beta: list[float], groups: list[Group], low: list[float]) -> list[float]:
    """Projected Newton with a backtracking line search; a parameter at its
    bound that the gradient pushes further out is held there."""
    for _ in range(60):
        f, g, h = objective(beta, groups, PULL)
        free = [i for i in range(N) if beta[i] > low[i] + 1e-12 or g[i] > 0]
        d = [0.0] * N
        for i, di in zip(free, solve([[-h[i][j] for j in free] for i in free], [g[i] for i in free])):
            d[i] = di
        t = 1.0
        while t > 1e-10:
            trial = [max(lo, b + t * di) for lo, b, di in zip(low, beta, d)]
            gain = sum(gi * (x - b) for gi, x, b in zip(g, trial, beta))
            if objective(trial, groups, PULL)[0] >= f + 1e-4 * gain:
                break
            t /= 2
        else:
            say("line search found no better point; stopping this round")
            return beta
        moved = max(abs(x - b) for x, b in zip(trial, beta))
        beta = trial
        if moved < 1e-7:
            break
    return beta


def best_scale(theta: list[float], groups: list[Group]) -> tuple[float, float]:
    """The 1/T that makes theta likeliest, and that log-likelihood: Newton in
    one variable, on a concave function."""
    tau = 0.3
    for _ in range(50):
        _, g, h = objective([tau * x for x in theta], groups)
        slope = sum(gi * x for gi, x in zip(g, theta))
        curve = sum(theta[i] * h[i][j] * theta[j] for i in range(N) for j in range(N))
        step = -slope / curve
        tau = max(tau + step, tau / 4)
        if abs(step) < 1e-10:
            break
    return tau, objective([tau * x for x in theta], groups)[0]


def accuracy(pairs: list[Pair], prices: Mapping[str, float], weight: float, sounds: bool, aligned: dict) -> float:
    """Top-1 accuracy: the key below is the twin's `ranked` (weighted) with
    these prices and weight, on costs aligned beforehand."""
    hits = 0
    for right, w, status, cands in pairs:
        if status != "fit":  # a miss: the typed word or a word with a value comes first
            continue

        def place(cand: tuple[str, int]) -> tuple:
            text, value = cand
            cost = aligned[text, w][0]
            if sounds and tm.sounds_alike(text, w):
                cost -= prices[BONUS]
            return (text != w, value == 0, cost - weight * math.log(value + 1), -value, text)

        hits += min(cands, key=place)[0] == right
    return hits / len(pairs)


def main() -> None:
    index = kelvaro.default_index()
    by_key: dict[str, list[tuple[str, int]]] = {}  # every stored word by its sound key
    for m in index.complete("", 0, None):
        key = tm.sound_key(m.word.casefold())
        if key is not None:
            by_key.setdefault(key, []).append((m.word.casefold(), m.value))
    sets = {}
    for name in ("testset1.txt", "testset2.txt"):
        raw = read_pairs(name)
        sets[name] = candidate_sets(index, by_key, raw)
        status = [p[2] for p in sets[name]]
        say(f"{name}: {len(raw)} pairs; right word not stored {len(raw) - len(status)}, typed another stored "
            f"word {status.count('stored typo')}, right word unreachable {status.count('unreachable')}")
    train = sets["testset1.txt"]

    # Scores and T trade off, so the fit runs on beta = parameters / T with
    # T = 1, where the log-likelihood is concave, and scales the result back
    # so that "other" is 10 tenths, as in PRICES.
    groups = design(train, align(train, dict(zip(KINDS, STARTING))))
    tau, ll_before = best_scale(STARTING, groups)
    say(f"starting parameters: 1/T = {tau:.4f} per tenth, log-likelihood {ll_before:.2f}")
    # Prices stay positive (above one tenth at the starting scale, about 0.4
    # at the fitted one); bonuses and the weight may reach zero.
    low = [0.0 if k in BONUSES else tau for k in KINDS] + [0.0]
    beta, theta = [tau * x for x in STARTING], STARTING
    for r in range(ROUNDS):
        beta = maximise(beta, groups, low)
        fitted = [x * 10 / beta[OTHER] for x in beta]
        change = max(abs(a - b) for a, b in zip(fitted, theta))
        theta = fitted
        say(f"round {r + 1}: 1/T = {beta[OTHER] / 10:.4f} per tenth, change {change:.4f}; "
            + " ".join(f"{x:.2f}" for x in theta))
        if change < 0.005:
            break
        groups = design(train, align(train, dict(zip(KINDS, theta))))

    # The native code takes whole tenths, a price at least one.
    new_prices = {k: round(x) if k in BONUSES else max(1, round(x)) for k, x in zip(KINDS, theta)}
    new_weight = round(theta[-1], 2)
    rounded = [float(new_prices[k]) for k in KINDS] + [new_weight]
    groups = design(train, align(train, new_prices))
    ll_after = best_scale(rounded, groups)[1]

    print(f"{'parameter':32} {'starting':>8} {'current':>8} {'fitted':>8} {'rounded':>8}")
    for k, s, a, b, c in zip(KINDS + ["FREQUENCY_WEIGHT"], STARTING, CURRENT, theta, rounded):
        digits = 2 if k == "FREQUENCY_WEIGHT" else 0
        print(f"{k:32} {s:8.{digits}f} {a:8.{digits}f} {b:8.2f} {c:8.{digits}f}")
    print(f"\nlog-likelihood on set 1 ({len(groups)} pairs, each at its best T): "
          f"starting {ll_before:.2f}, fitted (rounded) {ll_after:.2f}")
    print(f"\ntop-1 accuracy{'set 1':>21} {'set 2':>8}")
    versions = (
        ("starting", dict(zip(KINDS, STARTING)), STARTING[-1]),
        ("current", dict(zip(KINDS, CURRENT)), CURRENT[-1]),
        ("fitted", new_prices, new_weight),
    )
    for label, prices, weight in versions:
        aligned = align(train + sets["testset2.txt"], prices)
        for sounds in (True, False):
            row = [accuracy(pairs, prices, weight, sounds, aligned) for pairs in sets.values()]
            print(f"{label + ('' if sounds else ', no sound bonus'):27} {row[0]:8.1%} {row[1]:8.1%}")
        say(f"scored {label}")
    print("(of the pairs whose right word is stored; no sound bonus: the same candidates, bonuses 0)")


if __name__ == "__main__":
    main()
