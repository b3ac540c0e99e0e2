"""An independent check of a returned plan against its input, and a count of the work a call does,
used by the Python tests."""

from __future__ import annotations

import math
import sys
from typing import Any


def placed_box(item: dict[str, Any], placement: dict[str, Any]) -> tuple[float, ...]:
    turned = placement["rotation"] != 0
    dx, dy = (item["w"], item["l"]) if turned else (item["l"], item["w"])
    x, y, z = placement["x"], placement["y"], placement["z"]
    return (x, y, z, x + dx, y + dy, z + item["h"])


def overlaps(a: tuple[float, ...], b: tuple[float, ...]) -> bool:
    return all(min(a[k + 3], b[k + 3]) > max(a[k], b[k]) for k in range(3))


def check_plan(problem: dict[str, Any], result: dict[str, Any]) -> set[int]:
    """Asserts that the plan is physically sound and its figures agree; returns the placed items."""
    items = list(problem["itemTable"])
    types = {row["id"]: row for row in problem["binTable"] if row["available"]}
    assert result["totalBins"] == len(result["packingTable"])
    assert result["sum20"] + result["sum40"] == result["totalBins"]
    placed: set[int] = set()
    total_cost = 0.0
    for number, row in enumerate(result["packingTable"], start=1):
        assert row["id"] == number
        kind = types[row["binType"]]
        total_cost += row["cost"]
        assert row["cost"] == float(kind["cost"])
        assert row["itemCount"] == len(row["items"])
        boxes = []
        weight = 0.0
        volume = 0.0
        for placement in row["items"]:
            index = placement["itemIndex"]
            assert index not in placed, f"item {index} placed twice"
            placed.add(index)
            box = placed_box(items[index], placement)
            assert min(box[:3]) >= 0
            assert box[3] <= kind["l"] and box[4] <= kind["w"] and box[5] <= kind["h"]
            if box[2] > 0:
                # Stands wholly on the top face of one stackable box below it.
                bases = [
                    (other, items[other_index])
                    for other, other_index in boxes
                    if other[5] == box[2]
                    and other[0] <= box[0]
                    and box[3] <= other[3]
                    and other[1] <= box[1]
                    and box[4] <= other[4]
                ]
                assert any(base_item["stackable"] for _, base_item in bases), f"item {index} floats"
            for other, _ in boxes:
                assert not overlaps(box, other)
            boxes.append((box, index))
            weight += items[index]["weight"]
            volume += items[index]["w"] * items[index]["l"] * items[index]["h"]
        limit = kind["weight_limit"]
        if limit > 0:
            assert row["currentWeight"] <= limit
        assert math.isclose(row["currentWeight"], weight, rel_tol=1e-9, abs_tol=1e-9)
        bin_volume = kind["w"] * kind["l"] * kind["h"]
        assert math.isclose(row["spaceUtilization"], volume / bin_volume, rel_tol=1e-9, abs_tol=1e-12)
    assert math.isclose(result["cost"], total_cost)
    return placed


def check_factory_order(problem: dict[str, Any], result: dict[str, Any]) -> None:
    """Asserts that each container loads whole factories in ascending number, one after another."""
    items = problem["itemTable"]
    for row in result["packingTable"]:
        factories = [items[placement["itemIndex"]]["factory"] for placement in row["items"]]
        assert factories == sorted(factories), f"container {row['id']} mixes factory order"


def fits_some_type(problem: dict[str, Any], item: dict[str, Any]) -> bool:
    """Whether an empty container of some available type holds the item, turned or not."""
    turns = [(item["l"], item["w"])] + ([(item["w"], item["l"])] if item["l"] <= 234 else [])
    return any(
        row["available"]
        and item["h"] <= row["h"]
        and (row["weight_limit"] <= 0 or item["weight"] <= row["weight_limit"])
        and any(along <= row["l"] and across <= row["w"] for along, across in turns)
        for row in problem["binTable"]
    )


