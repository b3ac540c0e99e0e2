"""What the commands share: exit statuses, the usage error, the parser and its common options,
and writing a plan's output files."""

from __future__ import annotations

import argparse
import json
import sys
import tempfile
from collections.abc import Callable
from pathlib import Path
from typing import Any, NoReturn, TextIO

from stowra.atomic_write import write_text
from stowra.files import Shipment
from stowra.plotting import require
from stowra.reading import Reading
from stowra.searches import DEFAULT_SEARCH, OPTIONS, SEARCHES, SearchOption

SearchFn = Callable[..., dict[str, Any]]

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# An option whose default differs by search is left to the search (None).
PACK_DEFAULTS: dict[str, Any] = {
    "search": DEFAULT_SEARCH,
    **{o.name: None if isinstance(o.default, dict) else o.default for o in OPTIONS},
}
SHIPMENT_HELP = (
    "A shipment is a JSON file shaped like pack's input ({'itemTable': [...], 'binTable': "
    "[...]}), a TOML file with [[itemTable]] and [[binTable]] tables, an Excel workbook with "
    "sheets 'items' and 'containers', or two CSV files (items and containers, in either order) whose columns "
    "are the same keys. A JSON or TOML file may instead name the "
    "CSV files: items = 'items.csv', containers = 'containers.csv'. Item rows may carry a "
    "quantity. Exit status: 0 done, 1 items left out with --strict (or the core failed), "
    "2 bad usage or bad input."
)


class UsageError(Exception):
    """A mistake by the user: reported as one line on stderr, exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, not the usage block: the usage is one --help away.
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see '{self.prog} --help')\n")


def int32(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise argparse.ArgumentTypeError(f"{value} is out of range")
    return value


def port(text: str) -> int:
    number = int32(text)
    if not 0 <= number <= 65535:
        raise argparse.ArgumentTypeError(f"{number} is not a port (0 to 65535)")
    return number


def seconds(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected seconds, got {text!r}") from None


def share(low: float, high: float) -> Callable[[str], float]:
    def convert(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"must be from {low:g} to {high:g}, got {text}")
        return value

    return convert


def _flag(option: SearchOption) -> tuple[Callable[[str], Any], str, str]:
    """Converter, metavar and help of a search option's flag."""
    if option.kind is int:
        convert, metavar = int32, "N"
    elif option.low_open:
        convert, metavar = seconds, "SECONDS"
    else:
        convert, metavar = share(option.low or 0, option.high or 0), "SHARE"
    text = option.help
    if option.searches != SEARCHES:
        text = f"{' and '.join(option.searches)} only: {text}"
    if isinstance(option.default, dict):
        each = ", ".join(f"{value:g} for {search}" for search, value in option.default.items())
        text = f"{text} (default {each})"
    return convert, metavar, text


# Flags, metavar, help: one output file each; a command's defaults may name any of them.
_OUTPUT_FILES: list[tuple[tuple[str, ...], str, str]] = [
    (
        ("-o", "--output"),
        "FILE.json",
        "write the plan as JSON ('-' for stdout; the report then goes to stderr)",
    ),
    (("--png",), "FILE.png", "draw every container in 3D into a PNG picture (needs stowra[plot])"),
    (
        ("--html",),
        "FILE.html",
        "write an interactive 3D view that works offline (needs stowra[plot])",
    ),
    (
        ("--instructions",),
        "FILE.csv",
        "write the loading list: one row per item in loading order, per container",
    ),
    (
        ("--pdf",),
        "FILE.pdf",
        "write the loading sheet for the crew: a summary, then each container's pictures and "
        "loading steps (needs stowra[pdf])",
    ),
]
PAPERS = ("a4", "letter")


def add_paper_option(group: Any) -> None:
    group.add_argument(
        "--paper",
        choices=PAPERS,
        default="a4",
        help="paper size of the loading sheet (default %(default)s)",
    )


