"""``stowra pack``: pack a shipment file, report the plan and write its files."""

from __future__ import annotations

import argparse
import os
import sys
from typing import IO, Any, TextIO

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

    devnull: IO[bytes] | None = None
    target: int | None = None
    if args.quiet:
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
