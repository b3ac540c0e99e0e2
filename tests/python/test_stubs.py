"""The hand-written type stubs must describe the compiled module as it is."""

from __future__ import annotations

import ast
import functools
import inspect
import types
import typing
from pathlib import Path
from typing import Any

import pytest
from problems import item, problem

import stowra
from stowra import _core
from stowra.examples import EXAMPLE_BINS

pytestmark = pytest.mark.python_only  # the stub file against the binding's docstrings

STUB = Path(stowra.__file__).with_name("_core.pyi")


def stub_functions() -> dict[str, ast.FunctionDef]:
    tree = ast.parse(STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_the_stub_names_every_public_function_and_constant() -> None:
    public = {name: callable(value) for name, value in vars(_core).items() if not name.startswith("_")}
    body = ast.parse(STUB.read_text()).body
    stubbed = {node.target.id: False for node in body if isinstance(node, ast.AnnAssign)}
    stubbed |= {name: True for name in stub_functions() if not name.startswith("_")}
    assert {name: kind for name, kind in stubbed.items() if name != "__version__"} == public


def bound_parameters(name: str) -> list[tuple[str, str]]:
    """The binding's parameters of ``name``, with their defaults as written ("" for none): the
    binding writes its signature as the first docstring line."""
    first_line = inspect.getdoc(getattr(_core, name)).splitlines()[0]
    parameters = first_line[first_line.index("(") + 1 : first_line.rindex(") ->")].split(", ")
    return [(part.split(":")[0], part.partition(" = ")[2]) for part in parameters]


def test_stub_signatures_match_the_binding() -> None:
    for name, node in stub_functions().items():
        bound = bound_parameters(name)
        args = node.args
        defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
        # The binding marks keyword-only arguments with a bare *.
        named = [*zip(args.args, defaults, strict=True)] + [(ast.arg("*"), None)] * bool(args.kwonlyargs)
        named += zip(args.kwonlyargs, args.kw_defaults, strict=True)
        assert bound == [(arg.arg, "" if default is None else ast.unparse(default)) for arg, default in named]


def test_the_option_table_gives_each_search_the_core_s_own_defaults() -> None:
    # A caller of pack or optimize that sets nothing gets what every front end offers.
    from stowra.searches import OPTIONS

    for search, name in (("exact", "pack"), ("optimize", "optimize")):
        bound = {key: ast.literal_eval(default) for key, default in bound_parameters(name) if default}
        table = {o.name: o.default_for(search) for o in OPTIONS if search in o.searches}
        assert table == {key: bound[key] for key in table}


def test_the_version_is_the_one_the_package_was_built_with() -> None:
    from importlib.metadata import version

    assert stowra.__version__ == _core.__version__ == version("stowra")


@functools.cache
def _stub_types() -> dict[str, Any]:
    namespace: dict[str, Any] = {}
    exec(compile(STUB.read_text(), str(STUB), "exec", dont_inherit=True), namespace)  # a stub is Python
    return namespace


def _matches(value: Any, kind: Any, where: str) -> list[str]:
    """Where ``value`` is not of the stub's ``kind``: keys missing or extra, or a wrong type."""
    if typing.is_typeddict(kind):
        hints = typing.get_type_hints(kind, globalns=_stub_types())
        if not isinstance(value, dict) or set(value) != set(hints):
            return [f"{where}: keys {sorted(value) if isinstance(value, dict) else value!r}, stub {sorted(hints)}"]
        return [found for key, hint in hints.items() for found in _matches(value[key], hint, f"{where}.{key}")]
    origin, args = typing.get_origin(kind), typing.get_args(kind)
    if origin is typing.Literal:
        return [] if value in args else [f"{where}: {value!r} is none of {args}"]
    if origin in (typing.Union, types.UnionType):
        return [] if any(not _matches(value, arg, where) for arg in args) else [f"{where}: {value!r} is not a {kind}"]
    if origin is list:
        return [found for i, item in enumerate(value) for found in _matches(item, args[0], f"{where}[{i}]")]
    if origin is tuple:
        if not isinstance(value, tuple) or len(value) != len(args):
            return [f"{where}: {value!r} is not a {kind}"]
        return [found for i, item in enumerate(value) for found in _matches(item, args[i], f"{where}[{i}]")]
    exact = type(value) is kind or (kind is float and type(value) is int)
    return [] if exact else [f"{where}: {value!r} is not a {kind.__name__}"]


@pytest.mark.parametrize(
    "name, options",
    [("pack", {"pop_size": 4, "generations": 2}), ("optimize", {"effort": 0})],
)
def test_the_stub_s_result_types_describe_a_real_result(name: str, options: dict[str, Any]) -> None:
    # Twelve cartons over two 20-foot containers, each with several; and one too heavy for them,
    # which optimize lists as left out.
    cartons = [item(i, l=120, w=100, h=140, weight=300, stackable=False) for i in range(12)]
    load = problem(items=[*cartons, item(12, weight=9e4)], bins=EXAMPLE_BINS[:1])
    reports: list[Any] = []
    if name == "optimize":
        options = {**options, "progress": reports.append}
    result = getattr(_core, name)(load, threads=1, seed=3, **options)
    assert len(result["packingTable"]) > 1
    hints = typing.get_type_hints(_stub_types()[name], globalns=_stub_types())
    assert _matches(result, hints["return"], name) == []
    if name == "optimize":
        assert [entry["itemIndex"] for entry in result["leftOut"]] == [12]
        # Effort 0: the scored starts, the improvement, the end.
        assert [report["stage"] for report in reports] == ["start", "improve", "done"]
        kind = typing.get_args(typing.get_args(hints["progress"])[0])[0][0]
        assert [wrong for r in reports for wrong in _matches(r, kind, "progress")] == []
        # The checker's breaches, of a plan with its first container's items pushed up.
        for placement in result["packingTable"][0]["items"]:
            placement["z"] += 1.0
        found = _core.check_plan(load, result)
        kind = typing.get_type_hints(_stub_types()["check_plan"], globalns=_stub_types())["return"]
        assert found and _matches(found, kind, "check_plan") == []
