"""Excel shipments: the same rows as the other formats, errors naming sheet, row and column."""

from __future__ import annotations

import io
import re
import zipfile
from pathlib import Path
from typing import Any

import openpyxl
import pytest
from plan_checks import calls_made

from stowra import cli
from stowra.atomic_write import TEMPORARY_MARK
from stowra.examples import example_json, example_workbook
from stowra.files import ShipmentError, load_shipment, parse_json_shipment, parse_workbook


def workbook(items: list[list[Any]], containers: list[list[Any]] | None = None) -> bytes:
    book = openpyxl.Workbook()
    book.active.title = "items"
    for row in items:
        book["items"].append(row)
    if containers is not None:
        sheet = book.create_sheet("containers")
        for row in containers:
            sheet.append(row)
    out = io.BytesIO()
    book.save(out)
    return out.getvalue()


BINS = [["id", "l", "w", "h", "cost", "weight_limit", "available"], ["20GP", 590, 234, 239, 1500, 28000, True]]
HEADER = ["id", "l", "w", "h", "weight", "factory", "stackable", "quantity"]


def test_the_example_workbook_reads_as_the_example_json(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    assert cli.main(["example", "--format", "xlsx", str(tmp_path)]) == 0
    assert f"stowra pack {tmp_path / 'shipment.xlsx'}" in capsys.readouterr().out
    from_book = load_shipment([tmp_path / "shipment.xlsx"])
    from_json = parse_json_shipment(example_json(), "x.json")
    # repr tells 4 from 4.0 and True from 1: quantities expand, whole numbers stay whole.
    assert repr(from_book.input) == repr(from_json.input)
    # Row 1 is the header: the first item row is row 2 of the sheet.
    assert from_book.item_sources[0].where() == f"{tmp_path / 'shipment.xlsx'} sheet items row 2"
    assert not list(tmp_path.glob(f"*{TEMPORARY_MARK}*"))


ITEM = [1, 60, 40, 40, 18, 1, True, 2]


@pytest.mark.parametrize(
    "items, containers, expected",
    [
        # Text typed into a number cell, and cells as spreadsheets type them (60.0, "TRUE").
        (
            [HEADER, [1, 60.0, 40, "40", 18, 1, "TRUE", "x"]],
            BINS,
            "items row 2 column H (quantity): item 1: expected a whole",
        ),
        ([HEADER, [], [1, "wide", *ITEM[2:]]], BINS, "items row 3 column B (l): item 1: expected a number, got"),
        ([HEADER, ITEM], [*BINS, ["4", 1, 1, 1, 1, 0, "?"]], "containers row 3 column G"),
        ([["id", "l", "id"]], BINS, "sheet items row 1 column C: header: 'id' repeated"),
        ([HEADER[:2], [1, 60, 9]], BINS, "sheet items row 2 column C: a value with no header"),
        ([HEADER], None, "b.xlsx: no sheet 'containers' (the workbook has: items)"),
    ],
)
def test_errors_name_the_sheet_row_and_column(
    tmp_path: Path, items: list[list[Any]], containers: list[list[Any]] | None, expected: str
) -> None:
    path = tmp_path / "b.xlsx"
    path.write_bytes(workbook(items, containers))
    with pytest.raises(ShipmentError) as raised:
        load_shipment([path])
    assert expected in str(raised.value).replace(f"{tmp_path}/", "")


# A date the library cannot read: its message runs over two lines. (Damaged archives and
# damaged XML, which random damage reaches often, are in test_damaged_files.)
BAD_DATE = (
    b'<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties"'
    b' xmlns:dcterms="http://purl.org/dc/terms/" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">'
    b'<dcterms:modified xsi:type="dcterms:W3CDTF">W3CDTF</dcterms:modified></cp:coreProperties>'
)


def test_an_unreadable_workbook_is_one_line_naming_the_file(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    path = tmp_path / "b.xlsx"
    with zipfile.ZipFile(io.BytesIO(example_workbook())) as book, zipfile.ZipFile(path, "w") as copy:
        for info in book.infolist():
            copy.writestr(info, BAD_DATE if info.filename == "docProps/core.xml" else book.read(info))
    assert cli.main(["pack", str(path)]) == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert line.startswith(f"stowra: error: {path}: not an Excel workbook (.xlsx): ")


def with_part(data: bytes, part: str, change: Any) -> bytes:
    """The workbook with one of its zip parts changed, compressed as a spreadsheet program would."""
    source, out = zipfile.ZipFile(io.BytesIO(data)), io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            body = source.read(info)
            target.writestr(info.filename, change(body) if info.filename == part else body)
        if part not in source.namelist():
            target.writestr(part, change(b""))
    return out.getvalue()


def far_row(sheet: bytes) -> bytes:
    sheet = re.sub(rb'<dimension ref="[^"]*"', b'<dimension ref="A1:XFD1048576"', sheet)
    return sheet.replace(b"</sheetData>", b'<row r="1048576"><c r="A1048576" t="n"><v>1</v></c></row></sheetData>')


def many_strings(_: bytes) -> bytes:
    return (
        b'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        + b"<si><t>x</t></si>" * 2_000_000
        + b"</sst>"
    )


# The bounds are the README's: 100,000 items (a header row besides) and 16 MiB of shared strings.
@pytest.mark.parametrize(
    "part, change, message",
    [
        (
            "xl/worksheets/sheet1.xml",
            far_row,
            " sheet items: more than 100,001 rows; a shipment has at most 100,000 items: split it",
        ),
        (
            "xl/sharedStrings.xml",
            many_strings,
            ": its part xl/sharedStrings.xml unpacks to 34,000,077 bytes, more than a shipment workbook needs (16,777,216)",
        ),
    ],
    ids=["a far row", "unpacks huge"],
)
def test_a_workbook_claiming_more_than_a_shipment_needs_is_refused_before_it_is_unpacked(
    part: str, change: Any, message: str
) -> None:
    data = workbook([HEADER, ITEM], BINS)
    bomb = with_part(data, part, change)
    assert len(bomb) < 200_000
    with pytest.raises(ShipmentError) as refused:
        parse_workbook(bomb, "bomb.xlsx")
    assert str(refused.value) == f"bomb.xlsx{message}"


def test_a_sheet_claiming_every_column_costs_what_its_cells_cost() -> None:
    # A sheet may claim A1:XFD...: 16,384 columns; a reader that pads each row to the claim
    # does thousands of times the work for the same cells.
    data = workbook([HEADER, *([n, 60, 40, 40, 10, 1, "yes", 2] for n in range(1, 21))], BINS)
    claim = re.compile(rb'<dimension ref="[^"]*"')
    wide = with_part(data, "xl/worksheets/sheet1.xml", lambda sheet: claim.sub(b'<dimension ref="A1:XFD21"', sheet))
    plain, read = calls_made(lambda: parse_workbook(data, "s.xlsx"))
    claimed, read_wide = calls_made(lambda: parse_workbook(wide, "s.xlsx"))
    assert read_wide.input == read.input and len(read.input["itemTable"]) == 40
    assert claimed < plain * 1.5, (plain, claimed)
