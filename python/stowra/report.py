"""What a plan is read against: the container types, and the balance of the boxes as placed.
:mod:`stowra.reading` builds the figures on these; the loading rules (the weight resting on
each box among them) and why an item was left out come from the core."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from stowra.reading import Step

__all__ = ["bin_types", "heavier_half_share"]


def bin_types(problem: Mapping[str, Any]) -> dict[str, Mapping[str, Any]]:
    """Available container types by name; the first row wins when a name repeats. Rows without
    a name are left to ``pack`` to refuse."""
    types: dict[str, Mapping[str, Any]] = {}
    for row in problem.get("binTable", []):
        if row.get("available", False) and "id" in row:
            types.setdefault(str(row["id"]), row)
    return types


def heavier_half_share(boxes: Sequence[Step], length: float) -> float | None:
    """Share of the container's cargo weight in the heavier half of its length; a box across
    the middle counts in each half by its length there. ``None`` when it carries no weight."""
    middle = length / 2
    total = back = 0.0
    for box in boxes:
        total += box.weight
        if box.dx > 0:
            back += box.weight * min(max(middle - box.x, 0.0), box.dx) / box.dx
    if not total > 0:
        return None
    return max(back, total - back) / total
