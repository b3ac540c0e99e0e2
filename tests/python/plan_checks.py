"""An independent check of a returned plan against its input, used by the Python tests."""

from __future__ import annotations

import math
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
