"""Loads shared by the benchmarks, as `stowra.pack` input dictionaries (centimetres, kilograms).

- `twelve_carton_load`: twelve carton kinds from one factory in a random mix, one 40GP type.
- `mixed_load`: cartons of 20-60 cm and a few pallets from three factories, 20GP and 40GP.
- `carton_mix`: twelve carton and pallet kinds from 30 x 20 x 20 to 120 x 100 x 110 cm, some
  not stackable, from one or more factories, for 40GP only or 20GP + 40GP + 40HQ at their real
  inner sizes, prices and payloads.
- `bischoff_ratcliff`: one classic instance from data/container-loading/.

Each is fixed by its seed, so every run and every version packs the same items.
"""

from __future__ import annotations

import random
from pathlib import Path
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


def _container(
    name: str,
    length: float,
    cost: int,
    weight_limit: float,
    width: float = 234.0,
    height: float = 239.0,
) -> dict[str, Any]:
    return {
        "id": name,
        "l": length,
        "w": width,
        "h": height,
        "cost": cost,
        "weight_limit": weight_limit,
        "available": True,
    }


_20GP = _container("20GP", 590.0, 1000, 28000.0)
_40GP = _container("40GP", 1203.0, 1800, 26700.0)


def twelve_carton_load(count: int, seed: int = 12, kinds: int = 12) -> dict[str, Any]:
    """`count` cartons, each of a kind drawn uniformly from the first `kinds` of the twelve,
    for one 40GP type."""
    rng = random.Random(seed)
    items = []
    for index in range(count):
        l, w, h, weight = rng.choice(TWELVE_CARTONS[:kinds])
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


DATA = Path(__file__).resolve().parent.parent / "data" / "container-loading"

# Inner sizes (cm), prices and payloads (kg) of the usual dry containers.
CONTAINER_20GP = _container("20GP", 590.0, 1500, 28000.0, width=235.0)
CONTAINER_40GP = _container("40GP", 1203.0, 2400, 26700.0, width=235.0)
CONTAINER_40HQ = _container("40HQ", 1203.0, 2600, 26500.0, width=235.0, height=269.0)
CONTAINER_SETS: dict[str, list[dict[str, Any]]] = {
    "40GP": [CONTAINER_40GP],
    "20/40/40HQ": [CONTAINER_20GP, CONTAINER_40GP, CONTAINER_40HQ],
}

# l, w, h (cm), weight (kg), stackable: twelve cartons and pallets from small to large.
KINDS: list[tuple[float, float, float, float, bool]] = [
    (30, 20, 20, 4, True),
    (40, 30, 25, 7, True),
    (50, 40, 30, 11, True),
    (60, 40, 40, 16, True),
    (60, 50, 45, 22, True),
    (80, 60, 50, 35, True),
    (100, 60, 60, 48, True),
    (120, 80, 60, 150, True),
    (120, 100, 80, 320, True),
    (100, 80, 100, 260, False),
    (120, 80, 110, 420, False),
    (120, 100, 110, 520, False),
]


def carton_mix(count: int, factories: int, containers: str, seed: int) -> dict[str, Any]:
    """`count` items of the twelve kinds (smaller kinds more often), from 1..factories."""
    rng = random.Random(seed)
    weights = [12 - k for k in range(len(KINDS))]
    items = []
    for index in range(count):
        l, w, h, weight, stackable = rng.choices(KINDS, weights=weights)[0]
        items.append(
            {
                "id": index + 1,
                "l": float(l),
                "w": float(w),
                "h": float(h),
                "weight": float(weight),
                "factory": rng.randint(1, factories),
                "stackable": stackable,
            }
        )
    return {"itemTable": items, "binTable": [dict(row) for row in CONTAINER_SETS[containers]]}


# The load limits a planner sets on the cartons that crush (kind by its weight, kg): a 11 kg
# carton carries at most 40 kg, and so on; the heavier cartons and the pallets carry anything.
LOAD_LIMITS = {11.0: 40.0, 22.0: 80.0, 48.0: 150.0}


def with_load_limits(problem: dict[str, Any]) -> dict[str, Any]:
    """The shipment with ``LOAD_LIMITS`` as the ``max_load`` of its cartons of those kinds."""
    items = [
        {**row, "max_load": LOAD_LIMITS[row["weight"]]}
        if row["weight"] in LOAD_LIMITS
        else dict(row)
        for row in problem["itemTable"]
    ]
    return {**problem, "itemTable": items}


def bischoff_ratcliff(file: str, problem: int) -> dict[str, Any]:
    """Problem number `problem` (from 1) of a BR file: boxes upright (third dimension up), one
    container type at cost 1 with no weight limit, every box stackable and of weight 1."""
    numbers = iter(int(token) for token in (DATA / file).read_text().split())
    total = next(numbers)
    if not 1 <= problem <= total:
        raise ValueError(f"{file} has problems 1 to {total}")
    for number in range(1, problem + 1):
        next(numbers), next(numbers)  # problem number, seed
        length, width, height = next(numbers), next(numbers), next(numbers)
        kinds = []
        for _ in range(next(numbers)):
            _, d1, _, d2, _, d3, _, boxes = (next(numbers) for _ in range(8))
            kinds.append((d1, d2, d3, boxes))
        if number == problem:
            break
    items = [
        {
            "id": k + 1,
            "l": float(d1),
            "w": float(d2),
            "h": float(d3),
            "weight": 1.0,
            "factory": 1,
            "stackable": True,
        }
        for k, (d1, d2, d3, boxes) in enumerate(kinds)
        for _ in range(boxes)
    ]
    container = {
        "id": "BR",
        "l": float(length),
        "w": float(width),
        "h": float(height),
        "cost": 1,
        "weight_limit": 0.0,
        "available": True,
    }
    return {"itemTable": items, "binTable": [container]}


LOADS = {"twelve": twelve_carton_load, "mixed": mixed_load}
LOAD_NAMES = {
    "twelve": "twelve carton kinds, one 40GP type",
    "mixed": "mixed cartons and pallets, 20GP + 40GP",
}
