"""JSON and TOML shipments: ``pack``'s input tables inline (rows may carry ``quantity``), or
the names of CSV files holding them."""

from __future__ import annotations

import json
import json.decoder
import json.scanner
import re
import sys
import tomllib
from collections.abc import Callable, Mapping, Sequence
from pathlib import Path
from typing import Any

from stowra._core import read_json_shipment
from stowra.files.csv_tables import csv_table
from stowra.files.rows import (
    COLUMNS,
    CSV_KEYS,
    Locator,
    RawTable,
    RowSource,
    RowSources,
    Shipment,
    ShipmentError,
    TableName,
    build_shipment,
    fail,
    ignored_keys,
)
from stowra.files.text import LineIndex, read_text

__all__ = ["parse_json_shipment", "parse_shipment_object", "parse_toml_shipment"]

_TOO_DEEP = "lists or tables nested too deeply"


def _json_with_rows(text: str) -> tuple[Any, tuple[int, int], dict[str, list[tuple[int, int]]]]:
    """Parse JSON with the standard (compiled) scanner, and note where the top object and each
    row of its tables begin and end: ``(document, top span, {table: [row spans]})``.

    Only the top object and the tables' lists are walked here; every value, a row included,
    is parsed whole by the scanner, so a long shipment costs one pass at compiled speed. A
    text that does not walk as expected is parsed again by the decoder, for its error.
    """
    try:
        return _walk(text, _SCANNER)
    except (json.JSONDecodeError, StopIteration, IndexError, _NotAnObject):
        pass
    except ValueError:  # a whole number too long for int(): read it as the float it rounds to
        try:
            return _walk(text, _LONG_NUMBER_SCANNER)
        except (json.JSONDecodeError, StopIteration, IndexError, _NotAnObject):
            pass
    document = _LONG_NUMBER_DECODER.decode(text)  # raises the decoder's error
    return document, (0, len(text)), {}


class _NotAnObject(Exception):
    """The text is not one JSON object: the decoder says what it is."""


_SPACE = re.compile(r"[ \t\n\r]*")


def _walk(
    text: str, scan: Callable[[str, int], tuple[Any, int]]
) -> tuple[dict[str, Any], tuple[int, int], dict[str, list[tuple[int, int]]]]:
    space = _SPACE.match
    at = space(text, 0).end()
    if text[at] != "{":
        raise _NotAnObject
    start = at
    document: dict[str, Any] = {}
    rows: dict[str, list[tuple[int, int]]] = {}
    at = space(text, at + 1).end()
    if text[at] == "}":
        at += 1
    else:
        while True:
            if text[at] != '"':
                raise _NotAnObject
            key, at = json.decoder.scanstring(text, at + 1)
            at = space(text, at).end()
            if text[at] != ":":
                raise _NotAnObject
            at = space(text, at + 1).end()
            if key in COLUMNS and text[at] == "[":
                value, spans, at = _walk_list(text, at, scan)
                rows[key] = spans
            else:
                value, at = scan(text, at)
                rows.pop(key, None)  # a later value of a repeated key wins, as in the decoder
            document[key] = value
            at = space(text, at).end()
            if text[at] == "}":
                at += 1
                break
            if text[at] != ",":
                raise _NotAnObject
            at = space(text, at + 1).end()
    if space(text, at).end() != len(text):
        raise _NotAnObject  # extra data after the object
    return document, (start, at), rows


def _walk_list(
    text: str, at: int, scan: Callable[[str, int], tuple[Any, int]]
) -> tuple[list[Any], list[tuple[int, int]], int]:
    """The list starting at ``at``, the span of each of its values, and where it ends."""
    values: list[Any] = []
    spans: list[tuple[int, int]] = []
    at = _SPACE.match(text, at + 1).end()
    if text[at] == "]":
        return values, spans, at + 1
    following = _FOLLOWING.match
    while True:
        value, end = scan(text, at)
        values.append(value)
        spans.append((at, end))
        after = following(text, end)
        if after is None:
            raise _NotAnObject
        if after.lastindex is None:  # the closing bracket
            return values, spans, after.end()
        at = after.end()


# What may follow a value in a list: a comma and the next value's start, or the list's end.
_FOLLOWING = re.compile(r"[ \t\n\r]*(?:,([ \t\n\r]*)|\])")


