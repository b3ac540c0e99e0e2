"""Batch planning: a plain loop of searches against pack_many on a local Dask cluster.

24 generated shipments of 100 to 400 items, searched at the defaults with threads=1, first
one after the other in this process, then through pack_many with one worker process per core;
the plans must be identical. The exact search (pack's) is measured first, then the default
optimize search, with a time limit long enough never to cut a search short, so its plans stay
comparable. A round of the exact search with generations=0 makes each search short, so
what is left of pack_many's time beyond the loop's share per worker is the cost of
scheduling: shipping inputs and results, and, once per batch, starting and closing the
cluster (reported apart).

Run: python bench/batch.py [--out FILE.md] [--quick]
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import time
from pathlib import Path
from typing import Any

from _loads import mixed_load

import stowra
from stowra.batch import connect, gather
from stowra.native_output import silenced_native_stdout
from stowra.searches import run_search

SPEEDUP_TARGET = 1.7
OVERHEAD_TARGET_MS = 50.0


def shipments(count: int, smallest: int, largest: int) -> list[dict[str, Any]]:
    step = (largest - smallest) / max(count - 1, 1)
    return [mixed_load(smallest + round(step * i), seed=1000 + i) for i in range(count)]


def comparable(plan: dict[str, Any]) -> str:
    return json.dumps({key: value for key, value in plan.items() if key != "elapsedSeconds"})


def loop(loads: list[dict[str, Any]], options: dict[str, Any]) -> tuple[float, float, list[str]]:
    """Wall seconds, CPU seconds and plans of one search after the other."""
    start, cpu = time.perf_counter(), time.process_time()
    with silenced_native_stdout():
        plans = [comparable(run_search(load, threads=1, **options)) for load in loads]
    return time.perf_counter() - start, time.process_time() - cpu, plans


def many(loads: list[dict[str, Any]], options: dict[str, Any], workers: int) -> dict[str, Any]:
    """pack_many's wall seconds with and without the cluster's start and close, the CPU
    seconds of its busiest worker and of all processes together, and the plans."""
    start = time.perf_counter()
    with connect(None, workers) as client:
        client.run(lambda: None)  # every worker up before the packing clock starts
        before = client.run(time.process_time)
        packing, cpu = time.perf_counter(), time.process_time()
        outcomes = gather(stowra.pack_many(loads, scheduler=client, threads=1, **options))
        packed, client_cpu = time.perf_counter() - packing, time.process_time() - cpu
        used = [spent - before[worker] for worker, spent in client.run(time.process_time).items()]
    total = time.perf_counter() - start
    failed = [outcome.error for outcome in outcomes if not outcome.ok]
    if failed:
        raise SystemExit(f"pack_many failed: {failed[0]}")
    plans = [comparable(outcome.result or {}) for outcome in outcomes]
    return {
        "total": total,
        "packed": packed,
        "busiest_cpu": max(used),
        "all_cpu": sum(used) + client_cpu,
        "plans": plans,
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, help="write the markdown section here")
    parser.add_argument("--quick", action="store_true", help="a short smoke run")
    args = parser.parse_args()
    workers = os.cpu_count() or 1
    count, smallest, largest = (4, 30, 60) if args.quick else (24, 100, 400)
    loads = shipments(count, smallest, largest)
    rounds = {
        "exact": {"search": "exact"},
        "exact, generations=0": {"search": "exact", "generations": 0},
        "optimize": {"search": "optimize", "time_limit": 3600.0},
    }
    if args.quick:  # each search reads only its own option
        rounds = {
            name: {**options, "pop_size": 10, "effort": 0} for name, options in rounds.items()
        }

    rows, figures = [], {}
    for name, options in rounds.items():
        loop_seconds, loop_cpu, loop_plans = loop(loads, options)
        run = many(loads, options, workers)
        if run["plans"] != loop_plans:
            raise SystemExit(f"{name}: pack_many's plans differ from the loop's")
        figures[name] = (loop_seconds, loop_cpu, run)
        rows.append(
            f"| {name} | {loop_seconds:.2f} | {run['total']:.2f} | {run['packed']:.2f} "
            f"| {loop_seconds / run['total']:.2f}x | {loop_cpu:.2f} | {run['busiest_cpu']:.2f} "
            f"| {loop_cpu / run['busiest_cpu']:.2f}x | {count} identical |"
        )
        print(rows[-1], file=sys.stderr)

    loop_seconds, loop_cpu, run = figures["exact"]
    speedup, cpu_speedup = loop_seconds / run["total"], loop_cpu / run["busiest_cpu"]
    short_loop, short_cpu, short = figures["exact, generations=0"]
    optimize_loop, optimize_cpu, optimize = figures["optimize"]
    overhead_ms = (short["packed"] - short_loop / workers) / count * 1000
    overhead_cpu_ms = (short["all_cpu"] - short_cpu) / count * 1000
    load = os.getloadavg()[0]
    section = "\n".join(
        [
            "## Batch planning (`bench/batch.py`)",
            "",
            f"Command: `python bench/batch.py{' --quick' if args.quick else ''}`; {count} "
            f"shipments of {smallest} to {largest} items, threads=1, {workers} workers; "
            f"load average {load:.1f} at the end (wall times stretch when other work shares "
            "the cores; CPU seconds do not).",
            "",
            "| round | loop s | pack_many s (with cluster start) | packing alone s "
            "| speed-up | loop CPU s | busiest worker CPU s | CPU-bound speed-up | plans |",
            "|---|---|---|---|---|---|---|---|---|",
            *rows,
            "",
            f"- pack_many at least {SPEEDUP_TARGET}x faster than the loop (exact search): "
            f"{speedup:.2f}x wall, "
            f"{'met' if speedup >= SPEEDUP_TARGET else 'missed'}; {cpu_speedup:.2f}x from CPU "
            "seconds (loop / busiest worker: the wall speed-up on otherwise idle cores, less "
            "the cluster's start). The optimize search, the default: "
            f"{optimize_loop / optimize['total']:.2f}x wall, "
            f"{optimize_cpu / optimize['busiest_cpu']:.2f}x from CPU seconds.",
            f"- scheduling overhead under {OVERHEAD_TARGET_MS:g} ms per shipment "
            f"(generations=0): {overhead_ms:.0f} ms wall (pack_many's packing time beyond the "
            f"loop's time / {workers}, per shipment), "
            f"{'met' if overhead_ms < OVERHEAD_TARGET_MS else 'missed'}; {overhead_cpu_ms:.0f} ms "
            "of CPU (all processes of pack_many less the loop, per shipment). Starting and "
            f"closing the cluster costs {short['total'] - short['packed']:.1f} s once per batch.",
            "",
        ]
    )
    print(section)
    if args.out:
        args.out.write_text(section, encoding="utf-8")


if __name__ == "__main__":
    main()
