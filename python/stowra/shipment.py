"""Shipment files: JSON, TOML or a pair of CSV files, read into ``pack``'s input tables.

Files may give an item row a ``quantity``; such rows are expanded into one row per item, and
every expanded row remembers the file and line it came from so reports can point back to it.
This module checks only what a file can get wrong on its own (syntax, value kinds, quantities);
missing keys, sizes and fit are left to ``pack``, whose messages are the product's.
"""

from __future__ import annotations

import csv
import io
import json
import json.decoder
import json.scanner
import math
import re
import sys
import tomllib
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Literal

__all__ = [
    "BIN_COLUMNS",
    "ITEM_COLUMNS",
    "RowSource",
    "Shipment",
    "ShipmentError",
    "load_shipment",
    "parse_csv_tables",
    "parse_json_shipment",
    "parse_toml_shipment",
]

Kind = Literal["int", "float", "bool", "str", "count"]

ITEM_COLUMNS: dict[str, Kind] = {
    "id": "int",
    "l": "float",
    "w": "float",
    "h": "float",
    "weight": "float",
    "factory": "int",
    "stackable": "bool",
    "quantity": "count",
}
BIN_COLUMNS: dict[str, Kind] = {
    "id": "str",
    "l": "float",
    "w": "float",
    "h": "float",
    "cost": "int",
    "weight_limit": "float",
    "available": "bool",
}
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
_TRUE_WORDS = {"true", "yes", "y", "1"}
_FALSE_WORDS = {"false", "no", "n", "0"}
_KIND_WORDS = {
    "int": "a whole number",
    "count": "a whole number of items (0 or more)",
    "float": "a number",
    "bool": "true or false",
    "str": "text",
}
TableName = Literal["itemTable", "binTable"]
_COLUMNS: dict[TableName, dict[str, Kind]] = {"itemTable": ITEM_COLUMNS, "binTable": BIN_COLUMNS}
# The key that may name a CSV file instead of giving the table inline.
_CSV_KEYS: dict[TableName, str] = {"itemTable": "items", "binTable": "containers"}


class ShipmentError(ValueError):
    """A shipment file that cannot be read; the message starts with ``file:line:column:``."""


@dataclass(frozen=True)
class RowSource:
    """Where one row of ``pack``'s input came from."""

    file: str
    line: int | None
    id: Any = None

    def where(self) -> str:
        return self.file if self.line is None else f"{self.file} line {self.line}"


@dataclass
class Shipment:
    """``pack``'s input plus, for every row, the file line it came from."""

    input: dict[str, list[dict[str, Any]]]
    item_sources: list[RowSource]
    bin_sources: list[RowSource]
    name: str
    warnings: list[str] = field(default_factory=list)


# A locator answers "where in the file is this value" as (line, column), both from 1, or None.
Locator = Callable[[TableName, int, str | None], tuple[int, int] | None]


def _fail(name: str, where: tuple[int, int] | None, message: str) -> ShipmentError:
    if where is None:
        return ShipmentError(f"{name}: {message}")
    return ShipmentError(f"{name}:{where[0]}:{where[1]}: {message}")


def _convert(value: Any, kind: Kind, from_text: bool) -> Any:
    """The value as ``pack`` wants it, or raise ``ValueError`` with what was expected."""
    expected = f"expected {_KIND_WORDS[kind]}, got {value!r}"
    if from_text:
        text = str(value).strip()
        if kind == "str":
            return text
        if kind == "bool":
            word = text.lower()
            if word in _TRUE_WORDS:
                return True
            if word in _FALSE_WORDS:
                return False
            raise ValueError(expected)
        try:
            number: float = float(text) if kind == "float" else int(text)
        except ValueError:
            raise ValueError(expected) from None
        value = number
    elif kind == "str":
        if not isinstance(value, str):
            raise ValueError(expected)
        return value
    elif kind == "bool":
        if not isinstance(value, bool):
            raise ValueError(expected)
        return value
    elif isinstance(value, bool) or not isinstance(value, int | float):
        raise ValueError(expected)
    elif kind == "float":
        return float(value)
    elif isinstance(value, float):
        # 1500.0 in a file means 1500; the core takes whole numbers only as ints.
        if not math.isfinite(value) or value != int(value):
            raise ValueError(expected)
        value = int(value)
    if kind == "count":
        if value < 0:
            raise ValueError(expected)
        return value
    if kind == "int" and not _INT32_MIN <= value <= _INT32_MAX:
        raise ValueError(f"expected a whole number from {_INT32_MIN} to {_INT32_MAX}, got {value}")
    return value


