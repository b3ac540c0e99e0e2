"""The hand-written type stubs must describe the compiled module as it is."""

from __future__ import annotations

import ast
import inspect
from pathlib import Path

import pytest

import stowra
from stowra import _core

pytestmark = pytest.mark.python_only  # the stub file against the binding's docstrings

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
