"""A returned plan checked against its input (the rules by stowra's own plan checker, the
bookkeeping here), and a count of the work a call does, used by the Python tests."""

from __future__ import annotations

import math
import sys
from collections import Counter
from typing import TYPE_CHECKING, Any

import stowra

if TYPE_CHECKING:
    from stowra._core import Breach


def container_type(problem: dict[str, Any], row: dict[str, Any]) -> dict[str, Any]:
    """The binTable row of a container's type: its index, or for a plan of ``pack`` (which
    keeps its own keys) the first of the two types it opens with the container's name."""
    if "binTypeIndex" in row:
        return problem["binTable"][row["binTypeIndex"]]
    opened = [kind for kind in problem["binTable"] if kind["available"]][:2]
    return next(kind for kind in opened if kind["id"] == row["binType"])


def check_plan(
    problem: dict[str, Any],
    result: dict[str, Any],
    *,
    balance_limit: float = 1.0,
    pickup_order: bool = False,
    max_load: bool = True,
) -> set[int]:
    """Asserts that the plan keeps the loading rules (by stowra's plan checker; the balance and
    the pickup order only when asked, load limits unless told that the search ignores them)
    and that its figures agree; returns the placed items."""
    found = stowra.check_plan(problem, result, balance_limit=balance_limit, pickup_order=pickup_order)
    kept = [breach for breach in found if max_load or breach["rule"] != "max_load"]
    assert not kept, [breach["message"] for breach in kept[:3]]
    items = list(problem["itemTable"])
    assert result["totalBins"] == len(result["packingTable"])
    assert result["sum20"] + result["sum40"] == result["totalBins"]
    placed: set[int] = set()
    total_cost = 0.0
    for number, row in enumerate(result["packingTable"], start=1):
        assert row["id"] == number
        kind = container_type(problem, row)
        assert row["binType"] == kind["id"] and row["cost"] == float(kind["cost"])
        total_cost += row["cost"]
        assert row["itemCount"] == len(row["items"])
        indices = [placement["itemIndex"] for placement in row["items"]]
        placed.update(indices)
        weight = math.fsum(items[index]["weight"] for index in indices)
        volume = math.fsum(items[index]["w"] * items[index]["l"] * items[index]["h"] for index in indices)
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


def breaches(problem: dict[str, Any], result: dict[str, Any], rule: str) -> list[Breach]:
    """The breaches of one rule that stowra's plan checker finds, at its default limits."""
    return [found for found in stowra.check_plan(problem, result) if found["rule"] == rule]


def rule_counts(problem: dict[str, Any], result: dict[str, Any]) -> Counter[str]:
    """How many breaches of each rule stowra's plan checker finds, at its default limits: one
    per container out of balance, per item behind or below an earlier factory's, per item over
    its max_load (the benchmarks count them)."""
    return Counter(found["rule"] for found in stowra.check_plan(problem, result))


def unbalanced_containers(problem: dict[str, Any], result: dict[str, Any], limit: float = 0.6) -> list[int]:
    """Containers with more than ``limit`` of their cargo weight in one half of their length."""
    found = stowra.check_plan(problem, result, balance_limit=limit, pickup_order=False)
    return [breach["container"] for breach in found if breach["rule"] == "balance"]


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
