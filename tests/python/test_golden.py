"""Golden plans: pack's results and progress lines, and optimize's results (the same for 1, 2, 3
and 7 threads), for fixed inputs and seeds, bit for bit.

Any change to the decoder, the fitness, the draws or the search order shows up here. The
expected values were recorded from the search as it stood when these cases were written, so
they say only that nothing changed (the fitness terms are checked by hand in the C++ tests).
Record them again (`python tests/python/test_golden.py` prints the current values of both
files) only for a change whose task says plans change, and say so in its commit.
"""

from __future__ import annotations

import hashlib
import json
import random
import sys
from pathlib import Path
from typing import Any

import pytest
from plan_checks import check_factory_order, check_plan
from problems import CONTAINER_20GP, CONTAINER_40GP, container, item, mixed_load, problem, thpack9

import stowra
from stowra.examples import example_json
from stowra.files import parse_json_shipment

_EXPECTED = Path(__file__).with_name("golden_plans.json")
_OPTIMIZE_EXPECTED = Path(__file__).with_name("golden_optimize_plans.json")


def _demo() -> dict[str, Any]:
    return parse_json_shipment(example_json(), "example.json").input


def _heavy_and_three_types() -> dict[str, Any]:
    load = mixed_load(90, seed=21)
    for index in range(0, 90, 7):
        load["itemTable"][index]["weight"] = 1900.0
    high_cube = container(CONTAINER_40GP, id="40HQ", h=269.0, cost=2000)
    load["binTable"] = [container(weight_limit=9000.0), container(CONTAINER_40GP, weight_limit=12000.0), high_cube]
    return load


def _left_out_and_free_bins() -> dict[str, Any]:
    load = mixed_load(40, seed=5)
    load["itemTable"].append(item(40, weight=50_000.0))  # heavier than every weight limit
    load["binTable"] = [container(cost=0), container(CONTAINER_40GP, cost=0)]
    return load


def _equal_spaces() -> dict[str, Any]:
    # Many boxes of three kinds in bins roomy for them: the free-space list holds many spaces of
    # equal volume, so a plan here changes if their order or the merging of identical ones does.
    rng = random.Random(32)
    shapes = [(5.0, 3.0, 3.0), (2.5, 3.0, 5.0), (2.5, 5.0, 2.5)]
    items = []
    for i in range(160):
        l, w, h = rng.choice(shapes)
        weight = float(rng.randint(0, 12))
        items.append(item(i, l=l, w=w, h=h, weight=weight, factory=1 + i % 3, stackable=rng.random() > 0.2))
    sizes = {"S": (32.0, 24.0, 48.0), "M": (40.0, 24.0, 40.0), "L": (52.0, 32.0, 48.0)}
    bins = [
        container(id=name, l=l, w=w, h=h, cost=cost, weight_limit=0.0)
        for cost, (name, (l, w, h)) in enumerate(sizes.items(), start=1)
    ]
    return problem(items=items, bins=bins)


# name: (input builder, pack's keyword arguments)
CASES: dict[str, tuple[Any, dict[str, Any]]] = {
    "defaults-200": (lambda: mixed_load(200, seed=3), {}),
    "mixed-60": (lambda: mixed_load(60, seed=11), {"pop_size": 30, "generations": 30, "seed": 7}),
    "demo-short": (_demo, {"pop_size": 20, "generations": 20}),
    "heavy-three-types": (_heavy_and_three_types, {"pop_size": 24, "generations": 25, "seed": -1}),
    "left-out-free-bins": (_left_out_and_free_bins, {"pop_size": 12, "generations": 8, "seed": 99}),
    "small-odd-pop": (lambda: mixed_load(25, seed=8), {"pop_size": 7, "generations": 15}),
    "one-container-type": (
        lambda: problem(items=mixed_load(70, seed=4)["itemTable"], bins=[container(CONTAINER_20GP)]),
        {"pop_size": 16, "generations": 12, "seed": 3},
    ),
    "seed-only": (lambda: mixed_load(30, seed=2), {"pop_size": 1, "generations": 0}),
    "equal-volume-spaces": (_equal_spaces, {"pop_size": 10, "generations": 10, "seed": 32}),
}


