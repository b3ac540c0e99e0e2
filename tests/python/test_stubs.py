"""The hand-written type stubs must describe the compiled module as it is."""

from __future__ import annotations

import ast
import inspect
from pathlib import Path

import pytest

import stowra
from stowra import _core

STUB = Path(stowra.__file__).with_name("_core.pyi")


def stub_functions() -> dict[str, ast.FunctionDef]:
    tree = ast.parse(STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_stub_lists_every_public_function() -> None:
    public = {name for name, value in vars(_core).items() if callable(value) and not name.startswith("_")}
    assert set(stub_functions()) == public


def test_stub_signatures_match_the_binding() -> None:
    for name, node in stub_functions().items():
        # The binding writes its signature as the first docstring line.
        first_line = inspect.getdoc(getattr(_core, name)).splitlines()[0]
        parameters = first_line[first_line.index("(") + 1 : first_line.rindex(") ->")].split(", ")
        bound = [(part.split(":")[0], part.partition(" = ")[2]) for part in parameters]
        args = node.args
        defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
        # The binding marks keyword-only arguments with a bare *.
        named = [*zip(args.args, defaults, strict=True)] + [(ast.arg("*"), None)] * bool(args.kwonlyargs)
        named += zip(args.kwonlyargs, args.kw_defaults, strict=True)
        assert bound == [(arg.arg, "" if default is None else ast.unparse(default)) for arg, default in named]


def stub_shapes() -> dict[str, set[str]]:
    """The keys of each TypedDict the stub declares, its bases' keys included."""
    shapes: dict[str, set[str]] = {}
    for node in ast.parse(STUB.read_text()).body:
        if isinstance(node, ast.ClassDef):
            fields = [field.target for field in node.body if isinstance(field, ast.AnnAssign)]
            keys = {target.id for target in fields if isinstance(target, ast.Name)}
            for base in node.bases:
                keys |= shapes.get(ast.unparse(base), set())
            shapes[node.name] = keys
    return shapes


@pytest.mark.parametrize(
    "search, top, row",
    [("pack", "PackResult", "ContainerRow"), ("optimize", "OptimizeResult", "OptimizedContainerRow")],
)
def test_stub_shapes_match_the_results(search: str, top: str, row: str) -> None:
    # A box too heavy for the container is left out, so optimize lists one.
    items = [
        dict(id=n, l=60.0, w=40.0, h=30.0, weight=weight, factory=1, stackable=True)
        for n, weight in ((1, 10.0), (2, 9e4))
    ]
    bins = [dict(id="20GP", l=590.0, w=234.0, h=239.0, cost=1500, weight_limit=28000.0, available=True)]
    run = {
        "pack": lambda p: _core.pack(p, pop_size=2, generations=1, threads=1),
        "optimize": lambda p: _core.optimize(p, effort=0, threads=1),
    }
    result = run[search]({"itemTable": items, "binTable": bins})
    shapes = stub_shapes()
    assert set(result) == shapes[top]
    assert {frozenset(container) for container in result["packingTable"]} == {frozenset(shapes[row])}
    placements = [placement for container in result["packingTable"] for placement in container["items"]]
    assert [set(placement) for placement in placements] == [shapes["Placement"]]
    if "leftOut" in shapes[top]:
        assert [set(entry) for entry in result["leftOut"]] == [shapes["LeftOutItem"]]
