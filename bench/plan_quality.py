"""Plan quality: what optimize saves against pack and against a greedy sort, per shipment.

Run: python bench/plan_quality.py [--quick] [--out FILE.md] [--threads N]

For each shipment (generated carton and pallet mixes of 50 to 1,000 items, the built-in
example, and Bischoff & Ratcliff instances): the volume lower bound on containers and cost,
the greedy baseline (items by decreasing volume within factory groups, packed in that order
by pack's own decoder: current container first, then earlier ones, then a new one), pack at
its defaults and optimize at its defaults, each with cost, containers, fill and seconds. Every
plan is checked by the tests' plan checker, and counted per search: containers with more than
60% of their cargo weight in one half of their length, items of a later factory behind or
below one of an earlier factory, items carrying more than their ``max_load``, and the mean
fill of the full containers (all but the least filled of each plan). A few of the generated
mixes run again with load limits on their crushable cartons; their costs are totalled apart, so
the first total compares with earlier runs. Large carton loads (1,500 to 3,000 cartons, one
40GP type) are run after the table and reported by their fill only. Prints the table and the
targets, met or missed.
"""

from __future__ import annotations

import argparse
import contextlib
import itertools
import math
import os
import sys
import time
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

from _loads import bischoff_ratcliff, carton_mix, twelve_carton_load, with_load_limits  # noqa: E402
from plan_checks import check_factory_order, check_plan, rule_counts  # noqa: E402

import stowra  # noqa: E402
from stowra.examples import example_json  # noqa: E402
from stowra.files import parse_json_shipment  # noqa: E402

SIZES = (50, 100, 150, 200, 300, 400, 600, 1000)
QUICK_SIZES = (50, 200)
BR_PROBLEMS = (("BR1.txt", 1), ("BR1.txt", 2), ("BR7.txt", 1))
LARGE_LOADS = ((1500, 6), (2000, 8), (3000, 10))  # cartons, kinds
# Generated mixes run again with load limits (items, factories, containers).
LIMITED = ((200, 3, "20/40/40HQ"), (400, 1, "40GP"), (600, 3, "20/40/40HQ"))
QUICK_LIMITED = LIMITED[:1]
LIMITED_SUFFIX = ", load limits"
# optimize's total over the shipments without load limits before the loading rules.
BEFORE_RULES_TOTAL = 176_106


@contextlib.contextmanager
def silenced() -> Iterator[None]:
    """The searches' progress lines go to descriptor 1; they are not what is measured."""
    sys.stdout.flush()
    saved = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)


def shipments(quick: bool) -> list[tuple[str, dict[str, Any]]]:
    loads = []
    for size, factories, containers in itertools.product(
        QUICK_SIZES if quick else SIZES, (1, 3), ("40GP", "20/40/40HQ")
    ):
        name = f"{size} items, {factories} fact., {containers}"
        loads.append((name, carton_mix(size, factories, containers, seed=size * 10 + factories)))
    for size, factories, containers in QUICK_LIMITED if quick else LIMITED:
        name = f"{size} items, {factories} fact., {containers}{LIMITED_SUFFIX}"
        mix = carton_mix(size, factories, containers, seed=size * 10 + factories)
        loads.append((name, with_load_limits(mix)))
    # The cartons a new user tried first: twelve kinds, one factory, 40GP only.
    for size in (100,) if quick else (100, 200, 400):
        loads.append((f"{size} cartons of 12 kinds, 40GP", twelve_carton_load(size)))
    loads.append(("built-in example", parse_json_shipment(example_json(), "example").input))
    for file, number in BR_PROBLEMS[: 1 if quick else None]:
        loads.append((f"{file.removesuffix('.txt')} #{number}", bischoff_ratcliff(file, number)))
    return loads


def lower_bound(problem: dict[str, Any]) -> tuple[int, float]:
    """Fewest containers by volume (largest type), and the cheapest mix whose volumes and
    weight limits add up to the load's volume and weight."""
    items, types = problem["itemTable"], [row for row in problem["binTable"] if row["available"]]
    volume = sum(row["l"] * row["w"] * row["h"] for row in items)
    weight = sum(row["weight"] for row in items)
    size = [row["l"] * row["w"] * row["h"] for row in types]
    fewest = math.ceil(volume / max(size))
    ranges = [range(math.ceil(volume / s) + 1 + math.ceil(weight / 20000)) for s in size]
    best = math.inf
    for counts in itertools.product(*ranges):
        carried = [math.inf if row["weight_limit"] <= 0 else row["weight_limit"] for row in types]
        if sum(c * s for c, s in zip(counts, size, strict=True)) < volume:
            continue
        if sum(c * w for c, w in zip(counts, carried, strict=True) if c) < weight:
            continue
        best = min(best, sum(c * row["cost"] for c, row in zip(counts, types, strict=True)))
    return fewest, best