def _pallets_1200() -> dict[str, Any]:
    # Over a thousand items, so optimize's rounds move items between a few containers of a plan
    # instead of loading all again; large boxes keep that quick. Every fifth box bears at most
    # 60 kg and every seventh nothing, so the moves must keep those limits.
    rng = random.Random(1)
    sizes = [(100.0, 80.0, 70.0), (90.0, 60.0, 50.0), (120.0, 80.0, 60.0)]
    items = []
    for i in range(1200):
        l, w, h = sizes[i % 3]
        row = item(i, l=l, w=w, h=h, weight=float(rng.randint(5, 40)), factory=1 + i // 400, stackable=i % 7 != 0)
        items.append(row | ({"max_load": 60.0} if i % 5 == 0 else {}))
    return problem(items=items)


# name: (input builder, optimize's keyword arguments); no time limit, so the seed and the effort
# alone decide the plan.
OPTIMIZE_CASES: dict[str, tuple[Any, dict[str, Any]]] = {
    "demo-effort-0": (_demo, {"effort": 0}),
    "demo-effort-1": (_demo, {"effort": 1, "seed": 7}),
    "thpack9-5": (lambda: thpack9(5), {"effort": 1, "seed": 3}),
    "pallets-1200": (_pallets_1200, {"effort": 1}),
}
OPTIMIZE_THREADS = (1, 2, 3, 7)  # more threads than cores too: the plan never depends on them


def _canonical(value: Any) -> Any:
    # Exact float bits, so a change in the last place of any figure is caught.
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, dict):
        return {key: _canonical(entry) for key, entry in value.items()}
    if isinstance(value, list | tuple):
        return [_canonical(entry) for entry in value]
    return value


def _digest(text: str) -> str:
    return hashlib.sha256(text.encode()).hexdigest()[:20]


def record(result: dict[str, Any], lines: str | None = None) -> dict[str, Any]:
    # The type's row that optimize's rows name beside the type is no part of the plan as pinned;
    # the plan check below reads each container's type by it.
    plan = {key: value for key, value in result.items() if key != "elapsedSeconds"}
    plan["packingTable"] = [
        {key: value for key, value in row.items() if key != "binTypeIndex"} for row in result["packingTable"]
    ]
    found = {
        "fitness": result["fitness"].hex(),
        "cost": result["cost"],
        "totalBins": result["totalBins"],
        "planDigest": _digest(json.dumps(_canonical(plan))),
    }
    if lines is not None:
        found |= {"lines": len(lines.splitlines()), "linesDigest": _digest(lines)}
    return found


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("name", CASES)
def test_plan_and_lines_are_unchanged(name: str, threads: int, capfd) -> None:
    build, arguments = CASES[name]
    capfd.readouterr()
    result = stowra.pack(build(), **{**arguments, "threads": threads})
    lines = capfd.readouterr().out
    assert record(result, lines) == json.loads(_EXPECTED.read_text())[name]


@pytest.mark.parametrize("name", OPTIMIZE_CASES)
def test_optimize_plan_is_unchanged_for_any_thread_count(name: str) -> None:
    build, arguments = OPTIMIZE_CASES[name]
    load = build()
    expected = json.loads(_OPTIMIZE_EXPECTED.read_text())[name]
    for threads in OPTIMIZE_THREADS:
        result = stowra.optimize(load, **arguments, threads=threads, time_limit=0)
        assert record(result) == expected, f"{threads} threads"
    assert check_plan(load, result, pickup_order=True) == set(range(len(load["itemTable"])))
    check_factory_order(load, result)


if __name__ == "__main__":
    import os

    def recorded(search: Any, load: dict[str, Any], arguments: dict[str, Any]) -> dict[str, Any]:
        if search is stowra.optimize:
            return record(search(load, **arguments))
        read, write = os.pipe()
        saved = os.dup(1)
        sys.stdout.flush()
        os.dup2(write, 1)
        try:
            result = search(load, **arguments)
        finally:
            os.dup2(saved, 1)
            os.close(write)
        with os.fdopen(read) as pipe:
            return record(result, pipe.read())

    print(json.dumps({name: recorded(stowra.pack, b(), a) for name, (b, a) in CASES.items()}, indent=2))
    optimized = {"note": json.loads(_OPTIMIZE_EXPECTED.read_text())["note"]}
    for name, (build, arguments) in OPTIMIZE_CASES.items():
        optimized[name] = recorded(stowra.optimize, build(), {**arguments, "threads": 1, "time_limit": 0})
    print(json.dumps(optimized, indent=2))
