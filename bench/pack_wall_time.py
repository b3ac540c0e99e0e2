"""Wall time and peak memory of `stowra.pack`, this tree against a baseline commit.

Each run is one pack in a fresh process (bench/_pack_once.py) with `time_limit=0`, so the
generation count ends every search; baseline and current runs alternate, so load on the
machine hits both alike. The plans of both versions must agree bit for bit.

Run: python bench/pack_wall_time.py [--runs 5] [--baseline ad2bcdc | --no-baseline] [--quick]
"""

from __future__ import annotations

import json
import sys
from dataclasses import dataclass
from pathlib import Path

from _bench import (
    arguments,
    baseline_for,
    cell,
    load_average,
    run,
    runs_for,
    spread,
    verdict,
    write_section,
)
from _loads import LOAD_NAMES

WORKER = Path(__file__).resolve().parent / "_pack_once.py"


@dataclass(frozen=True)
class Case:
    load: str
    items: int
    generations: int
    threads: int

    def label(self) -> str:
        return (
            f"{self.items:,} items, {LOAD_NAMES[self.load]}, pop 100, "
            f"{self.generations} generations, threads {self.threads}"
        )


def cases(quick: bool) -> list[Case]:
    small, large, generations, large_generations = (200, 5000, 50, 5)
    if quick:
        small, large, generations, large_generations = (60, 400, 3, 1)
    return [
        Case("twelve", small, generations, 2),
        Case("twelve", small, generations, 1),
        Case("mixed", small, generations, 2),
        Case("mixed", small, generations, 1),
        Case("twelve", large, large_generations, 2),
    ]


def pack_once(python: Path, case: Case) -> dict:
    shape = ["--items", str(case.items), "--generations", str(case.generations)]
    output = run(
        [str(python), str(WORKER), "--load", case.load, *shape, "--threads", str(case.threads)]
    )
    return json.loads(output.strip().splitlines()[-1])


def ratio(before: list[float], after: list[float]) -> float:
    return spread(before)[1] / spread(after)[1]


def main() -> None:
    options = arguments(__doc__.splitlines()[0]).parse_args()
    baseline = baseline_for(options)
    runs = runs_for(options)
    load_before = load_average()
    all_cases = cases(options.quick)
    walls: dict[tuple[Case, str], list[float]] = {}
    peaks: dict[tuple[Case, str], list[float]] = {}
    plans: dict[tuple[Case, str], set] = {}
    versions = [("after", Path(sys.executable))]
    if baseline:
        versions.insert(0, ("before", baseline.python))
    for _ in range(runs):
        for case in all_cases:
            for name, python in versions:
                result = pack_once(python, case)
                walls.setdefault((case, name), []).append(result["wall"])
                peaks.setdefault((case, name), []).append(result["peakMiB"] * 1024 * 1024 / 1e6)
                plans.setdefault((case, name), set()).add((result["fitness"], result["bins"]))

    header = ["Figure", "After: wall s", "Peak MB"]
    if baseline:
        header[1:1] = ["Before: wall s"]
        header += ["Before: peak MB", "Speed-up", "Same plan"]
    table = [header]
    for case in all_cases:
        after = walls[(case, "after")]
        row = [case.label(), cell(after), cell(peaks[(case, "after")], 0)]
        if baseline:
            before = walls[(case, "before")]
            same = (
                plans[(case, "before")] == plans[(case, "after")]
                and len(plans[(case, "after")]) == 1
            )
            row[1:1] = [cell(before)]
            row += [
                cell(peaks[(case, "before")], 0),
                f"{ratio(before, after):.2f}x",
                "yes" if same else "NO",
            ]
        table.append(row)

    targets = []
    twelve2, twelve1, mixed2, mixed1, large = all_cases
    if baseline:
        for case, wanted in ((twelve2, 1.5), (mixed2, 1.5), (large, 1.8)):
            speedup = ratio(walls[(case, "before")], walls[(case, "after")])
            targets.append(
                f"{case.label()}: at least {wanted}x faster than {baseline.commit[:7]}: "
                f"{speedup:.2f}x, {verdict(speedup, wanted)}"
            )
    for two, one in ((twelve2, twelve1), (mixed2, mixed1)):
        scaling = ratio(walls[(one, "after")], walls[(two, "after")])
        targets.append(
            f"{two.items} items, {LOAD_NAMES[two.load]}: threads 2 at least 1.85x faster than "
            f"threads 1: {scaling:.2f}x, {verdict(scaling, 1.85)}"
        )
    peak = spread(peaks[(large, "after")])[1]
    targets.append(
        f"Peak memory at {large.items:,} items (pop 100, {large.generations} generations; the peak "
        f"comes with the initial population and first generation) at most 150 MB: "
        f"{peak:.0f} MB, {verdict(peak, 150.0, higher_is_better=False)}"
    )

    method = f"Median (min-max) of {runs} run(s) per figure, each a fresh process."
    conditions = (load_before, baseline)
    write_section(options, "Wall time and memory of pack", method, conditions, table, targets)


if __name__ == "__main__":
    main()