def _whole_number(text: str) -> int | float:
    """A JSON integer; one longer than the interpreter converts is read as the (infinite) float
    it rounds to, so the row checks refuse it at its place instead of the parser failing."""
    limit = sys.get_int_max_str_digits()
    return float(text) if limit and len(text.lstrip("-")) > limit else int(text)


_SCANNER = json.scanner.make_scanner(json.JSONDecoder())
_LONG_NUMBER_DECODER = json.JSONDecoder(parse_int=_whole_number)
_LONG_NUMBER_SCANNER = json.scanner.make_scanner(_LONG_NUMBER_DECODER)


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


def parse_json_shipment(
    text: str, name: str, base: Path | None = None, confined: bool = False
) -> Shipment:
    """Read a JSON shipment: ``pack``'s input dict, rows may carry ``quantity``.

    ``confined`` refuses CSV files named outside ``base`` (uploads name only their siblings).
    """
    compiled = _read_compiled(text, name)
    if compiled is not None:
        return compiled
    return _read_scanned(text, name, base, confined)


def _read_scanned(text: str, name: str, base: Path | None, confined: bool) -> Shipment:
    """Any JSON shipment, parsed by the standard scanner and checked row by row: what the
    compiled reader declines, and the words of every message."""
    try:
        document, top, row_spans = _json_with_rows(text)
    except json.JSONDecodeError as error:
        raise ShipmentError(f"{name}:{error.lineno}:{error.colno}: {error.msg}") from None
    except RecursionError:
        raise fail(name, None, _TOO_DEEP) from None
    if not isinstance(document, dict):
        raise fail(name, (1, 1), "expected an object with itemTable and binTable")
    lines: list[LineIndex] = []  # made when a message needs a place

    def at(span: tuple[int, int], key: str | None) -> tuple[int, int]:
        offset = _key_offset(text, span, key) if key is not None else None
        if not lines:
            lines.append(LineIndex(text))
        return lines[0].line_col(span[0] if offset is None else offset)

    def rows_of(table: TableName) -> list[tuple[Mapping[str, Any], int | None]]:
        value = document[table]
        if not isinstance(value, list):
            raise fail(name, at(top, table), f"{table} must be a list of objects")
        for index, row in enumerate(value):
            if type(row) is not dict:
                raise fail(name, at(top, table), f"{table}[{index}] must be an object")
        if table not in row_spans:  # not placed by the walk: rows without lines
            return [(row, None) for row in value]
        return list(zip(value, _row_lines(text, row_spans[table]), strict=True))

    def locate(table: TableName, index: int, key: str | None) -> tuple[int, int] | None:
        return at(row_spans[table][index], key) if table in row_spans else None

    return _from_document(document, name, base, rows_of, locate, lambda key: at(top, key), confined)


def _read_compiled(text: str, name: str) -> Shipment | None:
    """A right shipment of the usual shape read by the compiled reader in one pass: rows checked,
    converted and expanded by quantity, each row's line counted on the way. ``None`` for any
    text it leaves to the scanner path (anything with something to say, nested values, tables
    named as CSV files), which reads it again and words the message."""
    read = read_json_shipment(text)
    if read is None:
        return None
    (
        items,
        item_ids,
        counts,
        item_lines,
        item_unknown,
        bins,
        bin_ids,
        bin_lines,
        bin_unknown,
        extra,
    ) = read
    tables = {"itemTable": items, "binTable": bins if bins is not None else []}
    warnings = []
    sources: dict[str, Sequence[RowSource]] = {"itemTable": [], "binTable": []}
    for table, ids, table_counts, lines, unknown in (
        ("itemTable", item_ids, counts, item_lines, item_unknown),
        ("binTable", bin_ids, None, bin_lines, bin_unknown),
    ):
        if table == "binTable" and bins is None:
            continue
        # The lines come as native unsigned ints: read one by one, only when a source is made.
        counted = memoryview(lines).cast("I")
        part = RawTable(table, (), name, lambda *_: None, False, lambda counted=counted: counted)
        sources[table] = RowSources(part, ids, table_counts) if ids else []
        if unknown:
            warnings.append(ignored_keys(name, unknown, table))
    if extra:
        warnings.insert(0, ignored_keys(name, extra))
    return Shipment(
        input=tables,
        item_sources=sources["itemTable"],
        bin_sources=sources["binTable"],
        name=name,
        warnings=warnings,
        table_files=dict.fromkeys(COLUMNS, name),
    )


