"""Excel shipments: a workbook with a sheet ``items`` and a sheet ``containers``, whose first
row names the columns (the same names as the CSV files; ``quantity`` allowed on items).

openpyxl is an optional extra (``pip install 'stowra[excel]'``), imported only when a workbook
is read or written.
"""

from __future__ import annotations

import io
import zipfile
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from types import ModuleType
from typing import Any

from stowra.files.rows import (
    COLUMNS,
    CSV_KEYS,
    MAX_ITEMS,
    RawTable,
    Shipment,
    ShipmentError,
    TableName,
    build_shipment,
)

__all__ = ["SHEETS", "parse_workbook", "workbook_bytes"]

# Sheet name per table: the same words a TOML or JSON shipment uses to name its CSV files.
SHEETS: dict[TableName, str] = dict(CSV_KEYS)

# A workbook is a zip of XML parts, and a few kilobytes can claim gigabytes: the parts' sizes
# are checked before anything is unpacked. A sheet of the largest shipment (one row per item,
# nine columns) unpacks to about 30 MB; its shared strings are ids and words, far smaller.
_MAX_PART_BYTES = 64 * 1024 * 1024
_MAX_STRINGS_BYTES = 16 * 1024 * 1024
_MAX_PARTS = 500
# Rows read per sheet (each row is at least one item) and columns searched for the header.
_MAX_ROWS = MAX_ITEMS + 1
_HEADER_COLUMNS = 64


def _check_parts(data: bytes, name: str) -> None:
    """Refuse a workbook whose parts would unpack to more than a shipment could need."""
    try:
        parts = zipfile.ZipFile(io.BytesIO(data)).infolist()
    except (zipfile.BadZipFile, ValueError, OSError):
        return  # not a zip at all: the workbook reader says so in its own words
    if len(parts) > _MAX_PARTS:
        raise ShipmentError(f"{name}: {len(parts):,} parts; a shipment workbook has far fewer")
    for part in parts:
        strings = part.filename.lower().endswith("sharedstrings.xml")
        limit = _MAX_STRINGS_BYTES if strings else _MAX_PART_BYTES
        if part.file_size > limit:
            raise ShipmentError(
                f"{name}: its part {part.filename} unpacks to {part.file_size:,} bytes, "
                f"more than a shipment workbook needs ({limit:,})"
            )


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
    sheet = book[sheet_name]
    header: list[str] = []
    header_row = 0
    # The header is looked for in the first columns only; the data rows are then read to one
    # column past it, whatever range the sheet claims, and no further than the row cap.
    for number, cells in enumerate(
        sheet.iter_rows(max_col=_HEADER_COLUMNS, max_row=_MAX_ROWS, values_only=True), 1
    ):
        texts = [_as_text(cell).strip() for cell in cells]
        if any(texts):
            header, header_row = texts, number
            break
    while header and not header[-1]:
        header.pop()
    for position, column in enumerate(header):
        if not column or column in header[:position]:
            problem = "empty column name" if not column else f"{column!r} repeated"
            letter = _column_letter(position + 1)
            raise ShipmentError(f"{label} row {header_row} column {letter}: header: {problem}")
    rows: list[tuple[Mapping[str, Any], int | None]] = []
    starts: list[int] = []
    data_rows = sheet.iter_rows(min_row=header_row + 1, max_col=len(header) + 1, values_only=True)
    for number, cells in enumerate(data_rows if header else (), header_row + 1):
        if number > _MAX_ROWS:  # rows the sheet has or claims to have, empty or not
            raise ShipmentError(
                f"{label}: more than {_MAX_ROWS:,} rows; a shipment has at most "
                f"{MAX_ITEMS:,} items: split it"
            )
        texts = [_as_text(cell).strip() for cell in cells]
        if not any(texts):
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
    _check_parts(data, name)
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
