"""``stowra serve``: bind, say where, run the app on uvicorn until stopped."""

from __future__ import annotations

import contextlib
import ipaddress
import logging
import socket
import sqlite3
import sys

import uvicorn

from stowra.service.app import create_app
from stowra.service.protocol import QuietRepeats, bounded_protocol
from stowra.service.settings import Settings
from stowra.service.store import DataFolderBusy

__all__ = ["serve"]


def _loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def serve(settings: Settings, host: str, port: int) -> int:
    """Serve until interrupted; returns the exit status."""
    app = create_app(settings)
    service = app.state.service
    # The data folder is held and written once before anything says the service is up.
    try:
        service.open()
    except DataFolderBusy as error:
        print(f"stowra: error: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        where = error.filename or settings.data
        print(f"stowra: error: cannot use {where}: {error.strerror}", file=sys.stderr)
        return 2
    except sqlite3.Error as error:
        where = settings.data / "plans.sqlite3"
        print(f"stowra: error: cannot use {where}: {error}", file=sys.stderr)
        return 2
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    # The protocol named, not left 0: the event loop sets TCP_NODELAY on accepted connections
    # only then, and without it a kept-alive client waits ~40 ms per answer (Nagle's delay).
    sock = socket.socket(family, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind((host, port))
    except OSError as error:
        sock.close()
        service.stop()
        print(f"stowra: error: cannot listen on {host}:{port}: {error.strerror}", file=sys.stderr)
        return 2
    # Listening before the URL is printed: a client that connects at once waits in the
    # backlog until the app has started, instead of being refused.
    sock.listen(2048)
    bound = sock.getsockname()[1]  # the port actually taken when 0 asked for any
    if not _loopback(host) and settings.token is None:
        print(
            f"stowra: warning: listening on {host} without a token: anyone who can reach "
            f"port {bound} can use this service (set --token or STOWRA_TOKEN)",
            file=sys.stderr,
        )
    shown = f"[{host}]" if family == socket.AF_INET6 else host
    print(
        f"stowra: serving on http://{shown}:{bound}/ (data in {settings.data}, "
        f"{settings.workers} worker{'s' if settings.workers != 1 else ''})",
        flush=True,
    )
    protocol = bounded_protocol(
        settings.header_timeout, settings.body_timeout, settings.max_connections
    )
    config = uvicorn.Config(
        app, log_level="warning", timeout_graceful_shutdown=5, http=protocol, timeout_keep_alive=5
    )
    quiet = QuietRepeats()
    for name in ("uvicorn.error", "asyncio", "stowra.service"):
        logging.getLogger(name).addFilter(quiet)
    # Ctrl-C is how the server is meant to stop: it has shut down cleanly when this returns.
    with contextlib.suppress(KeyboardInterrupt):
        uvicorn.Server(config).run(sockets=[sock])
    print("stowra: stopped", flush=True)
    return 0
