"""``stowra pack``: pack a shipment file, report the plan and write its files."""

from __future__ import annotations

import argparse
import os
import sys
from typing import IO, TYPE_CHECKING, Any, TextIO

from stowra.cli.common import (
    EXIT_FAILED,
    EXIT_OK,
    PACK_DEFAULTS,
    SHIPMENT_HELP,
    SearchFn,
    UsageError,
    add_run_options,
    check_outputs,
    say,
    write_outputs,
)
from stowra.files import Shipment, load_shipment
from stowra.item_rows import explain_for
from stowra.native_output import native_stdout_to
from stowra.reading import format_report, read_plan, search_notes

if TYPE_CHECKING:
    from stowra._core import OptimizeProgress


def add_parser(commands: Any) -> None:
    pack = commands.add_parser(
        "pack",
        help="pack a shipment file and write the plan",
        description="Pack a shipment and report the plan. " + SHIPMENT_HELP,
    )
    pack.add_argument(
        "shipment",
        metavar="SHIPMENT",
        help="shipment .json, .toml or .xlsx, or the items CSV ('-' reads JSON from stdin)",
    )
    pack.add_argument(
        "containers",
        nargs="?",
        metavar="CONTAINERS.csv",
        help="the containers CSV, when SHIPMENT is the items CSV",
    )
    add_run_options(pack, PACK_DEFAULTS)


class ProgressLines:
    """optimize's steps as lines: the best starting plan, each round that changes the best
    plan's cost or container count, the start of the improvement steps and the final plan.

    No clock readings: for a seed and an effort the lines are the same for any thread count,
    unless the time limit ends the search.
    """

    def __init__(self, stream: TextIO) -> None:
        self._stream = stream
        self._shown: tuple[float, int] | None = None

    def __call__(self, step: OptimizeProgress) -> None:
        best = (step["cost"], step["containers"])
        plan = f"cost {step['cost']:,.10g} in {step['containers']} container"
        plan += "" if step["containers"] == 1 else "s"
        if step["stage"] == "start":
            line = f"best starting plan: {plan}"
        elif step["stage"] == "search":
            if best == self._shown:
                return
            line = f"round {step['round']}: {plan}"
        elif step["stage"] == "improve":
            line = f"improving the best plans after {step['round']} rounds"
        else:
            line = f"plan: {plan}"
        self._shown = best
        print(f"optimize: {line}", file=self._stream, flush=True)


def command(args: argparse.Namespace, search_fn: SearchFn | None) -> int:
    check_outputs(args)
    shipment = load_shipment([args.shipment, *([args.containers] if args.containers else [])])
    return plan(args, shipment, search_fn)


def plan(args: argparse.Namespace, shipment: Shipment, search_fn: SearchFn | None) -> int:
    """Search a plan for the shipment as the options say, report it and write its files."""
    if search_fn is None:
        from stowra.searches import run_search as search_fn
    report: TextIO = sys.stderr if args.output == "-" else sys.stdout
    for warning in shipment.warnings:
        say(sys.stderr, f"warning: {warning}")
    for note in search_notes(shipment.input, args.search):
        say(sys.stderr, f"note: {note}")

    # The exact search writes its "GA: " lines to descriptor 1 itself; optimize reports its
    # steps to a callable, which prints them here.
    devnull: IO[bytes] | None = None
    target: int | None = None
    progress: ProgressLines | None = None
    if args.search != "exact":
        progress = None if args.quiet else ProgressLines(report)
    elif args.quiet:
        devnull = open(os.devnull, "wb")  # noqa: SIM115 - closed below, after the call
        target = devnull.fileno()
    elif args.output == "-":
        sys.stderr.flush()
        target = 2
    try:
        with native_stdout_to(target):
            result = search_fn(
                shipment.input,
                search=args.search,
                effort=args.effort,
                pop_size=args.pop_size,
                generations=args.generations,
                time_limit=args.time_limit,
                threads=args.threads,
                seed=args.seed,
                balance_limit=args.balance_limit,
                pickup_order=args.pickup_order,
                progress=progress,
            )
    except ValueError as error:
        raise UsageError(explain_for(str(error), shipment)) from None
    finally:
        if devnull is not None:
            devnull.close()

    reading = read_plan(
        result,
        shipment.input,
        shipment.item_sources,
        search=args.search,
        balance_limit=args.balance_limit,
    )
    title = f"Plan for {shipment.name} ({args.search} search)"
    print(format_report(reading, title, show_left_out=False), end="", file=report)
    try:
        write_outputs(args, result, shipment, reading, report)
    except OSError as error:
        if error.filename is None:  # standard output closed: said as everywhere else
            raise
        raise UsageError(f"cannot write {error.filename}: {error.strerror}") from None
    report.flush()

    totals = reading.totals
    if totals.left_out:
        listed = "; ".join(row.text for row in reading.left_out)
        level = "error" if args.strict else "warning"
        say(sys.stderr, f"{level}: {totals.left_out} of {totals.items} items left out: {listed}")
        if args.strict:
            return EXIT_FAILED
    return EXIT_OK