def back_half_share(problem: dict[str, Any], row: dict[str, Any]) -> float | None:
    """Share of the container's cargo weight in the back half of its length; a box across the
    middle counts in each half by its length there. None for a container with no weight."""
    items = problem["itemTable"]
    middle = next(t["l"] for t in problem["binTable"] if t["id"] == row["binType"]) / 2
    total = back = 0.0
    for placement in row["items"]:
        item = items[placement["itemIndex"]]
        x0, _, _, x1, _, _ = placed_box(item, placement)
        total += item["weight"]
        back += item["weight"] * min(max(middle - x0, 0.0), x1 - x0) / (x1 - x0)
    return back / total if total > 0 else None


def unbalanced_containers(problem: dict[str, Any], result: dict[str, Any], limit: float = 0.6) -> list[int]:
    """Containers with more than ``limit`` of their cargo weight in one half of their length."""
    over = []
    for row in result["packingTable"]:
        share = back_half_share(problem, row)
        if share is not None and max(share, 1 - share) > limit + 1e-9:
            over.append(row["id"])
    return over


def must_load_before(first: tuple[float, ...], then: tuple[float, ...]) -> bool:
    """``first`` stands behind ``then`` (cross-sections overlapping) or below it (footprints
    overlapping)."""
    across = min(first[4], then[4]) > max(first[1], then[1])
    behind = first[3] <= then[0] and min(first[5], then[5]) > max(first[2], then[2])
    below = first[5] <= then[2] and min(first[3], then[3]) > max(first[0], then[0])
    return across and (behind or below)


def pickup_order_breaks(problem: dict[str, Any], result: dict[str, Any]) -> list[tuple[int, int, int]]:
    """(container, later item, earlier item) for every item of a later factory that stands
    behind or below an item of an earlier factory."""
    items = problem["itemTable"]
    breaks = []
    for row in result["packingTable"]:
        boxes = [(p["itemIndex"], placed_box(items[p["itemIndex"]], p)) for p in row["items"]]
        for later, later_box in boxes:
            for earlier, earlier_box in boxes:
                if items[later]["factory"] > items[earlier]["factory"] and must_load_before(later_box, earlier_box):
                    breaks.append((row["id"], later, earlier))
    return breaks


def _contact(upper: tuple[float, ...], lower: tuple[float, ...]) -> float:
    """The area of ``upper``'s bottom on ``lower``'s top; 0 unless they touch."""
    if upper[2] <= 1e-6 or abs(lower[5] - upper[2]) > 1e-6:
        return 0.0
    along = min(upper[3], lower[3]) - max(upper[0], lower[0])
    across = min(upper[4], lower[4]) - max(upper[1], lower[1])
    return along * across if along > 0 and across > 0 else 0.0


def _loads(weights: list[float], boxes: list[tuple[float, ...]]) -> list[float]:
    """What rests on each box, pulled from the boxes standing on it: each passes down its
    weight and its own load, shared by contact area among the boxes under it."""
    memo: dict[int, float] = {}

    def load_on(k: int) -> float:
        if k not in memo:
            total = 0.0
            for j, upper in enumerate(boxes):
                area = _contact(upper, boxes[k])
                if area > 0:
                    footing = sum(_contact(upper, other) for other in boxes)
                    total += (weights[j] + load_on(j)) * area / footing
            memo[k] = total
        return memo[k]

    return [load_on(k) for k in range(len(boxes))]


def overloaded_items(problem: dict[str, Any], result: dict[str, Any]) -> list[tuple[int, int, float]]:
    """(container, item, weight on it) for every item carrying more than its ``max_load``."""
    items = problem["itemTable"]
    over = []
    for row in result["packingTable"]:
        indices = [p["itemIndex"] for p in row["items"]]
        boxes = [placed_box(items[p["itemIndex"]], p) for p in row["items"]]
        loads = _loads([items[index]["weight"] for index in indices], boxes)
        for index, load in zip(indices, loads, strict=True):
            limit = items[index].get("max_load")
            if limit is not None and load > limit + 1e-6 * max(1.0, limit):
                over.append((row["id"], index, load))
    return over


def calls_made(action: Any) -> tuple[int, Any]:
    """How many Python functions ``action`` called (its own work, counted, not timed), and what it returned."""
    count = 0

    def profile(_frame: Any, event: str, _arg: Any) -> None:
        nonlocal count
        count += event == "call"

    sys.setprofile(profile)
    try:
        result = action()
    finally:
        sys.setprofile(None)
    return count, result
