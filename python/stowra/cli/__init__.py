"""The ``stowra`` command: pack shipment files, run the demo, write the example files, serve
the planning web page and API, pack many shipments at once.

One module per command; what they share (exit statuses, the usage error, the parser's common
options, writing output files) is in ``common``, which imports no command.
"""

from __future__ import annotations

import argparse
import signal
import sys
from collections.abc import Sequence
from typing import Any, NoReturn

from stowra import __version__
from stowra.cli import batch, demo, example, pack, serve
from stowra.cli.common import (
    EXIT_FAILED,
    EXIT_OK,
    EXIT_USAGE,
    Parser,
    SearchFn,
    UsageError,
    say,
)
from stowra.files import ShipmentError
from stowra.native_output import native_stdout_to
from stowra.plotting import MissingExtraError

__all__ = [
    "EXIT_FAILED",
    "EXIT_OK",
    "EXIT_USAGE",
    "UsageError",
    "main",
    "native_stdout_to",
    "run",
]


def _parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="stowra",
        description="Plan how to load boxes into shipping containers.",
        epilog="Run 'stowra demo' to see a plan, 'stowra COMMAND --help' for a command's options.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    for module in (pack, demo, batch, example, serve):
        module.add_parser(commands)
    return parser


def _command(args: argparse.Namespace, search_fn: SearchFn | None) -> int:
    if args.command == "example":
        return example.command(args)
    if args.command == "batch":
        return batch.run_batch(args)
    if args.command == "serve":
        return serve.command(args)
    if args.command == "demo":
        return demo.command(args, search_fn)
    return pack.command(args, search_fn)


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
        return _command(args, search_fn)
    # MemoryError: a population too large for the machine; its text says to lower pop_size.
    except (UsageError, ShipmentError, MissingExtraError, FileExistsError, MemoryError) as error:
        say(sys.stderr, f"error: {error}")
        return EXIT_USAGE
    except OSError as error:  # a file, or a closed standard output (no file name then)
        where = f"{error.filename}: " if error.filename is not None else ""
        say(sys.stderr, f"error: {where}{error.strerror or error}")
        return EXIT_USAGE
    except RuntimeError as error:
        say(sys.stderr, f"error: the packing core failed: {error}")
        return EXIT_FAILED
    except KeyboardInterrupt:
        say(sys.stderr, "interrupted")
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
        say(sys.stderr, "interrupted")
        status = 130
    finished = True
    # Held back while its handler is dropped, a Ctrl-C cannot land between the interpreter's
    # look for signals and the change (it would report a race, with a traceback); once ignored,
    # one held back is discarded.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
    if dropped and status != 130:
        say(sys.stderr, "interrupted")
        status = 130
    raise SystemExit(status)
