"""CSV shipments: an items file and a containers file whose header names the columns."""

from __future__ import annotations

import csv
import io
from collections.abc import Mapping
from typing import Any

from stowra.files.rows import COLUMNS, RawTable, Shipment, TableName, build_shipment, fail

__all__ = ["csv_table", "parse_csv_tables"]


def _field_columns(line: str, delimiter: str) -> list[int]:
    """1-based start column of every field of one CSV line, minding quotes."""
    columns, quoted = [1], False
    for position, char in enumerate(line):
        if char == '"':
            quoted = not quoted
        elif char == delimiter and not quoted:
            columns.append(position + 2)
    return columns


def csv_table(text: str, name: str, table: TableName) -> RawTable:
    """One table from CSV text whose header names the columns."""
    columns = COLUMNS[table]
    lines = text.splitlines()
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
                        where = (start, _field_columns(lines[start - 1], delimiter)[position])
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
        fields = _field_columns(lines[line - 1], delimiter)
        position = header.index(key)
        return line, fields[position] if position < len(fields) else 1

    return RawTable(table, rows, name, locate, from_text=True)


def parse_csv_tables(item_text: str, item_name: str, bin_text: str, bin_name: str) -> Shipment:
    """Read an items CSV and a containers CSV (column names as the table keys)."""
    items = csv_table(item_text, item_name, "itemTable")
    bins = csv_table(bin_text, bin_name, "binTable")
    return build_shipment(item_name, [items, bins])
