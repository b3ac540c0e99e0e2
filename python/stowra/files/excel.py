"""Excel shipments: a workbook with a sheet ``items`` and a sheet ``containers``, whose first
row names the columns (the same names as the CSV files; ``quantity`` allowed on items).

openpyxl is an optional extra (``pip install 'stowra[excel]'``), imported only when a workbook
is read or written.
"""

from __future__ import annotations

import io
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from types import ModuleType
from typing import Any

from stowra.files.rows import (
    COLUMNS,
    CSV_KEYS,
    RawTable,
    Shipment,
    ShipmentError,
    TableName,
    build_shipment,
)

__all__ = ["SHEETS", "parse_workbook", "workbook_bytes"]

# Sheet name per table: the same words a TOML or JSON shipment uses to name its CSV files.
SHEETS: dict[TableName, str] = dict(CSV_KEYS)


def _openpyxl() -> ModuleType:
    try:
        import openpyxl
    except ImportError:
        raise ShipmentError("Excel workbooks need openpyxl: pip install 'stowra[excel]'") from None
    return openpyxl


def _column_letter(number: int) -> str:
    letters = ""
    while number > 0:
        number, rest = divmod(number - 1, 26)
        letters = chr(ord("A") + rest) + letters
    return letters


def _as_text(value: Any) -> str:
    """A cell as the text a CSV file would hold, so both share one set of conversions."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float) and value.is_integer():
        return str(int(value))  # a whole number typed into a cell comes back as 60.0
    return str(value)


@dataclass
class _SheetTable(RawTable):
    """A sheet's rows; errors name the sheet, the row and the column letter."""

    header: Sequence[str] = ()
    line_word = "row"

    def fail(self, index: int, key: str, message: str, keyed: bool = True) -> ShipmentError:
        row, column = self.locate(self.name, index, key) or (0, 1)
        return ShipmentError(
            f"{self.file} row {row} column {_column_letter(column)} ({key}): "
            f"{self.label(index).split(' (row ')[0]}: {message}"
        )


def _sheet_table(book: Any, name: str, table: TableName) -> _SheetTable:
    sheet_name = SHEETS[table]
    if sheet_name not in book.sheetnames:
        found = ", ".join(book.sheetnames)
        raise ShipmentError(f"{name}: no sheet {sheet_name!r} (the workbook has: {found})")
    label = f"{name} sheet {sheet_name}"
    header: list[str] = []
    rows: list[tuple[Mapping[str, Any], int | None]] = []
    starts: list[int] = []
    for number, cells in enumerate(book[sheet_name].iter_rows(values_only=True), 1):
        texts = [_as_text(cell).strip() for cell in cells]
        if not any(texts):
            continue
        if not header:
            header = texts
            while header and not header[-1]:
                header.pop()
            for position, column in enumerate(header):
                if not column or column in header[:position]:
                    problem = "empty column name" if not column else f"{column!r} repeated"
                    letter = _column_letter(position + 1)
                    raise ShipmentError(f"{label} row {number} column {letter}: header: {problem}")
            continue
        extra = [text for text in texts[len(header) :] if text]
        if extra:
            letter = _column_letter(len(header) + 1)
            raise ShipmentError(f"{label} row {number} column {letter}: a value with no header")
        row = {key: text for key, text in zip(header, texts, strict=False) if text}
        rows.append((row, number))
        starts.append(number)
    if not header:
        listed = ",".join(COLUMNS[table])
        raise ShipmentError(f"{label}: empty sheet: expected a header row ({listed})")

    def locate(_table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        column = header.index(key) + 1 if key in header else 1
        return starts[index], column

    return _SheetTable(table, rows, label, locate, from_text=True, header=header)


def parse_workbook(data: bytes, name: str) -> Shipment:
    """Read a shipment workbook (``.xlsx``) from its bytes."""
    openpyxl = _openpyxl()
    try:
        book = openpyxl.load_workbook(io.BytesIO(data), read_only=True, data_only=True)
        try:
            # The sheets are read lazily, so a damaged part can fail here too.
            parts = [_sheet_table(book, name, table) for table in SHEETS]
        finally:
            book.close()
    except ShipmentError:
        raise
    except Exception as error:  # the library fails in many ways on a damaged file
        # Its messages may run over several lines; the error is one.
        reason = " ".join(str(error).split())[:200] or type(error).__name__
        raise ShipmentError(f"{name}: not an Excel workbook (.xlsx): {reason}") from None
    return build_shipment(name, parts)


def workbook_bytes(
    tables: Mapping[TableName, tuple[Sequence[str], Sequence[Mapping[str, Any]]]],
) -> bytes:
    """A workbook with one sheet per table: the given columns, then one row per dict."""
    openpyxl = _openpyxl()
    book = openpyxl.Workbook()
    book.remove(book.active)
    for table, (columns, rows) in tables.items():
        sheet = book.create_sheet(SHEETS[table])
        sheet.append(list(columns))
        for row in rows:
            sheet.append([row.get(column) for column in columns])
    out = io.BytesIO()
    book.save(out)
    return out.getvalue()
