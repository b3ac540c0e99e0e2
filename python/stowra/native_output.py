"""Steering the search core's progress lines, which it writes straight to descriptor 1."""

from __future__ import annotations

import contextlib
import ctypes
import os
import sys
import threading
from collections.abc import Iterator

__all__ = ["native_stdout_to", "silenced_native_stdout"]


@contextlib.contextmanager
def native_stdout_to(fd: int | None) -> Iterator[None]:
    """Point file descriptor 1 at ``fd`` for the block (``None`` leaves it alone).

    The search core writes its progress lines straight to descriptor 1, past sys.stdout, so
    silencing or moving them means swapping the descriptor itself.
    """
    if fd is None:
        yield
        return
    sys.stdout.flush()
    try:
        saved = os.dup(1)
    except OSError:  # no descriptor 1 at all: nothing to protect
        yield
        return
    try:
        os.dup2(fd, 1)
        yield
    finally:
        with contextlib.suppress(OSError, AttributeError):
            ctypes.CDLL(None).fflush(None)  # C stdio may still hold part of a line
        os.dup2(saved, 1)
        os.close(saved)


class _Silencer:
    """Descriptor 1 is shared by every thread: the first block in points it at the null
    device, the last one out puts it back, so overlapping blocks on several threads of one
    process never restore each other's swap out of order."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._inside = 0
        self._exit: contextlib.ExitStack | None = None

    @contextlib.contextmanager
    def __call__(self) -> Iterator[None]:
        with self._lock:
            if self._inside == 0:
                stack = contextlib.ExitStack()
                null = os.open(os.devnull, os.O_WRONLY)
                stack.callback(os.close, null)
                stack.enter_context(native_stdout_to(null))
                self._exit = stack
            self._inside += 1
        try:
            yield
        finally:
            with self._lock:
                self._inside -= 1
                if self._inside == 0 and self._exit is not None:
                    self._exit.close()
                    self._exit = None


silenced_native_stdout = _Silencer()
