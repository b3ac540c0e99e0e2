"""Fails when a folder of src/ includes from a folder above it, or when pybind11 leaks out of
the binding.

The core reads bottom-up: each layer may include its own folder and the layers below it, never
one above. Folders on the same layer do not include each other. Only src/module sees pybind11.
Prints one line per offence, naming the file and line, and exits with status 1.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# Bottom to top. The one place this order is written down (the README's layout section
# describes it).
LAYERS: list[tuple[str, ...]] = [
    ("problem",),  # input records and their checks
    ("packing",),  # bins, free spaces, placement, the decoder
    ("candidate",),  # the individual, its fitness, the random draws
    ("variation",),  # initial population, crossover, mutation, normalisation
    ("search",),  # the genetic search: driver, selection, parallel evaluation, progress lines
    ("optimize",),  # the plan search behind optimize: type choice, improvement steps, rounds
    ("module",),  # the Python binding: tables in, result dict out
]
BINDING = "module"

_INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(folder: str) -> int | None:
    for level, folders in enumerate(LAYERS):
        if folder in folders:
            return level
    return None


def offences(src: Path) -> list[str]:
    found: list[str] = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".cpp", ".hpp", ".h"}:
            continue
        relative = path.relative_to(src)
        folder = relative.parts[0] if len(relative.parts) > 1 else ""
        level = layer_of(folder)
        where = path.relative_to(src.parent)
        if level is None:
            found.append(
                f"{where}: folder '{folder}' is on no layer; add it to {Path(__file__).name}"
            )
            continue
        lines = path.read_text(encoding="utf-8").splitlines()
        for number, line in enumerate(lines, start=1):
            match = _INCLUDE.match(line)
            if not match:
                continue
            target = match.group(2)
            if target.startswith("pybind11/") or target == "pybind11.h":
                if folder != BINDING:
                    found.append(f"{where}:{number}: includes {target}, only src/{BINDING} may")
                continue
            if match.group(1) != '"':
                continue
            target_folder = target.split("/")[0] if "/" in target else folder
            target_level = layer_of(target_folder)
            if target_level is None:
                found.append(f"{where}:{number}: includes {target}, which is on no layer")
            elif target_folder != folder and target_level >= level:
                relation = "above" if target_level > level else "beside"
                found.append(
                    f"{where}:{number}: includes {target} from src/{target_folder}, "
                    f"a layer {relation} src/{folder}"
                )
    return found


def main(argv: list[str]) -> int:
    src = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "src"
    problems = offences(src)
    for line in problems:
        print(line, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
