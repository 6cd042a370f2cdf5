"""The bench's scripts and modules import one another without a cycle,
counting imports inside functions too: the sections take their helpers from
modules that import no section, and only the driver imports the sections."""

import ast
from pathlib import Path

BENCH = Path(__file__).resolve().parent.parent / "bench"


def bench_imports(folder=BENCH):
    """Each bench module's imports of the other bench modules."""
    modules = {path.stem: path for path in folder.glob("*.py")}
    graph = {}
    for name, path in modules.items():
        found = set()
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Import):
                found.update(alias.name.split(".")[0] for alias in node.names)
            elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
                found.add(node.module.split(".")[0])
        graph[name] = found & modules.keys() - {name}
    return graph


def import_cycle(graph):
    """One cycle of the graph, as the names along it, or None."""
    done, path = set(), []

    def visit(name):
        path.append(name)
        for other in sorted(graph[name]):
            if other in path:
                return path[path.index(other):] + [other]
            if other not in done:
                found = visit(other)
                if found:
                    return found
        path.pop()
        done.add(name)
        return None

    for name in sorted(graph):
        if name not in done:
            found = visit(name)
            if found:
                return found
    return None


def test_bench_modules_import_without_a_cycle():
    graph = bench_imports()
    # The driver's own imports are read, so an empty or moved folder fails here.
    assert {"bench_memory", "bench_spelling", "bench_text"} <= graph["benchmark"]
    cycle = import_cycle(graph)
    assert cycle is None, "import cycle: " + " -> ".join(cycle)


def test_a_cycle_through_an_import_inside_a_function_is_found(tmp_path):
    (tmp_path / "driver.py").write_text("import section\n")
    (tmp_path / "section.py").write_text("def rows():\n    from driver import helper\n")
    (tmp_path / "leaf.py").write_text("import os\n")
    assert import_cycle(bench_imports(tmp_path)) == ["driver", "section", "driver"]
