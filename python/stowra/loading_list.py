"""The loading list: every placed item in an order a crew can load it, container by container.

The search places items in whatever order its decoder tries them, which can put a box behind
or under one placed earlier. The list instead loads from the back wall (x = 0) towards the
door (x = container length), bottom up, and never before the boxes it stands on or the boxes
it would block.
"""

from __future__ import annotations

import csv
import heapq
import io
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

from stowra.atomic_write import replacing
from stowra.csv_cells import safe_rows
from stowra.files import RowSource
from stowra.report import PlacedBox, placed_boxes

__all__ = [
    "LOADING_LIST_COLUMNS",
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
)


def _overlap(a0: float, a1: float, b0: float, b1: float) -> bool:
    return a0 < b1 and b0 < a1


def _must_precede(first: PlacedBox, then: PlacedBox) -> bool:
    """Whether ``first`` has to be in the container before ``then`` goes in."""
    across = _overlap(first.y, first.y + first.dy, then.y, then.y + then.dy)
    along = _overlap(first.x, first.x + first.dx, then.x, then.x + then.dx)
    upright = _overlap(first.z, first.z + first.dz, then.z, then.z + then.dz)
    underneath = first.z + first.dz <= then.z and across and along
    behind = first.x + first.dx <= then.x and across and upright
    return underneath or behind


def loading_order(boxes: Sequence[PlacedBox]) -> list[PlacedBox]:
    """Boxes sorted so each comes after those under it and behind it (deepest, lowest first)."""
    count = len(boxes)
    waiting_on = [0] * count
    unblocks: list[list[int]] = [[] for _ in range(count)]
    for i, first in enumerate(boxes):
        for j, then in enumerate(boxes):
            if i != j and _must_precede(first, then):
                waiting_on[j] += 1
                unblocks[i].append(j)

    def key(i: int) -> tuple[float, float, float, int]:
        return boxes[i].x, boxes[i].z, boxes[i].y, i

    ready = [key(i) for i in range(count) if waiting_on[i] == 0]
    heapq.heapify(ready)
    done = [False] * count
    order: list[PlacedBox] = []
    while len(order) < count:
        if not ready:
            # Overlapping input can make the rules circular; take the deepest box left.
            ready = [min(key(i) for i in range(count) if not done[i])]
        i = heapq.heappop(ready)[-1]
        if done[i]:
            continue
        done[i] = True
        order.append(boxes[i])
        for j in unblocks[i]:
            waiting_on[j] -= 1
            if waiting_on[j] == 0 and not done[j]:
                heapq.heappush(ready, key(j))
    return order


def _plain(value: float) -> str:
    return f"{value:g}" if abs(value) < 1e15 else repr(value)


def loading_rows(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
) -> list[dict[str, Any]]:
    """One dict per placed item, keyed by ``LOADING_LIST_COLUMNS``, in loading order."""
    items = problem["itemTable"]
    rows = []
    for container in result["packingTable"]:
        ordered = loading_order(placed_boxes(container, items))
        for step, box in enumerate(ordered, 1):
            source = sources[box.index] if sources is not None else None
            rows.append(
                {
                    "container": container["id"],
                    "container_type": container["binType"],
                    "step": step,
                    "item_id": box.item.get("id"),
                    "line": source.line if source is not None and source.line else "",
                    "x": _plain(box.x),
                    "y": _plain(box.y),
                    "z": _plain(box.z),
                    "size_x": _plain(box.dx),
                    "size_y": _plain(box.dy),
                    "size_z": _plain(box.dz),
                    "rotation": box.rotation,
                }
            )
    return rows


def loading_list_text(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
) -> tuple[str, int]:
    """The loading list as CSV text, and the number of item rows in it."""
    rows = loading_rows(result, problem, sources)
    out = io.StringIO(newline="")
    writer = csv.DictWriter(out, fieldnames=LOADING_LIST_COLUMNS)
    writer.writeheader()
    writer.writerows(safe_rows(rows))
    return out.getvalue(), len(rows)


def write_loading_list(
    path: Path,
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
) -> int:
    """Write the loading list as CSV, whole or not at all; returns the number of item rows."""
    text, count = loading_list_text(result, problem, sources)
    with replacing(path) as temporary, temporary.open("w", newline="", encoding="utf-8") as handle:
        handle.write(text)
    return count
