"""Cells of the CSV files stowra writes, safe to open in a spreadsheet program.

A spreadsheet runs a cell that begins with ``=``, ``+``, ``-`` or ``@`` (and, in some
programs, a tab or carriage return) as a formula. Ids and file names are the user's text, so
such a cell gets a leading apostrophe, which spreadsheets show as text; a plain number such as
``-4.5`` is left as it is.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Mapping
from typing import Any

__all__ = ["safe_cell", "safe_rows"]

_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")
_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")


def safe_cell(value: Any) -> Any:
    """``value``, with an apostrophe before text a spreadsheet would run as a formula."""
    formula = isinstance(value, str) and value.startswith(_FORMULA_STARTS)
    return "'" + value if formula and not _NUMBER.fullmatch(value) else value


def safe_rows(rows: Iterable[Mapping[str, Any]]) -> Iterable[dict[str, Any]]:
    return ({key: safe_cell(value) for key, value in row.items()} for row in rows)
