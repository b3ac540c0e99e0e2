"""The loading list: every placed item in an order a crew can load it, container by container.

The search places items in whatever order its decoder tries them, which can put a box behind
or under one placed earlier. The list instead goes factory by factory (the stops where the
goods are picked up, in ascending number) and, within a factory, from the back wall (x = 0)
towards the door (x = container length), bottom up, never before the boxes it stands on or
the boxes it would block. A container whose plan stands a later factory's goods behind or
under an earlier one's keeps that loadable order across factories, and its rows say that the
factories are mixed.
"""

from __future__ import annotations

import csv
import heapq
import io
from collections.abc import Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any

from stowra.atomic_write import replacing
from stowra.csv_cells import safe_rows

if TYPE_CHECKING:
    from stowra.reading import Reading, Step

__all__ = [
    "LOADING_LIST_COLUMNS",
    "MIXED_NOTE",
    "loading_list_text",
    "loading_order",
    "loading_rows",
    "write_loading_list",
]

LOADING_LIST_COLUMNS = (
    "container",
    "container_type",
    "step",
    "item_id",
    "line",
    "x",
    "y",
    "z",
    "size_x",
    "size_y",
    "size_z",
    "rotation",
    "factory",
    "note",
)

MIXED_NOTE = "factories mixed in this container: load in this order, not factory by factory"


def _overlap(a0: float, a1: float, b0: float, b1: float) -> bool:
    return a0 < b1 and b0 < a1


def _footprints_overlap(a: Step, b: Step) -> bool:
    return _overlap(a.x, a.x + a.dx, b.x, b.x + b.dx) and _overlap(a.y, a.y + a.dy, b.y, b.y + b.dy)


class _Grid:
    """Boxes bucketed by the cells of a plane that they cover, so that the boxes whose faces
    in that plane overlap a given one are found among a few neighbours, not among all."""

    def __init__(self, boxes: Sequence[Step], axes: tuple[str, str]) -> None:
        self.axes = axes
        sizes = {axis: sorted(getattr(box, "d" + axis) for box in boxes) for axis in axes}
        # Cells as large as a typical box: each box covers a few and each cell holds a few.
        self.cell = {axis: max(sizes[axis][len(boxes) // 2], 1e-9) for axis in axes}
        self.cells: dict[tuple[int, int], list[int]] = {}
        for i, box in enumerate(boxes):
            for key in self._keys(box):
                self.cells.setdefault(key, []).append(i)

    def _span(self, box: Step, axis: str) -> range:
        start, size, cell = getattr(box, axis), getattr(box, "d" + axis), self.cell[axis]
        return range(int(start // cell), int((start + size) // cell) + 1)

    def _keys(self, box: Step) -> list[tuple[int, int]]:
        first, second = self.axes
        return [(a, b) for a in self._span(box, first) for b in self._span(box, second)]

    def near(self, box: Step) -> set[int]:
        found: set[int] = set()
        for key in self._keys(box):
            found.update(self.cells.get(key, ()))
        return found


def _supports(boxes: Sequence[Step], floor: _Grid) -> list[list[int]]:
    """For each box, the boxes it stands on (their tops touch its bottom, footprints overlapping)."""
    under: list[list[int]] = [[] for _ in boxes]
    for j, box in enumerate(boxes):
        if box.z <= 0:
            continue
        for i in floor.near(box):
            other = boxes[i]
            if i != j and other.z + other.dz == box.z and _footprints_overlap(other, box):
                under[j].append(i)
    return under


def loading_order(boxes: Sequence[Step], by_factory: bool = False) -> list[Step]:
    """Boxes in an order a crew can follow: from the back wall to the door, bottom up, each
    after the boxes it stands on. With ``by_factory``, factory by factory in ascending number
    (loadable when the reading finds the factories not mixed)."""
    count = len(boxes)
    if count == 0:
        return []
    under = _supports(boxes, _Grid(boxes, ("x", "y")))
    waiting_on = [len(supports) for supports in under]
    carries: list[list[int]] = [[] for _ in range(count)]
    for j, supports in enumerate(under):
        for i in supports:
            carries[i].append(j)

    def key(i: int) -> tuple[float, float, float, float, int]:
        box = boxes[i]
        return (box.factory if by_factory else 0), box.x, box.z, box.y, i

    # Going from the back and bottom up keeps every box after the ones behind it; only a box
    # resting on several others has to wait for the nearer of them.
    ready = [key(i) for i in range(count) if waiting_on[i] == 0]
    heapq.heapify(ready)
    done = [False] * count
    order: list[Step] = []
    while len(order) < count:
        if not ready:
            # Overlapping input can make the supports circular; take the deepest box left.
            ready = [min(key(i) for i in range(count) if not done[i])]
        i = heapq.heappop(ready)[-1]
        if done[i]:
            continue
        done[i] = True
        order.append(boxes[i])
        for j in carries[i]:
            waiting_on[j] -= 1
            if waiting_on[j] == 0 and not done[j]:
                heapq.heappush(ready, key(j))
    return order


def _plain(value: float) -> str:
    return f"{value:g}" if abs(value) < 1e15 else repr(value)


def loading_rows(reading: Reading) -> list[dict[str, Any]]:
    """One dict per placed item, keyed by ``LOADING_LIST_COLUMNS``, in loading order."""
    return [
        {
            "container": container.number,
            "container_type": container.type,
            "step": step.step,
            "item_id": step.item_id,
            "line": step.line or "",
            "x": _plain(step.x),
            "y": _plain(step.y),
            "z": _plain(step.z),
            "size_x": _plain(step.dx),
            "size_y": _plain(step.dy),
            "size_z": _plain(step.dz),
            "rotation": step.rotation,
            "factory": step.factory,
            "note": MIXED_NOTE if container.factories_mixed else "",
        }
        for container in reading.containers
        for step in container.steps
    ]


def loading_list_text(reading: Reading) -> tuple[str, int]:
    """The loading list as CSV text, and the number of item rows in it."""
    rows = loading_rows(reading)
    out = io.StringIO(newline="")
    writer = csv.DictWriter(out, fieldnames=LOADING_LIST_COLUMNS)
    writer.writeheader()
    writer.writerows(safe_rows(rows))
    return out.getvalue(), len(rows)


def write_loading_list(path: Path, reading: Reading) -> int:
    """Write the loading list as CSV, whole or not at all; returns the number of item rows."""
    text, count = loading_list_text(reading)
    with replacing(path) as temporary, temporary.open("w", newline="", encoding="utf-8") as handle:
        handle.write(text)
    return count
