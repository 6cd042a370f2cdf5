"""The pieces of BENCHMARKS.md: times, ratios, tables and an issue's targets."""
import time


def time_text(seconds):
    if seconds != seconds:
        return "–"
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def times_text(value):
    if value != value:
        return "–"
    if value >= 100:
        return f"{value:,.0f}×"
    return f"{value:.3g}×"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return lines + [""]


class Targets:
    """One issue's targets: what was asked, what was measured, whether it was met."""

    def __init__(self):
        self.rows = []

    def add(self, target, measured, met):
        self.rows.append((target, measured, "not available" if met is None else "yes" if met else "no"))

    def lines(self):
        return table(["target", "measured", "met"], self.rows)


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", flush=True)