def add_search_options(parser: argparse.ArgumentParser, defaults: dict[str, Any]) -> None:
    search = parser.add_argument_group("search")
    search.add_argument(
        "--search",
        choices=SEARCHES,
        default=defaults["search"],
        help="optimize: the cheapest plan over every container type; exact: pack's genetic "
        "search, whose plans are fixed for a seed (default %(default)s)",
    )
    for option in OPTIONS:
        if option.kind is bool:
            continue
        convert, metavar, text = _flag(option)
        default = defaults[option.name]
        search.add_argument(
            "--" + option.name.replace("_", "-"),
            dest=option.name,
            type=convert,
            default=default,
            metavar=metavar,
            help=text if default is None else f"{text} (default %(default)s)",
        )
    # The one switch: on by default, so the flag turns it off.
    search.add_argument(
        "--no-pickup-order",
        dest="pickup_order",
        action="store_false",
        default=defaults["pickup_order"],
        help="optimize only: let an item of a later factory stand behind or below one of an "
        "earlier factory (for factory numbers that are only groups, not pickup stops)",
    )


def add_run_options(parser: argparse.ArgumentParser, defaults: dict[str, Any]) -> None:
    add_search_options(parser, defaults)
    output = parser.add_argument_group("output")
    for flags, metavar, text in _OUTPUT_FILES:
        default = defaults.get(flags[-1].lstrip("-"))
        output.add_argument(
            *flags,
            metavar=metavar,
            default=default,
            help=text + (" (default %(default)s)" if default else ""),
        )
    add_paper_option(output)
    output.add_argument(
        "-q", "--quiet", action="store_true", help="do not print the search's progress lines"
    )
    output.add_argument(
        "--strict",
        action="store_true",
        help="exit with status 1 when the plan leaves items out",
    )


def workers(text: str) -> int:
    value = int32(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"needs at least 1 worker, got {value}")
    return value


def say(stream: TextIO, message: str) -> None:
    print(f"stowra: {message}", file=stream)


def check_outputs(args: argparse.Namespace) -> None:
    """Refuse unwritable outputs and missing extras before a long search, not after."""
    for option, value in (
        ("--output", args.output),
        ("--png", args.png),
        ("--html", args.html),
        ("--instructions", args.instructions),
        ("--pdf", args.pdf),
    ):
        if value is None or (option == "--output" and value == "-"):
            continue
        path = Path(value)
        if not value or path.is_dir():
            raise UsageError(f"{option}: {value!r} is not a file name")
        if not path.parent.is_dir():
            raise UsageError(f"{option}: directory {str(path.parent)!r} does not exist")
        try:  # a read-only folder is found now, not after the search
            with tempfile.TemporaryFile(dir=path.parent):
                pass
        except OSError as error:
            raise UsageError(
                f"{option}: cannot write in {str(path.parent)!r}: {error.strerror or error}"
            ) from None
    if args.png:
        require("matplotlib", "--png")
        require("mpl_toolkits.mplot3d", "--png")
    if args.html:
        require("plotly", "--html")
    if args.pdf:
        from stowra.loading_sheet import require_pdf

        require_pdf("--pdf")


def _writing(path: str, write: Callable[[], Any]) -> Any:
    # The error names the file asked for: a full disk says nothing of it, and the write goes
    # to a temporary name first.
    try:
        return write()
    except OSError as error:
        raise UsageError(f"cannot write {path}: {error.strerror or error}") from None


def write_outputs(
    args: argparse.Namespace,
    result: dict[str, Any],
    shipment: Shipment,
    reading: Reading,
    report: TextIO,
) -> None:
    problem = shipment.input
    if args.output == "-":
        json.dump(result, sys.stdout, indent=2)
        sys.stdout.write("\n")
        sys.stdout.flush()
    elif args.output:
        text = json.dumps(result, indent=2) + "\n"
        _writing(args.output, lambda: write_text(Path(args.output), text))
        print(f"Plan written to {args.output}", file=report)
    if args.png:
        from stowra.plotting import plot, save_png

        _writing(args.png, lambda: save_png(plot(result, problem, reading), Path(args.png)))
        print(f"Picture written to {args.png}", file=report)
    if args.html:
        from stowra.html_view import write_html

        _writing(args.html, lambda: write_html(Path(args.html), result, problem, reading))
        print(f"Interactive view written to {args.html}", file=report)
    if args.instructions:
        from stowra.loading_list import write_loading_list

        path = Path(args.instructions)
        rows = _writing(args.instructions, lambda: write_loading_list(path, reading))
        print(f"Loading list ({rows} rows) written to {args.instructions}", file=report)
    if args.pdf:
        from stowra.loading_sheet import write_loading_sheet

        write_loading_sheet(Path(args.pdf), reading, problem, title=shipment.name, paper=args.paper)
        print(f"Loading sheet written to {args.pdf}", file=report)
