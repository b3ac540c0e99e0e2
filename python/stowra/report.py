"""Reading a plan: placed sizes, left-out items and a text report a person can read."""

from __future__ import annotations

from collections import Counter
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from stowra.files import RowSource
from stowra.searches import DEFAULT_BALANCE_LIMIT

__all__ = [
    "PlacedBox",
    "bin_types",
    "container_figures",
    "container_mix",
    "container_warnings",
    "format_left_out",
    "format_report",
    "heavier_half_share",
    "left_out",
    "left_out_reason",
    "left_out_rows",
    "overloaded",
    "placed_boxes",
    "resting_loads",
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


def format_left_out(rows: Sequence[Mapping[str, Any]]) -> str:
    """``id 203 (x2) (items.csv line 7): reason; id 9 (...): reason``: the rows of
    ``left_out_rows`` on one line."""
    parts = []
    for row in rows:
        times = f" (x{row['count']})" if row["count"] > 1 else ""
        parts.append(f"id {row['id']}{times} ({row['source']}): {row['reason']}")
    return "; ".join(parts)


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


def heavier_half_share(
    container: Mapping[str, Any], items: Sequence[Mapping[str, Any]], length: float
) -> float | None:
    """Share of the container's cargo weight in the heavier half of its length; a box across
    the middle counts in each half by its length there. ``None`` when it carries no weight."""
    middle = length / 2
    total = back = 0.0
    for box in placed_boxes(container, items):
        weight = float(box.item.get("weight", 0) or 0)
        total += weight
        if box.dx > 0:
            back += weight * min(max(middle - box.x, 0.0), box.dx) / box.dx
    if not total > 0:
        return None
    return max(back, total - back) / total


def resting_loads(boxes: Sequence[PlacedBox]) -> list[float]:
    """The weight resting on each box: each box's weight, with what rests on it, is shared
    among the boxes whose top touches its bottom in proportion to the contact area."""
    touch = 1e-6  # positions are sums of sizes
    loads = [0.0] * len(boxes)
    # Highest bottoms first: a box's load is complete before it passes it down.
    for upper in sorted(range(len(boxes)), key=lambda index: -boxes[index].z):
        top = boxes[upper]
        if top.z <= touch:
            continue
        areas = {}
        for lower, box in enumerate(boxes):
            if abs(box.z + box.dz - top.z) > touch:
                continue
            along = min(box.x + box.dx, top.x + top.dx) - max(box.x, top.x)
            across = min(box.y + box.dy, top.y + top.dy) - max(box.y, top.y)
            if along > 0 and across > 0:
                areas[lower] = along * across
        carried = float(top.item.get("weight", 0) or 0) + loads[upper]
        for lower, area in areas.items():
            loads[lower] += carried * area / sum(areas.values())
    return loads


def overloaded(
    container: Mapping[str, Any], items: Sequence[Mapping[str, Any]]
) -> list[tuple[PlacedBox, float]]:
    """The boxes carrying more than their ``max_load``, each with the weight resting on it."""
    boxes = placed_boxes(container, items)
    found = []
    for box, load in zip(boxes, resting_loads(boxes), strict=True):
        limit = box.item.get("max_load")
        if limit is not None and load > float(limit) + 1e-9 * max(1.0, float(limit)):
            found.append((box, load))
    return found


def container_warnings(
    container: Mapping[str, Any],
    items: Sequence[Mapping[str, Any]],
    balance: float | None,
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
) -> list[str]:
    """Plain sentences on what a loading supervisor would refuse in this container."""
    from stowra.loading_list import factories_mixed  # the loading list builds on this module

    warnings = []
    if balance is not None and balance > balance_limit + 1e-9:
        warnings.append(
            f"{balance:.0%} of the cargo weight lies in one half of the length "
            f"(at most {balance_limit:.0%} is allowed)"
        )
    if factories_mixed(placed_boxes(container, items)):
        warnings.append(
            "factories mixed: goods of a later factory stand behind or under an earlier "
            "factory's, so the container cannot be loaded factory by factory"
        )
    over = overloaded(container, items)
    if over:
        listed = "; ".join(
            f"item {box.item.get('id')} carries {_number(load, 1)} kg "
            f"(max_load {_number(float(box.item['max_load']), 1)})"
            for box, load in over
        )
        warnings.append(f"loaded beyond their limit: {listed}")
    return warnings


def container_figures(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
) -> list[dict[str, Any]]:
    """The figures of every container a person checks: type, load, fill, weight against the
    limit (``None`` for no limit), centre of gravity and how far off centre it sits, as a
    fraction of the length and width (``None`` for an empty container), the share of the
    cargo weight in the heavier half of the length (``balance``, ``None`` for an empty
    container) and the container's warnings (``container_warnings``)."""
    types = bin_types(problem)
    items = problem["itemTable"]
    rows = []
    for container in result["packingTable"]:
        kind = types.get(container["binType"], {})
        limit = float(kind.get("weight_limit", 0) or 0)
        cx, cy, cz = (float(value) for value in container["centerOfGravity"])
        length, width = float(kind.get("l", 0) or 0), float(kind.get("w", 0) or 0)
        off = None
        if container["itemCount"] and length > 0 and width > 0:
            off = [(cx - length / 2) / length, (cy - width / 2) / width]
        # optimize's rows carry their own figure; pack's are measured here.
        if "balance" in container:
            balance = container["balance"]
        else:
            balance = heavier_half_share(container, items, length) if container["items"] else None
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
                "balance": balance,
                "warnings": container_warnings(container, items, balance, balance_limit),
            }
        )
    return rows