@dataclass
class _Table:
    """Raw rows of one table, with their first lines, and how to find values in the file."""

    name: TableName
    rows: Sequence[tuple[Mapping[str, Any], int | None]]
    file: str
    locate: Locator
    from_text: bool


def _build(name: str, parts: Sequence[_Table]) -> Shipment:
    """Convert and expand raw rows into a ``Shipment``."""
    warnings: list[str] = []
    tables: dict[str, list[dict[str, Any]]] = {"itemTable": [], "binTable": []}
    sources: dict[str, list[RowSource]] = {"itemTable": [], "binTable": []}
    for part in parts:
        table, file = part.name, part.file
        columns = _COLUMNS[table]
        unknown: list[str] = []
        for index, (raw, line) in enumerate(part.rows):
            if table == "binTable" and "quantity" in raw:
                raise _fail(
                    file,
                    part.locate(table, index, "quantity"),
                    "containers take no quantity: every available type is used as often as needed",
                )
            row: dict[str, Any] = {}
            for key, value in raw.items():
                kind = columns.get(key)
                if kind is None:
                    if key not in unknown:
                        unknown.append(key)
                    continue
                try:
                    row[key] = _convert(value, kind, part.from_text)
                except ValueError as error:
                    where = part.locate(table, index, key)
                    raise _fail(file, where, f"{key}: {error}") from None
            count = row.pop("quantity", 1)
            source = RowSource(file, line, row.get("id"))
            for _ in range(count):
                tables[table].append(dict(row))
                sources[table].append(source)
        if unknown:
            listed = ", ".join(repr(key) for key in unknown)
            warnings.append(f"{file}: {table} ignores {listed} (known: {', '.join(columns)})")
    return Shipment(
        input=tables,
        item_sources=sources["itemTable"],
        bin_sources=sources["binTable"],
        name=name,
        warnings=warnings,
    )


def _line_col(text: str, offset: int) -> tuple[int, int]:
    line = text.count("\n", 0, offset) + 1
    return line, offset - (text.rfind("\n", 0, offset) + 1) + 1


# --- JSON ------------------------------------------------------------------------------------


def _json_with_spans(text: str) -> tuple[Any, dict[int, tuple[int, int]]]:
    """Parse JSON and record the character span of every object, keyed by ``id``.

    The standard decoder keeps no positions; its pure-Python scanner calls a replaceable
    object parser, which is where the spans are taken.
    """
    spans: dict[int, tuple[int, int]] = {}
    decoder = json.JSONDecoder()

    def parse_object(state: tuple[str, int], *args: Any) -> tuple[Any, int]:
        obj, end = json.decoder.JSONObject(state, *args)
        spans[id(obj)] = (state[1] - 1, end)
        return obj, end

    decoder.parse_object = parse_object  # type: ignore[assignment]
    decoder.scan_once = json.scanner.py_make_scanner(decoder)  # type: ignore[assignment]
    return decoder.decode(text), spans


def _key_offset(text: str, span: tuple[int, int], key: str) -> int | None:
    """Offset of the value of ``key`` directly inside the object at ``span``."""
    depth = 0
    # Strings are matched whole so brackets inside them do not count; a key has a colon after.
    pattern = re.compile(r'[{}\[\]]|("(?:[^"\\]|\\.)*")(\s*:\s*)?')
    for match in pattern.finditer(text, span[0], span[1]):
        token = match.group()
        if token in ("{", "["):
            depth += 1
        elif token in ("}", "]"):
            depth -= 1
        elif depth == 1 and match.group(2) is not None and json.loads(match.group(1)) == key:
            return match.end()
    return None


