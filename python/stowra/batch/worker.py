"""What a Dask worker runs for one shipment: one search, its progress lines silenced.

This module is imported on the workers, so it keeps to the standard library and stowra.
"""

from __future__ import annotations

import os
import signal
import threading
import time
from pathlib import Path
from typing import Any

from stowra.native_output import silenced_native_stdout

__all__ = [
    "STALL_FOLDER_VARIABLE",
    "STALL_SHIPMENT_VARIABLE",
    "STALL_TRIES_VARIABLE",
    "dask_setup",
    "pack_shipment",
]

# Test-only: when both are set, the first STOWRA_TEST_STALL_TRIES tries (default 1) at the
# shipment whose name (or file stem) is STOWRA_TEST_STALL_SHIPMENT each write their worker's
# process id to DIR/try-N.pid and then sleep, so a test can kill that worker in the middle of
# a shipment. Later tries run normally.
STALL_SHIPMENT_VARIABLE = "STOWRA_TEST_STALL_SHIPMENT"
STALL_FOLDER_VARIABLE = "STOWRA_TEST_STALL_DIR"
STALL_TRIES_VARIABLE = "STOWRA_TEST_STALL_TRIES"
_STALL_SECONDS = 600.0


def _stall_for_test(name: str) -> None:
    target = os.environ.get(STALL_SHIPMENT_VARIABLE)
    folder = os.environ.get(STALL_FOLDER_VARIABLE)
    if not target or not folder or target not in (name, Path(name).stem):
        return
    # Linked into place whole, so a reader never sees an empty file.
    written = Path(folder) / f".{os.getpid()}.pid"
    written.write_text(str(os.getpid()))
    try:
        for attempt in range(1, int(os.environ.get(STALL_TRIES_VARIABLE, "1")) + 1):
            try:
                os.link(written, Path(folder) / f"try-{attempt}.pid")
            except FileExistsError:  # an earlier try stalled here already
                continue
            break
        else:
            return
    finally:
        written.unlink(missing_ok=True)
    time.sleep(_STALL_SECONDS)


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
    _stall_for_test(name)
    from stowra.searches import run_search

    try:
        with silenced_native_stdout():
            return run_search(problem, **options), None
    except ValueError as error:  # bad input: the message names the row and field
        return None, str(error)
    except Exception as error:
        return None, f"{type(error).__name__}: {error}"
