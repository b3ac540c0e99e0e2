"""Loads shared by the benchmarks, as `stowra.pack` input dictionaries (centimetres, kilograms).

- `twelve_carton_load`: twelve carton kinds from one factory in a random mix, one 40GP type.
- `mixed_load`: cartons of 20-60 cm and a few pallets from three factories, 20GP and 40GP.

Both are fixed by their seed, so every run and every version packs the same items.
"""

from __future__ import annotations

import random
from typing import Any

# l, w, h, weight: the cartons of one factory's catalogue
TWELVE_CARTONS = (
    (60, 40, 40, 18),
    (50, 40, 30, 12),
    (40, 30, 30, 8),
    (60, 50, 45, 22),
    (45, 35, 25, 7),
    (55, 45, 40, 16),
    (70, 50, 40, 25),
    (35, 30, 20, 5),
    (65, 45, 35, 20),
    (50, 50, 50, 24),
    (80, 60, 40, 30),
    (30, 25, 25, 4),
)


def _container(name: str, length: float, cost: int, weight_limit: float) -> dict[str, Any]:
    return {
        "id": name,
        "l": length,
        "w": 234.0,
        "h": 239.0,
        "cost": cost,
        "weight_limit": weight_limit,
        "available": True,
    }


_20GP = _container("20GP", 590.0, 1000, 28000.0)
_40GP = _container("40GP", 1203.0, 1800, 26700.0)


def twelve_carton_load(count: int, seed: int = 12) -> dict[str, Any]:
    """`count` cartons, each of a kind drawn uniformly from the twelve, for one 40GP type."""
    rng = random.Random(seed)
    items = []
    for index in range(count):
        l, w, h, weight = rng.choice(TWELVE_CARTONS)
        items.append(
            {
                "id": index,
                "l": float(l),
                "w": float(w),
                "h": float(h),
                "weight": float(weight),
                "factory": 1,
                "stackable": True,
            }
        )
    return {"itemTable": items, "binTable": [dict(_40GP)]}


def mixed_load(count: int, seed: int = 2026) -> dict[str, Any]:
    """Cartons of 20-60 cm and a few pallets from three factories, for 20GP and 40GP."""
    rng = random.Random(seed)
    items = []
    for index in range(count):
        if rng.random() < 0.1:
            l, w, h = 120.0, 100.0, float(rng.choice([100, 120, 140]))
            weight, stackable = float(rng.randint(200, 600)), rng.random() < 0.5
        else:
            l, w, h = (float(rng.randint(20, 60)) for _ in range(3))
            weight, stackable = float(rng.randint(3, 30)), True
        items.append(
            {
                "id": index,
                "l": l,
                "w": w,
                "h": h,
                "weight": weight,
                "factory": rng.randint(1, 3),
                "stackable": stackable,
            }
        )
    return {"itemTable": items, "binTable": [dict(_20GP), dict(_40GP)]}


LOADS = {"twelve": twelve_carton_load, "mixed": mixed_load}
LOAD_NAMES = {
    "twelve": "twelve carton kinds, one 40GP type",
    "mixed": "mixed cartons and pallets, 20GP + 40GP",
}
