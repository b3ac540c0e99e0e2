"""The built-in example shipment, and the files ``stowra example`` writes from it.

A mixed export load in centimetres and kilograms: cartons and pallets from three factories
(household appliances, furniture, textiles), for 20GP and 40GP containers.
"""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any, Final, Literal

from stowra.atomic_write import replacing

__all__ = [
    "DEMO_SEARCH",
    "EXAMPLE_BINS",
    "EXAMPLE_ITEMS",
    "example_csv",
    "example_json",
    "example_workbook",
    "write_example",
]

_ITEM_KEYS: Final = ("id", "l", "w", "h", "weight", "factory", "stackable", "quantity")
_BIN_KEYS: Final = ("id", "l", "w", "h", "cost", "weight_limit", "available")

# id, l, w, h (cm), weight (kg), factory, stackable, quantity
EXAMPLE_ITEMS: Final[list[dict[str, Any]]] = [
    dict(zip(_ITEM_KEYS, row, strict=True))
    for row in (
        (101, 60, 45, 40, 16, 1, True, 90),  # microwave ovens
        (102, 65, 62, 90, 72, 1, True, 24),  # washing machines
        (103, 70, 68, 185, 78, 1, False, 12),  # fridges, upright, nothing on top
        (201, 200, 60, 15, 45, 2, True, 30),  # flat-pack wardrobes
        (202, 120, 80, 110, 850, 2, True, 8),  # Euro pallets of floor tiles
        (203, 215, 95, 85, 60, 2, False, 6),  # sofas
        (301, 58, 38, 40, 14, 3, True, 120),  # garment cartons
        (302, 120, 100, 130, 520, 3, False, 6),  # pallets of fabric rolls
    )
]

# id, inner l, w, h (cm), cost, weight limit (kg), available
EXAMPLE_BINS: Final[list[dict[str, Any]]] = [
    dict(zip(_BIN_KEYS, row, strict=True))
    for row in (
        ("20GP", 590, 234, 239, 1500, 28000, True),
        ("40GP", 1203, 234, 239, 2400, 26700, True),
        ("40HC", 1203, 234, 269, 2600, 26500, False),
    )
]

# Settings of `stowra demo`: small enough to finish within seconds on two cores; the generation
# count, not the time limit, ends the search, so the demo gives the same plan every run.
DEMO_SEARCH: Final[dict[str, Any]] = {
    "pop_size": 60,
    "generations": 60,
    "time_limit": 50.0,
    "threads": 0,
    "seed": 42,
}


def example_json() -> str:
    """The example as a JSON shipment, one row per line so line numbers point at rows."""

    def rows(table: list[dict[str, Any]]) -> str:
        return ",\n".join("    " + json.dumps(row) for row in table)

    return (
        '{\n  "itemTable": [\n'
        + rows(EXAMPLE_ITEMS)
        + '\n  ],\n  "binTable": [\n'
        + rows(EXAMPLE_BINS)
        + "\n  ]\n}\n"
    )


def _csv(keys: tuple[str, ...], table: list[dict[str, Any]]) -> str:
    def cell(value: Any) -> str:
        return str(value).lower() if isinstance(value, bool) else str(value)

    lines = [",".join(keys)] + [",".join(cell(row[key]) for key in keys) for row in table]
    return "\n".join(lines) + "\n"


def example_csv() -> dict[str, str]:
    """The example as CSV files plus a TOML shipment file naming them."""
    return {
        "items.csv": _csv(_ITEM_KEYS, EXAMPLE_ITEMS),
        "containers.csv": _csv(_BIN_KEYS, EXAMPLE_BINS),
        "shipment.toml": (
            "# Pack with: stowra pack shipment.toml\n"
            'items = "items.csv"\n'
            'containers = "containers.csv"\n'
        ),
    }


def example_workbook() -> bytes:
    """The example as an Excel workbook: sheets ``items`` and ``containers`` (needs openpyxl)."""
    from stowra.files.excel import workbook_bytes

    return workbook_bytes(
        {"itemTable": (_ITEM_KEYS, EXAMPLE_ITEMS), "binTable": (_BIN_KEYS, EXAMPLE_BINS)}
    )


def write_example(
    directory: Path, file_format: Literal["json", "csv", "xlsx"], force: bool = False
) -> list[Path]:
    """Write the example shipment into ``directory``; refuses to overwrite unless ``force``."""
    files: dict[str, str | bytes]
    if file_format == "json":
        files = {"shipment.json": example_json()}
    elif file_format == "xlsx":
        files = {"shipment.xlsx": example_workbook()}
    else:
        files = dict(example_csv())
    paths = [directory / name for name in files]
    existing = [path for path in paths if path.exists()]
    if existing and not force:
        raise FileExistsError(f"{existing[0]} exists (use --force to overwrite)")
    directory.mkdir(parents=True, exist_ok=True)
    for path, content in zip(paths, files.values(), strict=True):
        with replacing(path) as temporary:
            temporary.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
    return paths
