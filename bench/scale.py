"""Scale: optimize and pack at their defaults from 1,000 to 20,000 items.

Run: python bench/scale.py [--quick] [--out FILE.md] [--threads N] [--only optimize|pack]
                           [--save FILE.json] [--reuse FILE.json]

Each size is the plan-quality benchmark's generated mix of cartons and crates from two
factories, for 20GP, 40GP and 40HQ. Per size and search: wall seconds, cost, containers and
whether the time limit cut the search (its progress line says so). Then the growth exponent of
optimize's time (the slope of log time over log items, from the smallest to the largest size
and fitted over all), and the 3,000 cartons of ten kinds in one 40GP type, where optimize's
time is given as a share of pack's from the same run (both always run there). Each plan is
checked by the tests' plan checker, and its containers over the balance limit and its
pickup-order breaks are counted. `--save` keeps the figures as JSON;
`--reuse` takes the figures of the searches not run (`--only`) from such a file, so pack's long
runs at 20,000 items need not be repeated for every change of optimize.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

from _loads import carton_mix, twelve_carton_load  # noqa: E402
from plan_checks import (  # noqa: E402
    check_factory_order,
    check_plan,
    rule_counts,
)

import stowra  # noqa: E402

SIZES = (1000, 2000, 4000, 8000, 20000)
QUICK_SIZES = (1000, 2000)
SEARCHES = ("optimize", "pack")
CARTONS = (3000, 10)  # cartons, kinds: one 40GP type
CUT = "GA: Time limit reached"


def size_load(count: int) -> dict[str, Any]:
    return carton_mix(count, 2, "20/40/40HQ", seed=count * 10 + 2)


def carton_load() -> dict[str, Any]:
    count, kinds = CARTONS
    return twelve_carton_load(count, seed=count + kinds, kinds=kinds)


def timed(search: str, problem: dict[str, Any], threads: int) -> dict[str, Any]:
    """Runs one search at its defaults; its progress lines (descriptor 1) go to a file that is
    read for the time-limit line."""
    run = stowra.optimize if search == "optimize" else stowra.pack
    sys.stdout.flush()
    saved = os.dup(1)
    with tempfile.TemporaryFile() as lines:
        os.dup2(lines.fileno(), 1)
        try:
            start = time.perf_counter()
            result = run(problem, threads=threads)
            seconds = time.perf_counter() - start
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        lines.seek(0)
        cut = CUT in lines.read().decode("utf-8", "replace")
    placed = check_plan(problem, result)
    counts = rule_counts(problem, result)
    if search == "optimize":
        check_factory_order(problem, result)
    return {
        "seconds": seconds,
        "cost": result["cost"],
        "containers": result["totalBins"],
        "cut": cut,
        "placed": len(placed),
        # the loading rules, counted in every plan (pack keeps none of them)
        "unbalanced": counts["balance"],
        "pickup_breaks": counts["pickup_order"],
        "overloaded": counts["max_load"],
    }


def exponent(points: list[tuple[int, float]]) -> tuple[float, float]:
    """Slope of log time over log items between the ends, and the least-squares slope."""
    if len(points) < 2:
        return math.nan, math.nan
    logs = [(math.log(n), math.log(t)) for n, t in points]
    ends = (logs[-1][1] - logs[0][1]) / (logs[-1][0] - logs[0][0])
    mean_x = sum(x for x, _ in logs) / len(logs)
    mean_y = sum(y for _, y in logs) / len(logs)
    fitted = sum((x - mean_x) * (y - mean_y) for x, y in logs) / sum(
        (x - mean_x) ** 2 for x, _ in logs
    )
    return ends, fitted


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="1,000 and 2,000 items only")
    parser.add_argument("--out", type=Path, help="also write the markdown section here")
    parser.add_argument("--threads", type=int, default=0, help="threads for every search")
    parser.add_argument("--only", choices=SEARCHES, help="run this search only")
    parser.add_argument("--sizes", type=int, nargs="+", help="item counts instead of the default")
    parser.add_argument("--save", type=Path, help="write the figures to this JSON file")
    parser.add_argument("--reuse", type=Path, help="figures of the searches not run, from --save")
    options = parser.parse_args()

    sizes = options.sizes or (QUICK_SIZES if options.quick else SIZES)
    searches = (options.only,) if options.only else SEARCHES
    reused = json.loads(options.reuse.read_text()) if options.reuse else {}
    figures: dict[str, dict[str, Any]] = {}
    cases = [(str(n), lambda n=n: size_load(n)) for n in sizes]
    cases.append(("cartons", carton_load))
    for name, make in cases:
        problem = make()
        figures[name] = {}
        for search in SEARCHES:
            # The cartons compare the two times: both always run, in this run.
            if search in searches or name == "cartons":
                figures[name][search] = timed(search, problem, options.threads)
            elif search in reused.get(name, {}):
                figures[name][search] = reused[name][search] | {"reused": True}
            else:
                continue
            row = figures[name][search]
            print(
                f"{name} {search}: {row['seconds']:.1f}s cost {row['cost']:,.0f} "
                f"containers {row['containers']}{' (cut)' if row['cut'] else ''}",
                file=sys.stderr,
                flush=True,
            )
    if options.save:
        options.save.write_text(json.dumps(figures, indent=1) + "\n", encoding="utf-8")

    def cell(name: str, search: str) -> str:
        row = figures[name].get(search)
        if row is None:
            return "-"
        mark = " (cut)" if row["cut"] else ""
        again = "*" if row.get("reused") else ""
        rules = f" / {row['unbalanced']} / {row['pickup_breaks']}" if "unbalanced" in row else ""
        return (
            f"{row['seconds']:.1f}s{again} / {row['cost']:,.0f} / {row['containers']}{rules}{mark}"
        )

    command = " ".join(["python bench/scale.py", *sys.argv[1:]])
    lines = [
        "## Scale: optimize and pack from 1,000 to 20,000 items",
        "",
        f"`{command}` ({os.cpu_count()} cores, threads={options.threads}; each cell: wall seconds"
        " / cost / containers / containers over 60% in one half / pickup-order breaks, (cut)"
        " when the time limit ended the search, * figures reused from an earlier run)",
        "",
        "| items | optimize | pack |",
        "|---:|---:|---:|",
        *(f"| {n:,} | {cell(str(n), 'optimize')} | {cell(str(n), 'pack')} |" for n in sizes),
        "",
    ]
    timings = [
        (n, figures[str(n)]["optimize"]["seconds"]) for n in sizes if "optimize" in figures[str(n)]
    ]
    ends, fitted = exponent(timings)
    if timings:
        lines.append(
            f"optimize's time grows as n^{ends:.2f} from {timings[0][0]:,} to {timings[-1][0]:,}"
            f" items (least squares over all sizes: n^{fitted:.2f})."
        )
    count, kinds = CARTONS
    cartons = figures["cartons"]
    lines.append(
        f"{count:,} cartons of {kinds} kinds, one 40GP type: optimize {cell('cartons', 'optimize')},"
        f" pack {cell('cartons', 'pack')}"
    )
    if "optimize" in cartons and "pack" in cartons:
        ratio = cartons["optimize"]["seconds"] / cartons["pack"]["seconds"]
        lines.append(f"optimize's time is {ratio:.2f}x pack's on the cartons.")
    lines.append("")
    text = "\n".join(lines)
    print(text)
    if options.out:
        options.out.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
