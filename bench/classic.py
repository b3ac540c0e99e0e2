"""Classic public instances: optimize against pack, container by container.

Run: python bench/classic.py [--quick] [--out FILE.md] [--threads N]

The 47 problems of Ivancic, Mathur & Mohan (data/container-loading/thpack9.txt: one container
type at cost 1, no weight limit, factory 1, every box stackable and upright with its third
dimension up): per problem the containers optimize and pack use at their defaults, the volume
bound and the seconds of each; totals over the problems whose boxes all fit the container
upright, the others listed as such. Then the first ten problems of BR1 and BR7 (Bischoff &
Ratcliff, one 587 x 233 x 220 container type): containers and the fill of the fullest
container. Every plan goes through the tests' plan checker. `--quick` takes the first ten
thpack9 problems and three of each BR file.
"""

from __future__ import annotations

import math
import os
import sys
import time
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

from _bench import arguments  # noqa: E402
from _loads import bischoff_ratcliff  # noqa: E402
from plan_checks import check_plan, fits_some_type, rule_counts  # noqa: E402
from plan_quality import silenced  # noqa: E402
from problems import thpack9  # noqa: E402

import stowra  # noqa: E402

THPACK9_PROBLEMS = 47
BR_FILES = ("BR1.txt", "BR7.txt")


def volume_bound(problem: dict[str, Any]) -> int:
    container = problem["binTable"][0]
    volume = sum(row["l"] * row["w"] * row["h"] for row in problem["itemTable"])
    return math.ceil(volume / (container["l"] * container["w"] * container["h"]))


def run_both(problem: dict[str, Any], threads: int) -> dict[str, tuple[dict[str, Any], float]]:
    runs = {
        "optimize": lambda: stowra.optimize(problem, threads=threads),
        "pack": lambda: stowra.pack(problem, threads=threads),
    }
    results = {}
    for search, run in runs.items():
        with silenced():
            start = time.perf_counter()
            result = run()
            seconds = time.perf_counter() - start
        assert check_plan(problem, result) == set(range(len(problem["itemTable"]))), (
            f"{search} left items out"
        )
        results[search] = (result, seconds)
    return results


def fullest(result: dict[str, Any]) -> float:
    return max(row["spaceUtilization"] for row in result["packingTable"])


def main() -> int:
    parser = arguments(__doc__.splitlines()[0], compares=False)
    parser.add_argument("--threads", type=int, default=0, help="threads for every search")
    options = parser.parse_args()
    numbers = range(1, (10 if options.quick else THPACK9_PROBLEMS) + 1)

    rows, unfit = [], []
    totals = {
        "bound": 0,
        "optimize": 0,
        "pack": 0,
        "optimize s": 0.0,
        "pack s": 0.0,
        "unbalanced": 0,
    }
    better, worse = [], []
    for number in numbers:
        problem = thpack9(number)
        if not all(fits_some_type(problem, row) for row in problem["itemTable"]):
            unfit.append(number)
            rows.append(
                f"| {number} | {len(problem['itemTable'])} | boxes fit no container upright | | | | |"
            )
            continue
        results = run_both(problem, options.threads)
        bound = volume_bound(problem)
        (opt, opt_s), (pack, pack_s) = results["optimize"], results["pack"]
        totals["bound"] += bound
        totals["optimize"] += opt["totalBins"]
        totals["pack"] += pack["totalBins"]
        totals["optimize s"] += opt_s
        totals["pack s"] += pack_s
        totals["unbalanced"] += rule_counts(problem, opt)["balance"]
        if opt["totalBins"] < pack["totalBins"]:
            better.append(number)
        elif opt["totalBins"] > pack["totalBins"]:
            worse.append(number)
        row = (
            f"| {number} | {len(problem['itemTable'])} | {bound} | {opt['totalBins']} | {pack['totalBins']} "
            f"| {opt_s:.1f} | {pack_s:.1f} |"
        )
        rows.append(row)
        print(row, file=sys.stderr, flush=True)

    br_rows, br_worse = [], []
    for file in BR_FILES:
        for number in range(1, (3 if options.quick else 10) + 1):
            problem = bischoff_ratcliff(file, number)
            results = run_both(problem, options.threads)
            (opt, opt_s), (pack, pack_s) = results["optimize"], results["pack"]
            name = f"{file.removesuffix('.txt')} #{number}"
            if (opt["totalBins"], -fullest(opt)) > (pack["totalBins"], -fullest(pack)):
                br_worse.append(name)
            row = (
                f"| {name} | {len(problem['itemTable'])} | {volume_bound(problem)} "
                f"| {opt['totalBins']} / {fullest(opt):.1%} | {pack['totalBins']} / {fullest(pack):.1%} "
                f"| {opt_s:.1f} | {pack_s:.1f} |"
            )
            br_rows.append(row)
            print(row, file=sys.stderr, flush=True)

    fitting = len(numbers) - len(unfit)
    command = "python bench/classic.py" + (" --quick" if options.quick else "")
    lines = [
        "## Classic instances: optimize against pack",
        "",
        f"`{command}` ({os.cpu_count()} cores, threads={options.threads}; both searches at their defaults)",
        "",
        "| thpack9 problem | boxes | volume bound | optimize | pack | optimize s | pack s |",
        "|---:|---:|---:|---:|---:|---:|---:|",
        *rows,
        f"| total over {fitting} | | {totals['bound']} | {totals['optimize']} | {totals['pack']} "
        f"| {totals['optimize s']:.1f} | {totals['pack s']:.1f} |",
        "",
        f"Over the {fitting} problems whose boxes fit: optimize {totals['optimize']} containers, pack "
        f"{totals['pack']}, volume bound {totals['bound']}; optimize better on {len(better)}, equal on "
        f"{fitting - len(better) - len(worse)}, worse on {len(worse)}"
        + (f" (problems {', '.join(map(str, worse))})" if worse else "")
        + f". optimize's containers with over 60% of their cargo weight in one half: {totals['unbalanced']}."
        + (
            f" Boxes fit no container upright: problems {', '.join(map(str, unfit))}."
            if unfit
            else ""
        ),
        "",
        "| BR problem | boxes | volume bound | optimize (containers / fullest) | pack | optimize s | pack s |",
        "|---|---:|---:|---:|---:|---:|---:|",
        *br_rows,
        "",
        "BR problems where optimize does worse than pack (more containers, or a less full fullest one): "
        + (", ".join(br_worse) if br_worse else "none")
        + ".",
        "",
    ]
    text = "\n".join(lines)
    print(text)
    if options.out:
        temporary = options.out.with_name(options.out.name + ".tmp")
        temporary.write_text(text, encoding="utf-8")
        temporary.replace(options.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
