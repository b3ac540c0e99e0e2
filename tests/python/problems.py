"""Small problem builders shared by the Python tests."""

from __future__ import annotations

import random
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