def greedy(problem: dict[str, Any], threads: int) -> dict[str, Any]:
    """pack's decoder on the volume order: pack's seed plan, with no search after it."""
    items = problem["itemTable"]
    order = sorted(
        range(len(items)),
        key=lambda i: (items[i]["factory"], -items[i]["l"] * items[i]["w"] * items[i]["h"]),
    )
    result = stowra.pack(
        {**problem, "itemTable": [items[i] for i in order]},
        pop_size=1,
        generations=0,
        threads=threads,
    )
    for row in result["packingTable"]:
        for placement in row["items"]:
            placement["itemIndex"] = order[placement["itemIndex"]]
    # Empty containers cost what they cost; they stay in the count.
    return result


def timed(run: Callable[[], dict[str, Any]]) -> tuple[dict[str, Any], float, float]:
    """The result, wall seconds and CPU seconds of this process (all threads)."""
    with silenced():
        start, cpu = time.perf_counter(), time.process_time()
        result = run()
    return result, time.perf_counter() - start, time.process_time() - cpu


def full_fills(result: dict[str, Any]) -> list[float]:
    """Fill of every container of the plan but its least filled one."""
    fills = sorted(row["spaceUtilization"] for row in result["packingTable"])
    return fills[1:]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="12 shipments instead of 42")
    parser.add_argument("--out", metavar="FILE.md", help="also write the markdown section here")
    parser.add_argument("--threads", type=int, default=0, help="threads for every search")
    options = parser.parse_args()

    rows = []
    searches = ("greedy", "pack", "optimize")
    totals = dict.fromkeys(searches, 0.0)
    limited_totals = dict.fromkeys(searches, 0.0)
    over_limit = dict.fromkeys(searches, 0)
    unbalanced = dict.fromkeys(searches, 0)
    breaks = dict.fromkeys(searches, 0)
    fills: dict[str, list[float]] = {search: [] for search in searches}
    cpu = dict.fromkeys(searches, 0.0)
    faults: list[str] = []
    dearer_than_pack, dearer_than_greedy, ratios, cpu_ratios = [], [], [], []
    limited_ratios: list[float] = []
    limited_cpu_ratios: list[float] = []
    for name, problem in shipments(options.quick):
        fewest, cheapest = lower_bound(problem)
        runs = {
            "greedy": lambda p=problem: greedy(p, options.threads),
            "pack": lambda p=problem: stowra.pack(p, threads=options.threads),
            "optimize": lambda p=problem: stowra.optimize(p, threads=options.threads),
        }
        cells = [name, str(len(problem["itemTable"])), f"{fewest} / {cheapest:,.0f}"]
        results = {}
        for search, run in runs.items():
            result, seconds, cpu_seconds = timed(run)
            results[search] = (result, seconds, cpu_seconds)
            cpu[search] += cpu_seconds
            counts = rule_counts(problem, result)
            unbalanced[search] += counts["balance"]
            breaks[search] += counts["pickup_order"]
            over_limit[search] += counts["max_load"]
            fills[search] += full_fills(result)
            try:
                # pack and the greedy sort ignore load limits: their items over a limit are
                # counted in their own column, not as faults.
                placed = check_plan(problem, result, max_load=search == "optimize")
                if search == "optimize":
                    check_factory_order(problem, result)
                    assert len(placed) == len(problem["itemTable"]), "items left out"
            except AssertionError as error:
                faults.append(f"{search} on {name}: {error}")
            (limited_totals if name.endswith(LIMITED_SUFFIX) else totals)[search] += result["cost"]
            cells.append(
                f"{result['cost']:,.0f} / {result['totalBins']} / {result['utilization']:.0%} / {seconds:.1f}s"
            )
        optimized = results["optimize"][0]["cost"]
        if optimized > results["pack"][0]["cost"]:
            dearer_than_pack.append(name)
        if optimized > results["greedy"][0]["cost"]:
            dearer_than_greedy.append(name)
        if name.startswith("200 items"):
            # Load limits cost the packer a check per raised place: measured apart.
            limited = name.endswith(LIMITED_SUFFIX)
            (limited_ratios if limited else ratios).append(
                results["optimize"][1] / results["pack"][1]
            )
            (limited_cpu_ratios if limited else cpu_ratios).append(
                results["optimize"][2] / results["pack"][2]
            )
        rows.append(cells)
        print(" | ".join(cells), file=sys.stderr, flush=True)

    saving = 1 - totals["optimize"] / totals["pack"]
    versus_greedy = 1 - totals["optimize"] / totals["greedy"]
    worst_ratio = max(ratios) if ratios else math.nan
    worst_cpu_ratio = max(cpu_ratios) if cpu_ratios else math.nan
    large = []
    for count, kinds in () if options.quick else LARGE_LOADS:
        problem = twelve_carton_load(count, seed=count + kinds, kinds=kinds)
        result, seconds, _ = timed(lambda p=problem: stowra.optimize(p, threads=options.threads))
        check_plan(problem, result)
        large.append((f"{count} cartons of {kinds} kinds, 40GP", full_fills(result), seconds))
    large_fills = [fill for _, row_fills, _ in large for fill in row_fills]
    large_mean = sum(large_fills) / len(large_fills) if large_fills else math.nan
    large_text = f"{large_mean:.1%}" if large_fills else "not run"
    targets = [
        (
            not dearer_than_pack,
            "optimize never costs more than pack"
            + (f" (dearer on: {', '.join(dearer_than_pack)})" if dearer_than_pack else ""),
        ),
        (saving >= 0.20, f"optimize costs at least 20% less than pack in total: {saving:.1%} less"),
        (
            not dearer_than_greedy,
            "optimize never costs more than the greedy baseline"
            + (f" (dearer on: {', '.join(dearer_than_greedy)})" if dearer_than_greedy else ""),
        ),
        (
            worst_ratio <= 2.5,
            f"optimize's time at most 2.5x pack's on the 200-item shipments: worst {worst_ratio:.2f}x"
            f" wall, {worst_cpu_ratio:.2f}x CPU"
            + "".join(
                f" (with load limits: {wall:.2f}x wall, {cpu_ratio:.2f}x CPU)"
                for wall, cpu_ratio in zip(limited_ratios, limited_cpu_ratios, strict=True)
            ),
        ),
        (
            unbalanced["optimize"] == 0,
            f"no optimize container over 60% in one half: {unbalanced['optimize']}",
        ),
        (
            breaks["optimize"] == 0,
            f"no pickup-order break in optimize's plans: {breaks['optimize']}",
        ),
        (
            not large or large_mean >= 0.9,
            f"full containers of large carton loads at 90% fill or more: {large_text}",
        ),
        (
            over_limit["optimize"] == 0,
            f"no item over its max_load in optimize's plans: {over_limit['optimize']}",
        ),
        (
            options.quick or totals["optimize"] <= 1.02 * BEFORE_RULES_TOTAL,
            f"optimize's total at most 2% above {BEFORE_RULES_TOTAL:,} (before the loading rules): "
            + (
                "not run (--quick)"
                if options.quick
                else f"{totals['optimize'] / BEFORE_RULES_TOTAL - 1:+.2%}"
            ),
        ),
        (
            not faults,
            "every plan passes the plan checker"
            + (f" (faults: {'; '.join(faults)})" if faults else ""),
        ),
    ]
    command = "python bench/plan_quality.py" + (" --quick" if options.quick else "")
    lines = [
        "## Plan quality: optimize against pack and a greedy sort",
        "",
        f"`{command}` ({os.cpu_count()} cores, threads={options.threads}; each cell: cost / containers / fill / seconds)",
        "",
        "| shipment | items | lower bound (containers / cost) | greedy | pack | optimize |",
        "|---|---:|---:|---:|---:|---:|",
        *("| " + " | ".join(cells) + " |" for cells in rows),
        "",
        f"Total cost: greedy {totals['greedy']:,.0f}, pack {totals['pack']:,.0f}, optimize {totals['optimize']:,.0f} "
        f"({saving:.1%} less than pack, {versus_greedy:.1%} less than greedy), without the shipments"
        f" with load limits; with them: greedy {limited_totals['greedy']:,.0f}, pack"
        f" {limited_totals['pack']:,.0f}, optimize {limited_totals['optimize']:,.0f}.",
        "",
        "| search | total cost | over 60% in one half | items behind or below an earlier factory's | items over their max_load"
        " | mean fill of full containers | CPU seconds |",
        "|---|---:|---:|---:|---:|---:|---:|",
        *(
            f"| {search} | {totals[search]:,.0f} | {unbalanced[search]} | {breaks[search]} | {over_limit[search]} | "
            f"{sum(fills[search]) / max(len(fills[search]), 1):.1%} | {cpu[search]:.1f} |"
            for search in searches
        ),
        "",
        *(
            f"Large load (optimize): {name}: full containers {', '.join(f'{f:.0%}' for f in row_fills)}"
            f" ({seconds:.1f}s)"
            for name, row_fills, seconds in large
        ),
        "",
        *(f"- {'met' if met else 'MISSED'}: {text}" for met, text in targets),
        "",
    ]
    text = "\n".join(lines)
    print(text)
    if options.out:
        out = Path(options.out)
        temporary = out.with_name(out.name + ".tmp")
        temporary.write_text(text, encoding="utf-8")
        temporary.replace(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
