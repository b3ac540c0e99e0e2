"""Reading a plan: placed sizes, left-out items and a text report a person can read."""

from __future__ import annotations

from collections import Counter
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from stowra.files import RowSource

__all__ = [
    "PlacedBox",
    "bin_types",
    "container_figures",
    "container_mix",
    "format_left_out",
    "format_report",
    "left_out",
    "left_out_rows",
    "placed_boxes",
    "unused_types_note",
]


@dataclass(frozen=True)
class PlacedBox:
    """A placed item and its size as placed: ``dx`` along the length, ``dy`` across, ``dz`` up."""

    index: int
    x: float
    y: float
    z: float
    dx: float
    dy: float
    dz: float
    rotation: int
    item: Mapping[str, Any]


def placed_boxes(
    container: Mapping[str, Any], items: Sequence[Mapping[str, Any]]
) -> list[PlacedBox]:
    """The boxes of one packingTable row, in placing order."""
    boxes = []
    for placement in container["items"]:
        item = items[placement["itemIndex"]]
        rotation = int(placement["rotation"])
        # Rotation 0 keeps the item's length along the container; any other turns it a quarter.
        dx, dy = (item["l"], item["w"]) if rotation == 0 else (item["w"], item["l"])
        boxes.append(
            PlacedBox(
                index=placement["itemIndex"],
                x=float(placement["x"]),
                y=float(placement["y"]),
                z=float(placement["z"]),
                dx=float(dx),
                dy=float(dy),
                dz=float(item["h"]),
                rotation=rotation,
                item=item,
            )
        )
    return boxes


def bin_types(problem: Mapping[str, Any]) -> dict[str, Mapping[str, Any]]:
    """Available container types by name; the first row wins when a name repeats. Rows without
    a name are left to ``pack`` to refuse."""
    types: dict[str, Mapping[str, Any]] = {}
    for row in problem.get("binTable", []):
        if row.get("available", False) and "id" in row:
            types.setdefault(str(row["id"]), row)
    return types


def unused_types_note(problem: Mapping[str, Any]) -> str | None:
    """Which available container types the search will not open, if any (it opens two)."""
    available = list(bin_types(problem))
    if len(available) <= 2:
        return None
    return (
        f"the search opens only the first two available container types "
        f"({', '.join(available[:2])}); {', '.join(available[2:])} will not be used"
    )


def left_out(result: Mapping[str, Any], item_count: int) -> list[int]:
    """Item indices that no container holds, in item order."""
    placed = {p["itemIndex"] for row in result["packingTable"] for p in row["items"]}
    return [index for index in range(item_count) if index not in placed]


def container_mix(result: Mapping[str, Any]) -> str:
    """``1 x 20GP, 2 x 40GP``: how many containers of each type the plan loads, by name."""
    by_type = Counter(str(container["binType"]) for container in result["packingTable"])
    return ", ".join(f"{count} x {name}" for name, count in sorted(by_type.items()))


def _source(sources: Sequence[RowSource] | None, index: int) -> RowSource | None:
    return sources[index] if sources is not None and index < len(sources) else None


def format_left_out(
    indices: Sequence[int],
    items: Sequence[Mapping[str, Any]],
    sources: Sequence[RowSource] | None = None,
) -> str:
    """``id 203 (x2) (items.csv line 7), id 9 (...)``: left-out items grouped by their row."""
    groups: Counter[tuple[Any, str]] = Counter()
    for index in indices:
        source = _source(sources, index)
        where = source.where() if source is not None else f"itemTable[{index}]"
        groups[(items[index].get("id"), where)] += 1
    parts = []
    for (item_id, where), count in groups.items():
        times = f" (x{count})" if count > 1 else ""
        parts.append(f"id {item_id}{times} ({where})")
    return ", ".join(parts)


def _number(value: float, decimals: int = 0) -> str:
    return f"{value:,.{decimals}f}"


