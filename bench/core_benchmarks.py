"""The C++ micro-benchmarks (bench/*.cpp), this tree against a baseline commit.

- decode_bench: decoding speed of the packer in items per second, on problem 1 of BR1 and on
  300 cartons of 20-60 cm;
- search_bench: wall time of a whole search (pop 100) on its generated load, at 200 items with
  50 generations on 1 and 2 threads, and at 5,000 items with 5 generations on 2 threads.

Each version runs its own build of the benchmarks; baseline and current runs alternate.

Run: python bench/core_benchmarks.py [--runs 5] [--baseline ad2bcdc | --no-baseline] [--quick]
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path

from _bench import (
    ROOT,
    arguments,
    baseline_for,
    cell,
    current_build,
    load_average,
    run,
    runs_for,
    spread,
    verdict,
    write_section,
)

BR1 = ROOT / "data" / "container-loading" / "BR1.txt"
DECODE_LOADS = {"BR1 problem 1": "BR1 problem 1", "cartons 20-60 cm": "300 cartons of 20-60 cm"}


@dataclass(frozen=True)
class Search:
    threads: int
    items: int
    generations: int

    def label(self) -> str:
        return (
            f"search_bench: {self.items:,} items, {self.generations} generations, "
            f"threads {self.threads} (wall s)"
        )

    def command(self, build: Path) -> list[str]:
        shape = [str(self.items), "42", str(self.generations)]
        return [str(build / "search_bench"), str(self.threads), *shape]


def searches(quick: bool) -> list[Search]:
    if quick:
        return [Search(2, 200, 5), Search(1, 200, 5), Search(2, 500, 1)]
    return [Search(2, 200, 50), Search(1, 200, 50), Search(2, 5000, 5)]


def decode_speeds(build: Path, seconds: float) -> dict[str, float]:
    """Items per second of each decode_bench load."""
    output = run([str(build / "decode_bench"), str(BR1), str(seconds)])
    speeds = {}
    for name in DECODE_LOADS:
        line = next(line for line in output.splitlines() if line.startswith(name))
        speeds[name] = float(re.search(r"([\d.]+) items/s", line).group(1))
    return speeds


def search_result(command: list[str]) -> tuple[float, str]:
    """Wall seconds and 'bins fitness' of one search."""
    last = run(command).strip().splitlines()[-1]
    wall = float(re.search(r"wall=([\d.]+)s", last).group(1))
    plan = " ".join(
        re.search(pattern, last).group(1) for pattern in (r"bins=(\d+)", r"fitness=(\S+)")
    )
    return wall, plan


def main() -> None:
    options = arguments(__doc__.splitlines()[0]).parse_args()
    baseline = baseline_for(options)
    runs = runs_for(options)
    seconds = 0.3 if options.quick else 2.0
    builds = {"after": current_build()}
    if baseline:
        builds = {"before": baseline.build, **builds}
    load_before = load_average()

    figures: dict[tuple[str, str], list[float]] = {}
    plans: dict[tuple[str, str], set[str]] = {}
    all_searches = searches(options.quick)
    for _ in range(runs):
        for version, build in builds.items():
            for name, speed in decode_speeds(build, seconds).items():
                figures.setdefault(
                    (f"decode_bench: {DECODE_LOADS[name]} (items/s)", version), []
                ).append(speed)
        for search in all_searches:
            for version, build in builds.items():
                wall, plan = search_result(search.command(build))
                figures.setdefault((search.label(), version), []).append(wall)
                plans.setdefault((search.label(), version), set()).add(plan)

    labels = list(dict.fromkeys(label for label, _ in figures))
    header = ["Figure", "After"]
    if baseline:
        header = ["Figure", "Before", "After", "Speed-up", "Same plan"]
    table = [header]
    speedups = {}
    for label in labels:
        after = figures[(label, "after")]
        digits = 0 if label.startswith("decode_bench") else 3
        if not baseline:
            table.append([label, cell(after, digits)])
            continue
        before = figures[(label, "before")]
        faster = spread(after)[1] / spread(before)[1]
        if label.startswith("search_bench"):
            faster = 1 / faster  # times: lower is better
        speedups[label] = faster
        same = "-"
        if (label, "after") in plans:
            same = "yes" if plans[(label, "before")] == plans[(label, "after")] else "NO"
        table.append([label, cell(before, digits), cell(after, digits), f"{faster:.2f}x", same])

    targets = []
    cartons = f"decode_bench: {DECODE_LOADS['cartons 20-60 cm']} (items/s)"
    large = all_searches[2].label()
    if baseline:
        for label, wanted in ((cartons, 1.5), (large, 1.8)):
            targets.append(
                f"{label.split(' (')[0]}: at least {wanted}x {baseline.commit[:7]}: "
                f"{speedups[label]:.2f}x, {verdict(speedups[label], wanted)}"
            )
    two, one = all_searches[0].label(), all_searches[1].label()
    scaling = spread(figures[(one, "after")])[1] / spread(figures[(two, "after")])[1]
    targets.append(
        f"search_bench at {all_searches[0].items} items: threads 2 at least 1.85x faster than "
        f"threads 1: {scaling:.2f}x, {verdict(scaling, 1.85)}"
    )

    method = (
        f"Median (min-max) of {runs} run(s) per figure; decode_bench runs {seconds} s per load."
    )
    conditions = (load_before, baseline)
    write_section(options, "C++ micro-benchmarks", method, conditions, table, targets)


if __name__ == "__main__":
    main()
