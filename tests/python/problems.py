"""Small problem builders shared by the Python tests."""

from __future__ import annotations

import random
from pathlib import Path
from typing import Any

CONTAINER_20GP = dict(id="20GP", l=590.0, w=234.0, h=230.0, cost=1000, weight_limit=28000.0, available=True)
CONTAINER_40GP = {**CONTAINER_20GP, "id": "40GP", "l": 1203.0, "cost": 1800, "weight_limit": 26000.0}


def item(index: int = 0, **values: Any) -> dict[str, Any]:
    return dict(id=100 + index, l=60.0, w=40.0, h=30.0, weight=12.5, factory=1, stackable=True) | values


def container(base: dict[str, Any] | None = None, **values: Any) -> dict[str, Any]:
    return {**(base or CONTAINER_20GP), **values}


def problem(items: list[Any] | None = None, bins: list[Any] | None = None) -> dict[str, Any]:
    return {
        "itemTable": items if items is not None else [item(i) for i in range(3)],
        "binTable": bins if bins is not None else [container(), container(CONTAINER_40GP)],
    }


def mixed_load(count: int, seed: int = 0) -> dict[str, Any]:
    """Cartons and pallets of random sizes from three factories, some not stackable."""
    rng = random.Random(seed)

    def one(i: int) -> dict[str, Any]:
        l, w, h, weight = (float(rng.randint(*bounds)) for bounds in ((20, 120), (20, 100), (15, 110), (2, 400)))
        return item(i, l=l, w=w, h=h, weight=weight, factory=rng.randint(1, 3), stackable=rng.random() > 0.15)

    return problem(items=[one(i) for i in range(count)])


CLASSIC_DATA = Path(__file__).resolve().parents[2] / "data" / "container-loading"


def thpack9(number: int) -> dict[str, Any]:
    """Problem `number` (from 1) of the Ivancic, Mathur & Mohan set: one container type at cost
    1 with no weight limit, each box upright (third dimension up), stackable, weight 1, from
    factory 1. A type line may lack one flag (problems 18 to 20): its dimensions are then the
    first, third and fourth numbers after the type."""
    lines = iter((CLASSIC_DATA / "thpack9.txt").read_text().splitlines())
    total = int(next(lines))
    if not 1 <= number <= total:
        raise ValueError(f"thpack9 has problems 1 to {total}")
    for current in range(1, number + 1):
        next(lines)  # the problem number
        length, width, height = (float(v) for v in next(lines).split())
        types = [[int(v) for v in next(lines).split()] for _ in range(int(next(lines)))]
        if current == number:
            break
    items = []
    for fields in types:
        d1, d2, d3 = (fields[1], fields[3], fields[5]) if len(fields) == 8 else (fields[1], fields[3], fields[4])
        items += [item(len(items), l=float(d1), w=float(d2), h=float(d3), weight=1.0) for _ in range(fields[-1])]
    bin_type = dict(id="IMM", l=length, w=width, h=height, cost=1, weight_limit=0.0, available=True)
    return problem(items=items, bins=[bin_type])
