"""The ``stowra`` command: pack shipment files, run the demo, write the example files, serve
the planning web page and API."""

from __future__ import annotations

import argparse
import json
import os
import signal
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import IO, Any, NoReturn, TextIO

from stowra import __version__
from stowra.atomic_write import write_text
from stowra.examples import DEMO_SEARCH, example_json, write_example
from stowra.files import Shipment, ShipmentError, load_shipment, parse_json_shipment
from stowra.native_output import native_stdout_to
from stowra.plotting import MissingExtraError, require
from stowra.report import format_left_out, format_report, left_out, unused_types_note
from stowra.searches import DEFAULT_SEARCH, SEARCHES

__all__ = [
    "EXIT_FAILED",
    "EXIT_OK",
    "EXIT_USAGE",
    "UsageError",
    "main",
    "native_stdout_to",
    "run",
]

SearchFn = Callable[..., dict[str, Any]]

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
_PACK_DEFAULTS: dict[str, Any] = {
    "search": DEFAULT_SEARCH,
    "effort": None,
    "pop_size": 100,
    "generations": 50,
    "time_limit": None,
    "threads": 0,
    "seed": 42,
}
_DEMO_EPILOG = (
    "The demo searches briefly (seed {seed}) so it finishes in seconds and gives the same plan "
    "every run. For a better plan search longer, for example: stowra demo --effort 6. "
    "To edit the shipment, write it out with: stowra example --format json DIR"
).format(**DEMO_SEARCH)
_SHIPMENT_HELP = (
    "A shipment is a JSON file shaped like pack's input ({'itemTable': [...], 'binTable': "
    "[...]}), a TOML file with [[itemTable]] and [[binTable]] tables, an Excel workbook with "
    "sheets 'items' and 'containers', or two CSV files (items, then containers) whose columns "
    "are the same keys. A JSON or TOML file may instead name the "
    "CSV files: items = 'items.csv', containers = 'containers.csv'. Item rows may carry a "
    "quantity. Exit status: 0 done, 1 items left out with --strict (or the core failed), "
    "2 bad usage or bad input."
)


