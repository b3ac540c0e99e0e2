"""Shipment readers against what is not a shipment: devices, pipes, huge files, numbers a
spreadsheet would not show as such, and containers that cannot be told apart."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from stowra.files import ShipmentError, load_shipment, parse_json_shipment, parse_shipment_object, parse_workbook
from stowra.files.excel import workbook_bytes

pytestmark = pytest.mark.python_only  # the file readers, before any table reaches the core

MAX_FILE_BYTES = 64 * 1024 * 1024  # the README's 64 MiB a file


def named(tmp_path: Path, kind: str) -> Path:
    if kind == "pipe":
        os.mkfifo(tmp_path / "items.csv")  # no writer: reading it would wait for ever
    elif kind == "folder":
        (tmp_path / "items.csv").mkdir()
    else:
        with (tmp_path / "items.csv").open("wb") as out:
            out.truncate(MAX_FILE_BYTES + 1)
    return tmp_path / "items.csv"


@pytest.mark.parametrize(
    "kind, words",
    [
        ("pipe", "not a regular file (a device, pipe or socket)"),
        ("folder", "is a directory, expected a file"),
        ("huge", "larger than 67,108,864 bytes; not a shipment"),
    ],
)
def test_a_shipment_naming_what_is_not_a_shipment_file_is_refused(tmp_path: Path, kind: str, words: str) -> None:
    path = named(tmp_path, kind)
    (tmp_path / "shipment.toml").write_text(f'items = "{path}"\n')
    with pytest.raises(ShipmentError) as refused:
        load_shipment([tmp_path / "shipment.toml"])
    assert str(refused.value) == f"{path}: {words}"


ITEMS = "id,l,w,h,weight,factory,stackable\n1,60,40,40,10,1,true\n"
BINS = "id,l,w,h,cost,weight_limit,available\n"
ROW_40GP = "40GP,1203,234,239,1800,26000,true\n"
NUMBER, WHOLE = "expected a number, got", "expected a whole number, got"


@pytest.mark.parametrize(
    "column, cell, at, message",
    [
        # Plain decimal numbers only.
        ("l", "6_0", 6, f"l: {NUMBER} '6_0'"),
        ("cost", "1_800", 19, f"cost: {WHOLE} '1_800'"),
        ("weight_limit", "1e400", 24, "weight_limit: expected a finite number, got inf"),
        ("cost", "-4500", 19, "cost: expected 0 or more, got -4500"),
    ],
)
def test_a_container_cell_a_planner_would_misread_is_refused_naming_row_and_field(
    tmp_path: Path, column: str, cell: str, at: int, message: str
) -> None:
    value = {"l": "1203", "cost": "1800", "weight_limit": "26000"}[column]
    refused = containers_refused(tmp_path, ROW_40GP.replace(f",{value},", f",{cell},", 1))
    assert refused == f"containers.csv:2:{at}: container 40GP (row 1): {message}"


def containers_refused(tmp_path: Path, containers: str) -> str:
    (tmp_path / "items.csv").write_text(ITEMS)
    (tmp_path / "containers.csv").write_text(BINS + containers)
    with pytest.raises(ShipmentError) as refused:
        load_shipment([tmp_path / "items.csv", tmp_path / "containers.csv"])
    return str(refused.value).replace(f"{tmp_path}/", "")


ITEM = dict(id=1, l=60, w=40, h=40, weight=10, factory=1, stackable=True)
BIN_20GP = dict(id="20GP", l=590, w=234, h=239, cost=1500, weight_limit=28000, available=True)


def test_a_container_id_given_twice_is_refused_in_every_reader(tmp_path: Path) -> None:
    # One id, two sizes: the report could not tell them apart.
    bins = [{**BIN_20GP, "id": "40GP", "l": 1203}, {**BIN_20GP, "id": "40GP"}]
    tail = "the id is already given in row 1; give each container type its own id"
    with pytest.raises(ShipmentError, match=r"^shipment: container 40GP \(row 2\): " + tail):
        parse_shipment_object({"itemTable": [ITEM], "binTable": bins}, "shipment")
    rows = [json.dumps(row) for row in (ITEM, *bins)]
    text = f'{{"itemTable": [{rows[0]}],\n"binTable": [\n{rows[1]},\n{rows[2]}]}}'
    with pytest.raises(ShipmentError, match=r"^s.json:4:8: container 40GP \(row 2\): " + tail):
        parse_json_shipment(text, "s.json")
    book = workbook_bytes({"itemTable": (list(ITEM), [ITEM]), "binTable": (list(BIN_20GP), bins)})
    with pytest.raises(ShipmentError, match=r"^s.xlsx sheet containers row 3 column A \(id\): container 40GP: " + tail):
        parse_workbook(book, "s.xlsx")
    twice = ROW_40GP + "20GP,590,234,239,1000,28000,true\n40GP,590,234,239,1000,28000,true\n"
    assert containers_refused(tmp_path, twice) == f"containers.csv:4:1: container 40GP (row 3): {tail}"


def test_a_formula_a_script_wrote_without_its_value_is_named_by_its_cell() -> None:
    row = {**ITEM, "w": "=SUM(A1:A1)"}
    book = workbook_bytes({"itemTable": (list(ITEM), [row]), "binTable": (list(BIN_20GP), [BIN_20GP])})
    with pytest.raises(
        ShipmentError,
        match=r"^s.xlsx sheet items: cell C2 holds a formula with no saved value; save the workbook in a spreadsheet program$",
    ):
        parse_workbook(book, "s.xlsx")
