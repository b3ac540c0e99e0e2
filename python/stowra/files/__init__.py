"""Shipment files: JSON, TOML, an Excel workbook or a pair of CSV files, read into ``pack``'s
input tables.

One reader per format; the row checks they share live in ``rows``.
"""

from __future__ import annotations

from collections.abc import Iterable
from pathlib import Path

from stowra.files.csv_tables import parse_csv_tables
from stowra.files.excel import parse_workbook
from stowra.files.json_toml import parse_json_shipment, parse_shipment_object, parse_toml_shipment
from stowra.files.rows import BIN_COLUMNS, ITEM_COLUMNS, RowSource, Shipment, ShipmentError
from stowra.files.text import read_bytes, read_text

__all__ = [
    "BIN_COLUMNS",
    "ITEM_COLUMNS",
    "SHIPMENT_SUFFIXES",
    "SINGLE_FILE_SUFFIXES",
    "RowSource",
    "Shipment",
    "ShipmentError",
    "load_shipment",
    "parse_csv_tables",
    "parse_json_shipment",
    "parse_shipment_object",
    "parse_toml_shipment",
    "parse_workbook",
]

# Suffixes of the formats that hold a whole shipment in one file (CSV needs two).
SINGLE_FILE_SUFFIXES = (".json", ".toml", ".xlsx")
SHIPMENT_SUFFIXES = (*SINGLE_FILE_SUFFIXES, ".csv")


def _format_of(path: Path, text: str) -> str:
    suffix = path.suffix.lower()
    if suffix in SHIPMENT_SUFFIXES:
        return suffix[1:]
    if text.lstrip().startswith("{"):
        return "json"
    raise ShipmentError(f"{path}: cannot tell the format: name it .json, .toml, .xlsx or .csv")


def _looks_like_containers(text: str) -> bool:
    """Whether a CSV's header names columns only containers have: a file picker hands the
    pair over in any order."""
    header = next((line for line in text.splitlines() if line.strip()), "")
    columns = {cell.strip().strip('"').lower() for cell in header.split(",")}
    return bool(columns & (set(BIN_COLUMNS) - set(ITEM_COLUMNS)))


def load_shipment(paths: Iterable[str | Path], *, confined: bool = False) -> Shipment:
    """Read a shipment: one JSON, TOML or Excel file, or an items CSV and a containers CSV.

    ``confined`` lets a JSON or TOML file name CSV files only beside itself.
    """
    given = [Path(path) for path in paths]
    if not given or len(given) > 2:
        raise ShipmentError("give one shipment file (.json, .toml or .xlsx) or two CSV files")
    if len(given) == 1 and given[0].suffix.lower() == ".xlsx":
        return parse_workbook(read_bytes(given[0]), str(given[0]))
    texts = [read_text(path) for path in given]
    formats = [_format_of(path, text) for path, text in zip(given, texts, strict=True)]
    if formats[0] == "csv" or len(given) == 2:
        if formats != ["csv", "csv"]:
            raise ShipmentError("CSV shipments are two files: the items CSV and the containers CSV")
        if _looks_like_containers(texts[0]) and not _looks_like_containers(texts[1]):
            texts.reverse()
            given.reverse()
        return parse_csv_tables(texts[0], str(given[0]), texts[1], str(given[1]))
    stdin = str(given[0]) == "-"
    base, name = (Path.cwd(), "<stdin>") if stdin else (given[0].parent, str(given[0]))
    if formats[0] == "toml":
        return parse_toml_shipment(texts[0], name, base, confined)
    return parse_json_shipment(texts[0], name, base, confined)
