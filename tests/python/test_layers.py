"""The include check that keeps the core readable bottom-up, and the imports between layers."""

from __future__ import annotations

import runpy
import subprocess
import sys
from pathlib import Path

import pytest

pytestmark = pytest.mark.python_only  # which modules import which, in fresh interpreters

ROOT = Path(__file__).resolve().parents[2]
offences = runpy.run_path(str(ROOT / "scripts" / "check_layers.py"))["offences"]


@pytest.mark.parametrize(
    ("path", "text", "expected"),
    [
        # Downward and same-folder includes are the normal case.
        ("search/a.cpp", '#include "packing/b.hpp"\n#include "search/c.hpp"\n', None),
        ("packing/b.hpp", '#include <vector>\n\n#include "search/a.hpp"\n', "packing/b.hpp:3: includes search/a.hpp"),
        ("problem/x.hpp", "#include <pybind11/pybind11.h>\n", "problem/x.hpp:1: includes pybind11/pybind11.h"),
        ("module/m.cpp", '#include <pybind11/pybind11.h>\n#include "search/a.hpp"\n', None),
        ("extra/e.cpp", "int x;\n", "folder 'extra' is on no layer"),
        ("search/a.cpp", '#include "nowhere/a.hpp"\n', "which is on no layer"),
    ],
)
def test_offences_name_file_and_line(tmp_path: Path, path: str, text: str, expected: str | None) -> None:
    source = tmp_path / "src" / path
    source.parent.mkdir(parents=True)
    source.write_text(text)
    found = offences(tmp_path / "src")
    if expected is None:
        assert found == []
    else:
        assert len(found) == 1 and expected in found[0]


@pytest.mark.parametrize("module", ["stowra.batch", "stowra.batch.worker", "stowra.service.app", "stowra.report"])
def test_the_packages_below_do_not_import_the_command_line(module: str) -> None:
    code = f"import sys, {module}; print('stowra.cli' in sys.modules)"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=120)
    assert done.stdout.strip() == "False"


@pytest.mark.parametrize("script", sorted(p.name for p in (ROOT / "bench").glob("[a-z]*.py")))
def test_every_benchmark_imports_what_it_uses(script: str) -> None:
    # Benchmarks share the tests' helpers: a helper removed or renamed there breaks them here,
    # not weeks later when a benchmark is next run.
    done = subprocess.run(
        [sys.executable, str(ROOT / "bench" / script), "--help"], capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