def _holds(kind: Mapping[str, Any], item: Mapping[str, Any]) -> bool:
    """Whether an empty container of this type holds the item upright, turned or not (items
    longer than a container is wide are never turned)."""
    l, w, h = (float(item.get(key, 0) or 0) for key in ("l", "w", "h"))
    turns = [(l, w)] + ([(w, l)] if l <= 234 else [])
    return h <= float(kind["h"]) and any(
        along <= float(kind["l"]) and across <= float(kind["w"]) for along, across in turns
    )


def left_out_reason(item: Mapping[str, Any], problem: Mapping[str, Any], search: str) -> str:
    """Why an item was left out, in a planner's words."""
    types = list(bin_types(problem).values())
    weight = float(item.get("weight", 0) or 0)

    def carries(kind: Mapping[str, Any]) -> bool:
        limit = float(kind.get("weight_limit", 0) or 0)
        return limit <= 0 or weight <= limit

    if not any(_holds(kind, item) for kind in types):
        return "no available container holds it upright"
    if not any(carries(kind) for kind in types):
        return "heavier than every available container's weight limit"
    holding = [kind for kind in types if _holds(kind, item) and carries(kind)]
    if not holding:
        return "the containers that hold it cannot carry its weight"
    if search == "exact" and all(kind not in types[:2] for kind in holding):
        return "only a container type the exact search does not open holds it"
    return "no room left within the weight limits of the containers the plan could afford, or the time limit"


def left_out_rows(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
    search: str = "optimize",
) -> list[dict[str, Any]]:
    """The left-out items grouped by the row they came from and the reason: ``id``,
    ``source``, ``count`` and ``reason``, in item order. The reasons optimize's result gives
    are taken as they are; the rest are worked out here."""
    items = problem["itemTable"]
    given = {row["itemIndex"]: row["reason"] for row in result.get("leftOut", ())}
    groups: dict[tuple[Any, str, str], int] = {}
    for index in left_out(result, len(items)):
        source = _source(sources, index)
        where = source.where() if source is not None else f"itemTable[{index}]"
        reason = given.get(index) or left_out_reason(items[index], problem, search)
        key = (items[index].get("id"), where, reason)
        groups[key] = groups.get(key, 0) + 1
    return [
        {"id": item_id, "source": where, "count": count, "reason": reason}
        for (item_id, where, reason), count in groups.items()
    ]


def format_report(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
    title: str | None = None,
    show_left_out: bool = True,
    search: str = "optimize",
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
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
            "heavier half",
        ]
    ]
    warnings = []
    for figures in container_figures(result, problem, balance_limit):
        warnings += [f"Container {figures['id']}: {text}" for text in figures["warnings"]]
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
                f"{figures['balance']:.0%}" if figures["balance"] is not None else "-",
            ]
        )
    lines = [title] if title else []
    if len(rows) > 1:
        lines += _table(rows, right={0, 2, 3, 7})
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
    lines += warnings
    if missing and show_left_out:
        lines.append(f"Left out: {len(missing)} item{'s' if len(missing) != 1 else ''}:")
        lines += [
            "  " + format_left_out([row]) for row in left_out_rows(result, problem, sources, search)
        ]
    return "\n".join(lines) + "\n"
