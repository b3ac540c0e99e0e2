"""``stowra example``: write the built-in example shipment as files to edit."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any

from stowra.cli.common import EXIT_OK, SHIPMENT_HELP
from stowra.examples import write_example


def add_parser(commands: Any) -> None:
    example = commands.add_parser(
        "example",
        help="write the built-in example shipment as files to edit",
        description="Write the example shipment as files. " + SHIPMENT_HELP,
    )
    example.add_argument(
        "--format",
        choices=("json", "csv", "xlsx"),
        default="json",
        help="shipment.json, items.csv + containers.csv + shipment.toml, or shipment.xlsx "
        "(needs stowra[excel]) (default json)",
    )
    example.add_argument("--force", action="store_true", help="overwrite existing files")
    example.add_argument("directory", metavar="DIR", help="directory to write into")


def command(args: argparse.Namespace) -> int:
    written = write_example(Path(args.directory), args.format, force=args.force)
    for path in written:
        print(f"wrote {path}")
    shipment_file = written[-1] if args.format == "csv" else written[0]
    print(f"Pack it with: stowra pack {shipment_file}")
    return EXIT_OK