def _row_lines(text: str, spans: list[tuple[int, int]]) -> list[int | None]:
    """Each row's line, counted on from the row before: one pass over the text."""
    numbers: list[int | None] = []
    line, counted = 1, 0
    for start, _ in spans:
        line += text.count("\n", counted, start)
        counted = start
        numbers.append(line)
    return numbers


def parse_shipment_object(document: Any, name: str) -> Shipment:
    """Read a shipment already parsed from JSON (an API request); it may not name files."""
    if not isinstance(document, dict):
        raise fail(name, None, "expected an object with itemTable and binTable")
    named = [key for key in CSV_KEYS.values() if key in document]
    if named:
        raise fail(
            name, None, f"{named[0]}: give the tables inline as itemTable and binTable, not files"
        )

    def rows_of(table: TableName) -> list[tuple[Mapping[str, Any], int | None]]:
        value = document[table]
        if not isinstance(value, list) or not all(isinstance(row, dict) for row in value):
            raise fail(name, None, f"{table} must be a list of objects")
        return [(row, None) for row in value]

    return _from_document(document, name, None, rows_of, lambda *_: None, lambda _: None)


def _from_document(
    document: dict[str, Any],
    name: str,
    base: Path | None,
    rows_of: Callable[[TableName], list[tuple[Mapping[str, Any], int | None]]],
    locate: Locator,
    key_at: Callable[[str], tuple[int, int] | None],
    confined: bool = False,
    inline: Callable[[TableName, list[tuple[Mapping[str, Any], int | None]]], RawTable]
    | None = None,
) -> Shipment:
    """Shared by JSON and TOML: tables inline, or named CSV files (``items``, ``containers``)."""
    for table, file_key in CSV_KEYS.items():
        if table in document and file_key in document:
            raise fail(name, key_at(file_key), f"give either {table} or {file_key}, not both")
    csv_paths: dict[str, Path] = {}
    for file_key in CSV_KEYS.values():
        if file_key in document:
            value = document[file_key]
            if not isinstance(value, str) or not value:
                raise fail(name, key_at(file_key), f"{file_key} must name a CSV file")
            path = Path(value)
            folder = base or Path.cwd()
            if confined and (path.is_absolute() or path.name != value):
                message = f"{file_key} must name one of the uploaded files, got {value!r}"
                raise fail(name, key_at(file_key), message)
            csv_paths[file_key] = path if path.is_absolute() else folder / path
    if "itemTable" not in document and "items" not in document:
        # A file places it at its top; a shipment sent as an object has no place to give.
        raise fail(
            name, key_at("itemTable"), "no items: give itemTable, or items naming a CSV file"
        )

    parts: list[RawTable] = []
    for table, file_key in CSV_KEYS.items():
        if table in document:
            rows = rows_of(table)
            if inline is not None:
                parts.append(inline(table, rows))
            else:
                parts.append(RawTable(table, rows, name, locate, from_text=False))
        elif file_key in csv_paths:
            path = csv_paths[file_key]
            parts.append(csv_table(read_text(path), str(path), table))
    shipment = build_shipment(name, parts)
    known = {*CSV_KEYS, *CSV_KEYS.values()}
    extra = [key for key in document if key not in known]
    if extra:
        shipment.warnings.insert(0, ignored_keys(name, extra))
    return shipment


def parse_toml_shipment(
    text: str, name: str, base: Path | None = None, confined: bool = False
) -> Shipment:
    """Read a TOML shipment: ``[[itemTable]]``/``[[binTable]]`` rows, or CSV file names."""
    try:
        document = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        found = re.search(r"\(at line (\d+), column (\d+)\)", str(error))
        where = (int(found.group(1)), int(found.group(2))) if found else None
        message = re.sub(r"\s*\(at line \d+, column \d+\)", "", str(error))
        raise fail(name, where, message) from None
    except RecursionError:
        raise fail(name, None, _TOO_DEEP) from None
    except ValueError:  # the only other one: int() refusing a number too long to convert
        digits = sys.get_int_max_str_digits()
        raise fail(name, None, f"a whole number has more than {digits} digits") from None
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
            raise fail(name, key_at(table), f"{table} must be an array of tables")
        headers = header_lines(table)
        return [
            (row, headers[index] if index < len(headers) else None)
            for index, row in enumerate(value)
        ]

    return _from_document(document, name, base, rows_of, locate, key_at, confined)
