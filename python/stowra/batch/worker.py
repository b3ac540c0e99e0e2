"""What a Dask worker runs for one shipment: one search, the exact search's lines silenced.

This module is imported on the workers, so it keeps to the standard library and stowra.
"""

from __future__ import annotations

import signal
import threading
from contextlib import nullcontext
from typing import Any

from stowra.native_output import silenced_native_stdout

__all__ = ["dask_setup", "pack_shipment"]


def dask_setup(worker: Any) -> None:
    """Run by Dask as each worker of a local batch cluster starts (a worker preload).

    Ctrl-C in a terminal reaches the whole process group; the command that owns the local
    cluster handles it and shuts the workers down, so they ignore it rather than each print
    a traceback.
    """
    if threading.current_thread() is threading.main_thread():
        signal.signal(signal.SIGINT, signal.SIG_IGN)


def pack_shipment(
    problem: dict[str, Any], options: dict[str, Any], name: str
) -> tuple[dict[str, Any] | None, str | None]:
    """Search one shipment: ``(result, None)``, or ``(None, message)`` when the search refused it.

    Every error comes back as a message, not an exception: a bad shipment is final, so Dask
    must not retry it, and the caller's other shipments go on.
    """
    from stowra.searches import run_search

    # Only the exact search writes lines of its own (to descriptor 1); optimize prints nothing.
    quiet = silenced_native_stdout() if options.get("search") == "exact" else nullcontext()
    try:
        with quiet:
            return run_search(problem, **options), None
    except ValueError as error:  # bad input: the message names the row and field
        return None, str(error)
    except Exception as error:
        return None, f"{type(error).__name__}: {error}"