def _table(rows: list[list[str]], right: set[int]) -> list[str]:
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    lines = []
    for row in rows:
        cells = [
            cell.rjust(width) if column in right else cell.ljust(width)
            for column, (cell, width) in enumerate(zip(row, widths, strict=True))
        ]
        lines.append("  ".join(cells).rstrip())
    return lines


def container_figures(
    result: Mapping[str, Any], problem: Mapping[str, Any]
) -> list[dict[str, Any]]:
    """The figures of every container a person checks: type, load, fill, weight against the
    limit (``None`` for no limit), centre of gravity and how far off centre it sits, as a
    fraction of the length and width (``None`` for an empty container)."""
    types = bin_types(problem)
    rows = []
    for container in result["packingTable"]:
        kind = types.get(container["binType"], {})
        limit = float(kind.get("weight_limit", 0) or 0)
        cx, cy, cz = (float(value) for value in container["centerOfGravity"])
        length, width = float(kind.get("l", 0) or 0), float(kind.get("w", 0) or 0)
        off = None
        if container["itemCount"] and length > 0 and width > 0:
            off = [(cx - length / 2) / length, (cy - width / 2) / width]
        rows.append(
            {
                "id": container["id"],
                "type": str(container["binType"]),
                "items": container["itemCount"],
                "fill": float(container["spaceUtilization"]),
                "weight": float(container["currentWeight"]),
                "weightLimit": limit if limit > 0 else None,
                "centerOfGravity": [cx, cy, cz],
                "offCentre": off,
            }
        )
    return rows


def left_out_rows(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
) -> list[dict[str, Any]]:
    """One dict per left-out item: its index in ``itemTable``, its id and the row it came from."""
    items = problem["itemTable"]
    rows = []
    for index in left_out(result, len(items)):
        source = _source(sources, index)
        rows.append(
            {
                "itemIndex": index,
                "id": items[index].get("id"),
                "source": source.where() if source is not None else f"itemTable[{index}]",
            }
        )
    return rows


def format_report(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
    title: str | None = None,
    show_left_out: bool = True,
) -> str:
    """The plan as a table: one line per container, then the totals and any left-out items."""
    items = problem["itemTable"]
    rows = [
        [
            "#",
            "type",
            "items",
            "fill",
            "weight / limit",
            "centre of gravity x, y, z",
            "off centre (length, width)",
        ]
    ]
    for figures in container_figures(result, problem):
        limit = figures["weightLimit"]
        cx, cy, cz = figures["centerOfGravity"]
        off = figures["offCentre"]
        rows.append(
            [
                str(figures["id"]),
                figures["type"],
                str(figures["items"]),
                f"{figures['fill']:.1%}",
                f"{_number(figures['weight'])} / {_number(limit) if limit else 'no limit'}",
                f"{cx:.0f}, {cy:.0f}, {cz:.0f}",
                f"{off[0]:+.1%}, {off[1]:+.1%}" if off else "-",
            ]
        )
    lines = [title] if title else []
    if len(rows) > 1:
        lines += _table(rows, right={0, 2, 3})
    else:
        lines.append("No containers were loaded.")

    mix = container_mix(result)
    missing = left_out(result, len(items))
    placed = len(items) - len(missing)
    count = len(result["packingTable"])
    lines.append(
        f"Total: {count} container{'s' if count != 1 else ''}"
        + (f" ({mix})" if mix else "")
        + f", cost {_number(float(result['cost']), 2 if float(result['cost']) % 1 else 0)}"
        + f", utilization {float(result['utilization']):.1%}"
        + f", {placed} of {len(items)} items placed"
        + f", search {float(result['elapsedSeconds']):.1f} s"
    )
    if missing and show_left_out:
        lines.append(
            f"Left out: {len(missing)} item{'s' if len(missing) != 1 else ''}: "
            + format_left_out(missing, items, sources)
        )
    return "\n".join(lines) + "\n"
