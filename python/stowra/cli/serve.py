"""``stowra serve``: the planning web page and JSON API."""

from __future__ import annotations

import argparse
from collections.abc import Callable
from pathlib import Path
from typing import Any

from stowra.cli.common import UsageError, int32, port, seconds

# Option, settings field, converter, metavar, help: the service's limits on what clients send.
_SERVE_LIMITS: list[tuple[str, str, Callable[[str], Any], str, str]] = [
    ("--max-body", "max_body", int32, "BYTES", "largest request body"),
    ("--max-time-limit", "max_time_limit", seconds, "SECONDS", "longest search a plan may ask"),
    ("--max-items", "max_items", int32, "N", "most items in one shipment"),
    ("--max-queue", "max_queue", int32, "N", "most plans waiting for a worker"),
    ("--max-connections", "max_connections", int32, "N", "most connections open at once"),
    ("--header-timeout", "header_timeout", seconds, "SECONDS", "longest wait for a request head"),
    ("--body-timeout", "body_timeout", seconds, "SECONDS", "longest wait for a request body"),
]


def add_parser(commands: Any) -> None:
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
        "--port", type=port, default=8000, help="port, 0 for any free one (default %(default)s)"
    )
    serve.add_argument(
        "--data",
        default=str(defaults.data),
        metavar="DIR",
        help="data folder (default %(default)s)",
    )
    serve.add_argument(
        "--workers",
        type=int32,
        default=defaults.workers,
        metavar="N",
        help="searches run at once (default %(default)s: processors less one)",
    )
    serve.add_argument(
        "--token",
        help="require 'Authorization: Bearer TOKEN' on every /api call (default $STOWRA_TOKEN)",
    )
    serve.add_argument(
        "--allow-host",
        action="append",
        default=[],
        metavar="NAME",
        help="a host name clients reach the service by, besides localhost and its addresses "
        "(repeat for more); requests naming any other are refused",
    )
    for flag, key, convert, metavar, text in _SERVE_LIMITS:
        serve.add_argument(
            flag,
            type=convert,
            default=getattr(defaults, key),
            metavar=metavar,
            help=f"{text} (default %(default)s)",
        )


def command(args: argparse.Namespace) -> int:
    from stowra.service.settings import Settings

    try:
        settings = Settings.from_environment(
            data=Path(args.data),
            workers=args.workers,
            token=args.token,
            allowed_hosts=tuple(args.allow_host),
            **{key: getattr(args, key) for _, key, *_ in _SERVE_LIMITS},
        )
    except ValueError as error:
        raise UsageError(str(error)) from None
    try:
        from stowra.service.server import serve
    except ImportError as error:
        raise UsageError(f"stowra serve needs {error.name}: pip install 'stowra[serve]'") from None
    return serve(settings, args.host, args.port)
