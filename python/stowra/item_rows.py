"""Items as the planner submitted them, and the core's view of them.

Planners name items with their own ids (``SKU-101``); the core takes whole numbers. The
shipment keeps the planner's ids, the searches hand the core its own numbers
(:func:`core_problem`), and every output reads the planner's ids from the shipment. The core's
messages count rows after quantities are expanded and from 0, and name items by the core's
numbers; :func:`explain` says them again by the item's id and its row as submitted, from 1.
The command line, batch planning and the service all use it, so they say the same words.
"""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from typing import Any

from stowra.files.rows import RowSource, Shipment, TableName, row_label

__all__ = ["core_ids", "core_problem", "explain"]

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# Search options the core may refuse; a message about one is about no row.
_OPTIONS = ("pop_size", "generations", "time_limit", "threads", "seed", "effort")


def _whole(value: Any) -> bool:
    return type(value) is int and _INT32_MIN <= value <= _INT32_MAX


def core_ids(items: Sequence[Mapping[str, Any]]) -> list[Any]:
    """The id the core gets for each item row (``None`` where the row has none).

    Whole-number ids go in unchanged, so a shipment numbered as before plans exactly as before.
    When any id is text, every distinct id is numbered from 1 in the order it first appears.
    """
    ids = [row.get("id") if isinstance(row, Mapping) else None for row in items]
    if all(_whole(value) or value is None for value in ids):
        return ids
    numbers: dict[Any, int] = {}
    for value in ids:
        if value is not None:
            numbers.setdefault((type(value).__name__, value), len(numbers) + 1)
    return [None if value is None else numbers[(type(value).__name__, value)] for value in ids]


def core_problem(problem: Mapping[str, Any]) -> Mapping[str, Any]:
    """``problem`` as the core takes it: the same object when its ids are whole numbers."""
    items = problem.get("itemTable") if isinstance(problem, Mapping) else None
    if not isinstance(items, list):
        return problem
    ids = core_ids(items)
    if all(
        not isinstance(row, Mapping) or row.get("id") is new
        for row, new in zip(items, ids, strict=True)
    ):
        return problem
    rows = [
        {**row, "id": new} if isinstance(row, Mapping) and new is not None else row
        for row, new in zip(items, ids, strict=True)
    ]
    return {**problem, "itemTable": rows}


def _row(
    table: TableName, index: int, problem: Mapping[str, Any], sources: Sequence[RowSource]
) -> tuple[str, str]:
    """The row behind expanded position ``index``: its label and where it is in its file."""
    if index < len(sources):
        source = sources[index]
        number = source.number
        label = row_label(table, number - 1 if number else index, source.id)
        return label, source.where() if source.line is not None else ""
    rows = problem.get(table) or []
    row = rows[index] if index < len(rows) and isinstance(rows[index], Mapping) else {}
    return row_label(table, index, row.get("id")), ""


def explain(
    message: str,
    problem: Mapping[str, Any],
    item_sources: Sequence[RowSource] = (),
    bin_sources: Sequence[RowSource] = (),
) -> tuple[str, str]:
    """A refusal of the searches in the planner's terms, and where its row is in its file.

    Returns ``(text, where)``: ``where`` is ``"items.csv line 4"`` for a row read from a file
    with lines, else ``""``. The core's own texts after the row are kept word for word.
    """
    items = problem.get("itemTable") or []
    found = re.match(r"Item #(\d+): (.*)", message, re.S)
    if found and int(found.group(1)) < len(items):
        label, where = _row("itemTable", int(found.group(1)), problem, item_sources)
        return f"{label}: {found.group(2)}", where
    found = re.match(r"Item #(-?\d+) (\([^)]*\)) (.*)", message, re.S)
    if found:
        number = int(found.group(1))
        ids = core_ids(items)
        if number in ids:
            label, where = _row("itemTable", ids.index(number), problem, item_sources)
            return f"{label} {found.group(2)} {found.group(3)}", where
    found = re.match(r"Missing required key '(\w+)' in (itemTable|binTable)\[(\d+)\]$", message)
    if found:
        key, table, index = found.group(1), found.group(2), int(found.group(3))
        sources = item_sources if table == "itemTable" else bin_sources
        label, where = _row(table, index, problem, sources)  # type: ignore[arg-type]
        return f"{label}: column {key} is blank", where
    found = re.match(r"Bin #(\d+)(?: \('(?:[^']|'(?!\):))*'\))?: (.*)", message, re.S)
    if found:
        label, where = _row("binTable", int(found.group(1)), problem, bin_sources)
        return f"{label}: {found.group(2)}", where
    return message, ""


def explain_for(message: str, shipment: Shipment) -> str:
    """:func:`explain` for a shipment read from files: the text, then its file row if known;
    a message about the whole table names the table's file."""
    text, where = explain(message, shipment.input, shipment.item_sources, shipment.bin_sources)
    if not where and text == message and message.split(" ", 1)[0] not in _OPTIONS:
        about_bins = message.startswith(("Bin #", "No available bins")) or "binTable" in message
        table = "binTable" if about_bins else "itemTable"
        where = shipment.table_files.get(table, shipment.name)
    return f"{text} ({where})" if where else text
