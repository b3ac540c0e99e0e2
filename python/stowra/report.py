"""What a plan is read against: the boxes as placed, the container types, the weight resting
on each box and why an item was left out. :mod:`stowra.reading` builds the figures on these."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

__all__ = [
    "PlacedBox",
    "bin_types",
    "heavier_half_share",
    "left_out_reason",
    "overloaded",
    "placed_boxes",
    "resting_loads",
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
