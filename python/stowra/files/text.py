"""Reading a shipment file's text, and turning offsets into line and column."""

from __future__ import annotations

import bisect
import re
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


def read_bytes(path: Path) -> bytes:
    try:
        return sys.stdin.buffer.read() if str(path) == "-" else path.read_bytes()
    except FileNotFoundError:
        raise ShipmentError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise ShipmentError(f"{path}: is a directory, expected a file") from None
    except OSError as error:
        raise ShipmentError(f"{path}: cannot read: {error.strerror}") from None


def read_text(path: Path) -> str:
    data = read_bytes(path)
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line, column = line_col(data[: error.start].decode("utf-8", "replace"), error.start)
        raise ShipmentError(f"{path}:{line}:{column}: not UTF-8 text") from None
