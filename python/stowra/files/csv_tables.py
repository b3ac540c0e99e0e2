"""CSV shipments: an items file and a containers file whose header names the columns."""

from __future__ import annotations

import csv
import io
from collections.abc import Mapping
from typing import Any

from stowra.files.rows import COLUMNS, RawTable, Shipment, TableName, build_shipment, fail

__all__ = ["csv_table", "parse_csv_tables"]


def _field_column(lines: list[str], line: int, delimiter: str, field: int) -> int:
    """1-based column where a field of the record that starts on ``line`` begins, minding
    quotes; 1 when a quoted line break has carried the field onto a later line."""
    columns, quoted = [1], False
    for position, char in enumerate(lines[line - 1] if line <= len(lines) else ""):
        if char == '"':
            quoted = not quoted
        elif char == delimiter and not quoted:
            columns.append(position + 2)
    return columns[field] if field < len(columns) else 1


def csv_table(text: str, name: str, table: TableName) -> RawTable:
    """One table from CSV text whose header names the columns."""
    columns = COLUMNS[table]
    # Split where the CSV reader counts lines, so its line numbers index this list.
    lines = [line.rstrip("\r\n") for line in io.StringIO(text, newline="")]
    first = next((line for line in lines if line.strip()), "")
    if not first:
        raise fail(name, None, f"empty file: expected a header line ({','.join(columns)})")
    # Spreadsheets in many locales save with ';' (or tabs) between fields.
    delimiter = max((",", ";", "\t"), key=first.count)
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, strict=True)
    header: list[str] = []
    rows: list[tuple[Mapping[str, Any], int | None]] = []
    starts: list[int] = []
    previous_end = 0
    try:
        for record in reader:
            start = previous_end + 1
            previous_end = reader.line_num
            if not record or all(not cell.strip() for cell in record):
                continue
            if not header:
                header = [cell.strip() for cell in record]
                for position, column in enumerate(header):
                    if not column or column in header[:position]:
                        where = (start, _field_column(lines, start, delimiter, position))
                        problem = "empty column name" if not column else f"{column!r} repeated"
                        raise fail(name, where, f"header: {problem}")
                continue
            if len(record) != len(header):
                message = f"{len(record)} fields, but the header has {len(header)}"
                raise fail(name, (start, 1), message)
            row = {key: cell for key, cell in zip(header, record, strict=True) if cell.strip()}
            rows.append((row, start))
            starts.append(start)
    except csv.Error as error:
        raise fail(name, (reader.line_num, 1), f"CSV: {error}") from None

    def locate(_table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        line = starts[index]
        if key is None or key not in header:
            return line, 1
        return line, _field_column(lines, line, delimiter, header.index(key))

    return RawTable(table, rows, name, locate, from_text=True)


def parse_csv_tables(item_text: str, item_name: str, bin_text: str, bin_name: str) -> Shipment:
    """Read an items CSV and a containers CSV (column names as the table keys)."""
    items = csv_table(item_text, item_name, "itemTable")
    bins = csv_table(bin_text, bin_name, "binTable")
    return build_shipment(item_name, [items, bins])