class UsageError(Exception):
    """A mistake by the user: reported as one line on stderr, exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, not the usage block: the usage is one --help away.
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see '{self.prog} --help')\n")


def _int32(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise argparse.ArgumentTypeError(f"{value} is out of range")
    return value


def _port(text: str) -> int:
    port = _int32(text)
    if not 0 <= port <= 65535:
        raise argparse.ArgumentTypeError(f"{port} is not a port (0 to 65535)")
    return port


def _seconds(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected seconds, got {text!r}") from None


# Option, key of run_search's arguments, converter, metavar, help: one search option each.
_SEARCH_OPTIONS: list[tuple[str, str, Callable[[str], Any], str, str]] = [
    (
        "--effort",
        "effort",
        _int32,
        "N",
        "optimize only: search effort, 0 to 20: up to 30 rounds each, ending after 10 each "
        "without a better plan (default 2)",
    ),
    ("--pop-size", "pop_size", _int32, "N", "exact only: population size"),
    ("--generations", "generations", _int32, "N", "exact only: most generations to search"),
    (
        "--time-limit",
        "time_limit",
        _seconds,
        "SECONDS",
        "stop searching after this long (default 60 for optimize, 300 for exact)",
    ),
    ("--threads", "threads", _int32, "N", "threads for the search, 0 for all cores"),
    ("--seed", "seed", _int32, "N", "random seed; the same seed gives the same plan"),
]

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
]


def _add_search_options(parser: argparse.ArgumentParser, defaults: dict[str, Any]) -> None:
    search = parser.add_argument_group("search")
    search.add_argument(
        "--search",
        choices=SEARCHES,
        default=defaults["search"],
        help="optimize: the cheapest plan over every container type; exact: pack's genetic "
        "search, whose plans are fixed for a seed (default %(default)s)",
    )
    for flag, key, convert, metavar, text in _SEARCH_OPTIONS:
        default = defaults[key]
        search.add_argument(
            flag,
            type=convert,
            default=default,
            metavar=metavar,
            help=text if default is None else f"{text} (default %(default)s)",
        )


def _add_run_options(parser: argparse.ArgumentParser, defaults: dict[str, Any]) -> None:
    _add_search_options(parser, defaults)
    output = parser.add_argument_group("output")
    for flags, metavar, text in _OUTPUT_FILES:
        default = defaults.get(flags[-1].lstrip("-"))
        output.add_argument(
            *flags,
            metavar=metavar,
            default=default,
            help=text + (" (default %(default)s)" if default else ""),
        )
    output.add_argument(
        "-q", "--quiet", action="store_true", help="do not print the search's progress lines"
    )
    output.add_argument(
        "--strict",
        action="store_true",
        help="exit with status 1 when the plan leaves items out",
    )


def _workers(text: str) -> int:
    value = _int32(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"needs at least 1 worker, got {value}")
    return value


def _add_batch_command(commands: Any) -> None:
    batch = commands.add_parser(
        "batch",
        help="pack many shipment files at once, on every core or on a Dask cluster",
        description="Pack every shipment and write OUTDIR/NAME.plan.json for each (NAME is "
        "the file name without its suffix) and OUTDIR/summary.csv with one row per shipment. "
        "Each plan is the one 'stowra pack' gives for the same file and search options. "
        "Exit status: 0 all packed, 1 some shipments failed (the others are still written), "
        "2 bad usage.",
        epilog="To spread a batch over several machines, start a Dask cluster on them "
        "('dask scheduler' on one, 'dask worker tcp://HOST:8786' on each, all with stowra "
        "installed) and pass --scheduler tcp://HOST:8786.",
    )
    batch.add_argument(
        "shipments",
        nargs="+",
        metavar="SHIPMENT",
        help="a shipment file (.json, .toml or .xlsx), or a folder: its shipment files are packed",
    )
    batch.add_argument(
        "-o", "--output-dir", required=True, metavar="OUTDIR", help="folder for the plans"
    )
    _add_search_options(batch, {**_PACK_DEFAULTS, "threads": 1})
    cluster = batch.add_argument_group("cluster")
    cluster.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="a running Dask scheduler, e.g. tcp://HOST:8786 (default: a cluster on this machine)",
    )
    cluster.add_argument(
        "--workers",
        type=_workers,
        metavar="N",
        help="worker processes of the cluster on this machine (default: one per core)",
    )
    output = batch.add_argument_group("output")
    output.add_argument("--png", action="store_true", help="draw each plan into NAME.png")
    output.add_argument(
        "--instructions", action="store_true", help="write each loading list as NAME.loading.csv"
    )
    output.add_argument(
        "--resume",
        action="store_true",
        help="skip shipments whose plan file was made from the same input and search options",
    )
    output.add_argument(
        "-q", "--quiet", action="store_true", help="no progress bar and no closing line"
    )


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="stowra",
        description="Plan how to load boxes into shipping containers.",
        epilog="Run 'stowra demo' to see a plan, 'stowra COMMAND --help' for a command's options.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    pack = commands.add_parser(
        "pack",
        help="pack a shipment file and write the plan",
        description="Pack a shipment and report the plan. " + _SHIPMENT_HELP,
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
    _add_run_options(pack, _PACK_DEFAULTS)

    demo = commands.add_parser(
        "demo",
        help="pack the built-in example shipment and draw it",
        description="Pack the built-in example: about 300 cartons and pallets from three "
        "factories into 20GP and 40GP containers (cm, kg). Writes the plan and a picture.",
        epilog=_DEMO_EPILOG,
    )
    _add_run_options(
        demo,
        {
            **_PACK_DEFAULTS,
            **DEMO_SEARCH,
            "output": "stowra-demo-plan.json",
            "png": "stowra-demo.png",
        },
    )

    _add_batch_command(commands)

    example = commands.add_parser(
        "example",
        help="write the built-in example shipment as files to edit",
        description="Write the example shipment as files. " + _SHIPMENT_HELP,
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
    _add_serve_command(commands)
    return parser


def _add_serve_command(commands: Any) -> None:
    from stowra.service.settings import Settings

    defaults = Settings()
    serve = commands.add_parser(
        "serve",
        help="serve the planning web page and JSON API (needs stowra[serve])",
        description="Serve a web page for planners and a JSON API for programs. Plans are "
        "kept in a SQLite database in the data folder and searched in worker processes.",
    )
    serve.add_argument("--host", default="127.0.0.1", help="address to bind (default %(default)s)")
    serve.add_argument(
        "--port", type=_port, default=8000, help="port, 0 for any free one (default %(default)s)"
    )
    serve.add_argument(
        "--data",
        default=str(defaults.data),
        metavar="DIR",
        help="data folder (default %(default)s)",
    )
    serve.add_argument(
        "--workers",
        type=_int32,
        default=defaults.workers,
        metavar="N",
        help="searches run at once (default %(default)s: processors less one)",
    )
    serve.add_argument(
        "--token",
        default=os.environ.get("STOWRA_TOKEN") or None,
        help="require 'Authorization: Bearer TOKEN' on every /api call (default $STOWRA_TOKEN)",
    )
    for flag, key, convert, metavar, text in _SERVE_LIMITS:
        serve.add_argument(
            flag,
            type=convert,
            default=getattr(defaults, key),
            metavar=metavar,
            help=f"{text} (default %(default)s)",
        )


# Option, settings field, converter, metavar, help: the service's limits on what clients send.
_SERVE_LIMITS: list[tuple[str, str, Callable[[str], Any], str, str]] = [
    ("--max-body", "max_body", _int32, "BYTES", "largest request body"),
    ("--max-time-limit", "max_time_limit", _seconds, "SECONDS", "longest search a plan may ask"),
    ("--max-items", "max_items", _int32, "N", "most items in one shipment"),
    ("--max-queue", "max_queue", _int32, "N", "most plans waiting for a worker"),
]


def _say(stream: TextIO, message: str) -> None:
    print(f"stowra: {message}", file=stream)


def _input_hint(message: str, shipment: Shipment) -> str:
    """Where the input behind a refusal of ``pack`` is: its row, or else the file of the table
    the message is about ("itemTable is empty"); empty for a message about a search option."""
    if message.split(" ", 1)[0] in _PACK_DEFAULTS:
        return ""
    about_bins = message.startswith(("Bin #", "No available bins")) or "binTable" in message
    table = "binTable" if about_bins else "itemTable"
    return shipment.where_from(message) or shipment.table_files.get(table, shipment.name)


def _check_outputs(args: argparse.Namespace) -> None:
    """Refuse unwritable outputs and missing extras before a long search, not after."""
    for option, value in (
        ("--output", args.output),
        ("--png", args.png),
        ("--html", args.html),
        ("--instructions", args.instructions),
    ):
        if value is None or (option == "--output" and value == "-"):
            continue
        path = Path(value)
        if not value or path.is_dir():
            raise UsageError(f"{option}: {value!r} is not a file name")
        if not path.parent.is_dir():
            raise UsageError(f"{option}: directory {str(path.parent)!r} does not exist")
    if args.png:
        require("matplotlib", "--png")
        require("mpl_toolkits.mplot3d", "--png")
    if args.html:
        require("plotly", "--html")


def _write_outputs(
    args: argparse.Namespace, result: dict[str, Any], shipment: Shipment, report: TextIO
) -> None:
    problem = shipment.input
    if args.output == "-":
        json.dump(result, sys.stdout, indent=2)
        sys.stdout.write("\n")
        sys.stdout.flush()
    elif args.output:
        write_text(Path(args.output), json.dumps(result, indent=2) + "\n")
        print(f"Plan written to {args.output}", file=report)
    if args.png:
        from stowra.plotting import plot, save_png

        save_png(plot(result, problem), Path(args.png))
        print(f"Picture written to {args.png}", file=report)
    if args.html:
        from stowra.html_view import write_html

        write_html(Path(args.html), result, problem)
        print(f"Interactive view written to {args.html}", file=report)
    if args.instructions:
        from stowra.loading_list import write_loading_list

        rows = write_loading_list(Path(args.instructions), result, problem, shipment.item_sources)
        print(f"Loading list ({rows} rows) written to {args.instructions}", file=report)


def _run(args: argparse.Namespace, shipment: Shipment, search_fn: SearchFn) -> int:
    report: TextIO = sys.stderr if args.output == "-" else sys.stdout
    for warning in shipment.warnings:
        _say(sys.stderr, f"warning: {warning}")
    note = unused_types_note(shipment.input) if args.search == "exact" else None
    if note:
        _say(sys.stderr, f"note: {note}")

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
            )
    except ValueError as error:
        hint = _input_hint(str(error), shipment)
        raise UsageError(f"{error} ({hint})" if hint else str(error)) from None
    finally:
        if devnull is not None:
            devnull.close()

    text = format_report(
        result,
        shipment.input,
        shipment.item_sources,
        title=f"Plan for {shipment.name} ({args.search} search)",
        show_left_out=False,
    )
    print(text, end="", file=report)
    try:
        _write_outputs(args, result, shipment, report)
    except OSError as error:
        if error.filename is None:  # standard output closed: said as everywhere else
            raise
        raise UsageError(f"cannot write {error.filename}: {error.strerror}") from None
    report.flush()

    missing = left_out(result, len(shipment.input["itemTable"]))
    if missing:
        listed = format_left_out(missing, shipment.input["itemTable"], shipment.item_sources)
        level = "error" if args.strict else "warning"
        total = len(shipment.input["itemTable"])
        _say(sys.stderr, f"{level}: {len(missing)} of {total} items left out: {listed}")
        if args.strict:
            return EXIT_FAILED
    return EXIT_OK


def _serve(args: argparse.Namespace) -> int:
    from stowra.service.settings import Settings

    try:
        settings = Settings(
            data=Path(args.data),
            workers=args.workers,
            token=args.token,
            **{key: getattr(args, key) for _, key, *_ in _SERVE_LIMITS},
        )
    except ValueError as error:
        raise UsageError(str(error)) from None
    try:
        from stowra.service.server import serve
    except ImportError as error:
        raise UsageError(f"stowra serve needs {error.name}: pip install 'stowra[serve]'") from None
    return serve(settings, args.host, args.port)


def _load(args: argparse.Namespace) -> Shipment:
    if args.command == "demo":
        return parse_json_shipment(example_json(), "example shipment.json")
    return load_shipment([args.shipment, *([args.containers] if args.containers else [])])


def main(argv: Sequence[str] | None = None, *, search_fn: SearchFn | None = None) -> int:
    """Run the command line; returns the exit status. ``search_fn`` replaces ``run_search``."""
    parser = _parser()
    try:
        args = parser.parse_args(argv)
        if args.command is None:
            parser.error("choose a command: pack, batch, demo, example or serve")
    except SystemExit as done:  # --help, --version and usage errors
        return done.code if isinstance(done.code, int) else EXIT_USAGE
    try:
        if args.command == "example":
            written = write_example(Path(args.directory), args.format, force=args.force)
            for path in written:
                print(f"wrote {path}")
            shipment_file = written[-1] if args.format == "csv" else written[0]
            print(f"Pack it with: stowra pack {shipment_file}")
            return EXIT_OK
        if args.command == "batch":
            from stowra.batch.command import run_batch

            return run_batch(args)
        if args.command == "serve":
            return _serve(args)
        _check_outputs(args)
        shipment = _load(args)
        if search_fn is None:
            from stowra.searches import run_search as search_fn
        return _run(args, shipment, search_fn)
    # MemoryError: a population too large for the machine; its text says to lower pop_size.
    except (UsageError, ShipmentError, MissingExtraError, FileExistsError, MemoryError) as error:
        _say(sys.stderr, f"error: {error}")
        return EXIT_USAGE
    except OSError as error:  # a file, or a closed standard output (no file name then)
        where = f"{error.filename}: " if error.filename is not None else ""
        _say(sys.stderr, f"error: {where}{error.strerror or error}")
        return EXIT_USAGE
    except RuntimeError as error:
        _say(sys.stderr, f"error: the packing core failed: {error}")
        return EXIT_FAILED
    except KeyboardInterrupt:
        _say(sys.stderr, "interrupted")
        return 130


def run() -> NoReturn:
    """The ``stowra`` program. A Ctrl-C while the command runs ends it with status 130 and one
    line, wherever it lands; once the command has returned, its files are in place and a
    Ctrl-C is ignored (the interpreter drops its handler while shutting down, and would die)."""
    finished = dropped = interrupted = False

    def interrupt(signum: int, frame: object) -> None:
        nonlocal interrupted
        if not finished:
            interrupted = True
            raise KeyboardInterrupt

    def unraisable(report: Any) -> None:
        # An interrupt raised inside a finalizer or weakref callback is dropped and the
        # command goes on; it is reported at the end, not as a traceback here.
        nonlocal dropped
        if issubclass(report.exc_type, KeyboardInterrupt):
            dropped = True
        else:
            sys.__unraisablehook__(report)

    signal.signal(signal.SIGINT, interrupt)
    sys.unraisablehook = unraisable
    try:
        status = main()
    except Exception:
        # A library may turn the interrupt into an error of its own (a drawing call half
        # done fails with a TypeError); after a Ctrl-C that is still the Ctrl-C.
        if not interrupted:
            raise
        _say(sys.stderr, "interrupted")
        status = 130
    finished = True
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if dropped and status != 130:
        _say(sys.stderr, "interrupted")
        status = 130
    raise SystemExit(status)