def parse_json_shipment(text: str, name: str, base: Path | None = None) -> Shipment:
    """Read a JSON shipment: ``pack``'s input dict, rows may carry ``quantity``."""
    try:
        document, spans = _json_with_spans(text)
    except json.JSONDecodeError as error:
        raise ShipmentError(f"{name}:{error.lineno}:{error.colno}: {error.msg}") from None
    if not isinstance(document, dict):
        raise _fail(name, (1, 1), "expected an object with itemTable and binTable")
    top = spans[id(document)]

    def at(span: tuple[int, int], key: str | None) -> tuple[int, int]:
        offset = _key_offset(text, span, key) if key is not None else None
        return _line_col(text, span[0] if offset is None else offset)

    def rows_of(table: TableName) -> list[tuple[Mapping[str, Any], int | None]]:
        value = document[table]
        if not isinstance(value, list):
            raise _fail(name, at(top, table), f"{table} must be a list of objects")
        rows: list[tuple[Mapping[str, Any], int | None]] = []
        for index, row in enumerate(value):
            if not isinstance(row, dict):
                raise _fail(name, at(top, table), f"{table}[{index}] must be an object")
            rows.append((row, at(spans[id(row)], None)[0]))
        return rows

    def locate(table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        row = document[table][index]
        return at(spans[id(row)], key)

    return _from_document(document, name, base, rows_of, locate, lambda key: at(top, key))


def _from_document(
    document: dict[str, Any],
    name: str,
    base: Path | None,
    rows_of: Callable[[TableName], list[tuple[Mapping[str, Any], int | None]]],
    locate: Locator,
    key_at: Callable[[str], tuple[int, int] | None],
) -> Shipment:
    """Shared by JSON and TOML: tables inline, or named CSV files (``items``, ``containers``)."""
    for table, file_key in _CSV_KEYS.items():
        if table in document and file_key in document:
            raise _fail(name, key_at(file_key), f"give either {table} or {file_key}, not both")
    csv_paths: dict[str, Path] = {}
    for file_key in _CSV_KEYS.values():
        if file_key in document:
            value = document[file_key]
            if not isinstance(value, str) or not value:
                raise _fail(name, key_at(file_key), f"{file_key} must name a CSV file")
            path = Path(value)
            csv_paths[file_key] = path if path.is_absolute() else (base or Path.cwd()) / path
    if "itemTable" not in document and "items" not in document:
        raise _fail(name, (1, 1), "no items: give itemTable, or items naming a CSV file")

    parts: list[_Table] = []
    for table, file_key in _CSV_KEYS.items():
        if table in document:
            parts.append(_Table(table, rows_of(table), name, locate, from_text=False))
        elif file_key in csv_paths:
            path = csv_paths[file_key]
            parts.append(_csv_table(_read_text(path), str(path), table))
    shipment = _build(name, parts)
    known = {*_CSV_KEYS, *_CSV_KEYS.values()}
    extra = [key for key in document if key not in known]
    if extra:
        listed = ", ".join(repr(key) for key in extra)
        shipment.warnings.insert(0, f"{name}: ignores {listed}")
    return shipment


# --- TOML ------------------------------------------------------------------------------------


def parse_toml_shipment(text: str, name: str, base: Path | None = None) -> Shipment:
    """Read a TOML shipment: ``[[itemTable]]``/``[[binTable]]`` rows, or CSV file names."""
    try:
        document = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        found = re.search(r"\(at line (\d+), column (\d+)\)", str(error))
        where = (int(found.group(1)), int(found.group(2))) if found else None
        message = re.sub(r"\s*\(at line \d+, column \d+\)", "", str(error))
        raise _fail(name, where, message) from None
    lines = text.splitlines()

    def header_lines(table: str) -> list[int]:
        header = re.compile(r"\s*\[\[\s*" + table + r"\s*\]\]")
        return [number for number, line in enumerate(lines, 1) if header.match(line)]

    def locate(table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        # tomllib keeps no positions: find the index-th [[table]] header, then the key under it.
        headers = header_lines(table)
        if index >= len(headers):
            return None
        start = headers[index]
        if key is None:
            return start, 1
        assignment = re.compile(r"\s*" + re.escape(key) + r"\s*=\s*")
        for number in range(start + 1, len(lines) + 1):
            line = lines[number - 1]
            if line.lstrip().startswith("["):
                break
            found = assignment.match(line)
            if found:
                return number, found.end() + 1
        return start, 1

    def key_at(key: str) -> tuple[int, int] | None:
        pattern = re.compile(r"\s*" + re.escape(key) + r"\s*=")
        for number, line in enumerate(lines, 1):
            if pattern.match(line):
                return number, 1
        return None

    def rows_of(table: TableName) -> list[tuple[Mapping[str, Any], int | None]]:
        value = document[table]
        if not isinstance(value, list) or not all(isinstance(row, dict) for row in value):
            raise _fail(name, key_at(table), f"{table} must be an array of tables")
        headers = header_lines(table)
        return [
            (row, headers[index] if index < len(headers) else None)
            for index, row in enumerate(value)
        ]

    return _from_document(document, name, base, rows_of, locate, key_at)


# --- CSV -------------------------------------------------------------------------------------


def _field_columns(line: str, delimiter: str) -> list[int]:
    """1-based start column of every field of one CSV line, minding quotes."""
    columns, quoted = [1], False
    for position, char in enumerate(line):
        if char == '"':
            quoted = not quoted
        elif char == delimiter and not quoted:
            columns.append(position + 2)
    return columns


def _csv_table(text: str, name: str, table: TableName) -> _Table:
    """One table from CSV text whose header names the columns."""
    columns = _COLUMNS[table]
    lines = text.splitlines()
    first = next((line for line in lines if line.strip()), "")
    if not first:
        raise _fail(name, None, f"empty file: expected a header line ({','.join(columns)})")
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
                        raise _fail(name, where, f"header: {problem}")
                continue
            if len(record) != len(header):
                message = f"{len(record)} fields, but the header has {len(header)}"
                raise _fail(name, (start, 1), message)
            row = {key: cell for key, cell in zip(header, record, strict=True) if cell.strip()}
            rows.append((row, start))
            starts.append(start)
    except csv.Error as error:
        raise _fail(name, (reader.line_num, 1), f"CSV: {error}") from None

    def locate(_table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        line = starts[index]
        if key is None or key not in header:
            return line, 1
        fields = _field_columns(lines[line - 1], delimiter)
        position = header.index(key)
        return line, fields[position] if position < len(fields) else 1

    return _Table(table, rows, name, locate, from_text=True)


def parse_csv_tables(item_text: str, item_name: str, bin_text: str, bin_name: str) -> Shipment:
    """Read an items CSV and a containers CSV (column names as the table keys)."""
    items = _csv_table(item_text, item_name, "itemTable")
    bins = _csv_table(bin_text, bin_name, "binTable")
    return _build(item_name, [items, bins])


# --- files -----------------------------------------------------------------------------------


def _read_text(path: Path) -> str:
    try:
        data = sys.stdin.buffer.read() if str(path) == "-" else path.read_bytes()
    except FileNotFoundError:
        raise ShipmentError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise ShipmentError(f"{path}: is a directory, expected a file") from None
    except OSError as error:
        raise ShipmentError(f"{path}: cannot read: {error.strerror}") from None
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line, column = _line_col(data[: error.start].decode("utf-8", "replace"), error.start)
        raise ShipmentError(f"{path}:{line}:{column}: not UTF-8 text") from None


def _format_of(path: Path, text: str) -> str:
    suffix = path.suffix.lower()
    if suffix in (".json", ".toml", ".csv"):
        return suffix[1:]
    if text.lstrip().startswith("{"):
        return "json"
    raise ShipmentError(f"{path}: cannot tell the format: name it .json, .toml or .csv")


def load_shipment(paths: Iterable[str | Path]) -> Shipment:
    """Read a shipment: one JSON or TOML file, or an items CSV and a containers CSV."""
    given = [Path(path) for path in paths]
    if not given or len(given) > 2:
        raise ShipmentError("give one shipment file (.json or .toml) or two CSV files")
    texts = [_read_text(path) for path in given]
    formats = [_format_of(path, text) for path, text in zip(given, texts, strict=True)]
    if formats[0] == "csv" or len(given) == 2:
        if formats != ["csv", "csv"]:
            raise ShipmentError(
                "CSV shipments are two files: the items CSV, then the containers CSV"
            )
        return parse_csv_tables(texts[0], str(given[0]), texts[1], str(given[1]))
    stdin = str(given[0]) == "-"
    base, name = (Path.cwd(), "<stdin>") if stdin else (given[0].parent, str(given[0]))
    if formats[0] == "toml":
        return parse_toml_shipment(texts[0], name, base)
    return parse_json_shipment(texts[0], name, base)
