"""What a plan is read against: the boxes as placed and the container types.
:mod:`stowra.reading` builds the figures on these; the loading rules (the weight resting on
each box among them) and why an item was left out come from the core."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

__all__ = [
    "PlacedBox",
    "bin_types",
    "heavier_half_share",
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
