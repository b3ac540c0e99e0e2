"""Reading a shipment file's text, and turning offsets into line and column."""

from __future__ import annotations

import bisect
import os
import re
import stat
import sys
from pathlib import Path

from stowra.files.rows import ShipmentError

__all__ = ["LineIndex", "line_col", "read_bytes", "read_text"]


def line_col(text: str, offset: int) -> tuple[int, int]:
    line = text.count("\n", 0, offset) + 1
    return line, offset - (text.rfind("\n", 0, offset) + 1) + 1


class LineIndex:
    """Line and column of any offset in one text: the line starts are found once, so placing
    every row of a long file stays linear in its length."""

    def __init__(self, text: str) -> None:
        self._starts = [0, *(found.end() for found in re.finditer("\n", text))]

    def line_col(self, offset: int) -> tuple[int, int]:
        line = bisect.bisect_right(self._starts, offset)
        return line, offset - self._starts[line - 1] + 1


# Far above any shipment (100,000 items as CSV are about 5 MB), and a bound on what a file
# named by mistake, or on purpose, can make the reader hold.
MAX_FILE_BYTES = 64 * 1024 * 1024


def read_bytes(path: Path) -> bytes:
    """The file's bytes: a regular file (not a device, pipe or folder) of at most
    ``MAX_FILE_BYTES``, or standard input for ``-``."""
    too_big = ShipmentError(f"{path}: larger than {MAX_FILE_BYTES:,} bytes; not a shipment")
    if str(path) == "-":
        data = sys.stdin.buffer.read(MAX_FILE_BYTES + 1)
        if len(data) > MAX_FILE_BYTES:
            raise too_big
        return data
    try:
        # Opened without waiting, so a pipe with no writer cannot hold the reader.
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except FileNotFoundError:
        raise ShipmentError(f"{path}: no such file") from None
    except OSError as error:
        raise ShipmentError(f"{path}: cannot read: {error.strerror}") from None
    mode = os.fstat(descriptor).st_mode
    if not stat.S_ISREG(mode):
        os.close(descriptor)
        if stat.S_ISDIR(mode):
            raise ShipmentError(f"{path}: is a directory, expected a file")
        raise ShipmentError(f"{path}: not a regular file (a device, pipe or socket)")
    with os.fdopen(descriptor, "rb") as handle:
        try:
            data = handle.read(MAX_FILE_BYTES + 1)
        except OSError as error:
            raise ShipmentError(f"{path}: cannot read: {error.strerror}") from None
    if len(data) > MAX_FILE_BYTES:
        raise too_big
    return data


def read_text(path: Path) -> str:
    data = read_bytes(path)
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line, column = line_col(data[: error.start].decode("utf-8", "replace"), error.start)
        raise ShipmentError(f"{path}:{line}:{column}: not UTF-8 text") from None
