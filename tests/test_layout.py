"""The layout holds: no module of the package or the bench imports another
that imports it back (imports inside functions counted), and no native
source includes a file of a folder above its own."""

import ast
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BENCH = ROOT / "bench"
PACKAGE = ROOT / "src" / "kelvaro"

# The native folders, lowest first: a file may include files of its own
# folder and of folders before it. _kelvaro's trie and walks come first,
# since the index's folded trie is walked by them; lib, the C-API glue, is
# used by both modules' bindings and uses only _kelvaro's core.
NATIVE_ORDER = ["bits", "prefix", "codec", "folded", "build", "search", "format", "index", "text", "lib", "binding"]


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


def package_imports(folder=PACKAGE):
    """Each module of the package's imports of its other modules, relative
    imports resolved (a package stands for its __init__)."""
    modules = {}
    for path in folder.rglob("*.py"):
        parts = path.relative_to(folder).with_suffix("").parts
        name = ".".join(parts[:-1] if parts[-1] == "__init__" else parts)
        modules[name] = (path, parts[-1] == "__init__")
    graph = {}
    for name, (path, is_package) in modules.items():
        here = name.split(".") if name else []
        if not is_package:
            here = here[:-1]
        found = set()
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if not isinstance(node, ast.ImportFrom) or not node.level:
                continue
            base = here[: len(here) - (node.level - 1)] if node.level > 1 else here
            target = base + (node.module.split(".") if node.module else [])
            for alias in node.names:
                # `from . import _native_index` names a native module,
                # which is no edge; `from .x import y` imports x.
                candidates = [".".join(target + [alias.name])]
                if node.module:
                    candidates.append(".".join(target))
                found.update([c for c in candidates if c in modules][:1])
        graph[name] = found - {name}
    return graph


def native_includes():
    """(file, folder it includes from) for every project include under src/."""
    pattern = re.compile(r'^#include "([a-z_]+)/', re.MULTILINE)
    for path in (ROOT / "src").rglob("*"):
        if path.suffix in (".h", ".cpp", ".inc"):
            for folder in pattern.findall(path.read_text(encoding="utf-8")):
                yield path, folder


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


def test_package_modules_import_without_a_cycle():
    graph = package_imports()
    assert "_cli.check" in graph
    assert {"_text", "_storage"} <= graph["_index"]
    cycle = import_cycle(graph)
    assert cycle is None, "import cycle: " + " -> ".join(cycle)


def test_no_native_file_includes_a_folder_above_its_own():
    upward = []
    for path, folder in native_includes():
        own = path.relative_to(ROOT / "src").parts[0]
        assert own in NATIVE_ORDER and folder in NATIVE_ORDER, (path, folder)
        if NATIVE_ORDER.index(folder) > NATIVE_ORDER.index(own):
            upward.append(f"{path.relative_to(ROOT)} includes {folder}/")
    assert upward == []
