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
    if kind == "device":
        return Path("/dev/zero")
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
        ("device", "not a regular file (a device, pipe or socket)"),
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


@pytest.mark.parametrize(
    "containers, message",
    [
        # Plain decimal numbers only.
        (
            "40GP,6_0,234,239,1800,26000,true\n",
            "containers.csv:2:6: container 40GP (row 1): l: expected a number, got '6_0'",
        ),
        (
            "40GP,\uff16\uff10,234,239,1800,26000,true\n",
            "containers.csv:2:6: container 40GP (row 1): l: expected a number, got '\uff16\uff10'",
        ),
        (
            '40GP,"45,5",234,239,1800,26000,true\n',
            "containers.csv:2:6: container 40GP (row 1): l: expected a number, got '45,5'",
        ),
        (
            "40GP,1203,234,239,1_800,26000,true\n",
            "containers.csv:2:19: container 40GP (row 1): cost: expected a whole number, got '1_800'",
        ),
        (
            "40GP,1203,234,239,1800,inf,true\n",
            "containers.csv:2:24: container 40GP (row 1): weight_limit: expected a number, got 'inf'",
        ),
        (
            "40GP,1203,234,239,1800,1e400,true\n",
            "containers.csv:2:24: container 40GP (row 1): weight_limit: expected a finite number, got inf",
        ),
        (
            "40GP,1203,234,239,-4500,26000,true\n",
            "containers.csv:2:19: container 40GP (row 1): cost: expected 0 or more, got -4500",
        ),
        # One id, two sizes: the report could not tell them apart.
        (
            ROW_40GP + "20GP,590,234,239,1000,28000,true\n40GP,590,234,239,1000,28000,true\n",
            "containers.csv:4:1: container 40GP (row 3): the id is already given in row 1; give each container type its own id",
        ),
    ],
)
def test_a_container_row_a_planner_would_misread_is_refused_naming_row_and_field(
    tmp_path: Path, containers: str, message: str
) -> None:
    (tmp_path / "items.csv").write_text(ITEMS)
    (tmp_path / "containers.csv").write_text(BINS + containers)
    with pytest.raises(ShipmentError) as refused:
        load_shipment([tmp_path / "items.csv", tmp_path / "containers.csv"])
    assert str(refused.value) == f"{tmp_path / 'containers.csv'}:{message.split(':', 1)[1]}"


def test_a_container_id_given_twice_is_refused_in_every_reader() -> None:
    item = dict(id=1, l=60, w=40, h=40, weight=10, factory=1, stackable=True)
    bins = [dict(id="40GP", l=1203, w=234, h=239, cost=1800, weight_limit=26000, available=True)]
    bins.append({**bins[0], "l": 590})
    tail = "the id is already given in {}; give each container type its own id"
    document = {"itemTable": [item], "binTable": bins}
    with pytest.raises(ShipmentError, match=r"^shipment: container 40GP \(row 2\): " + tail.format("row 1")):
        parse_shipment_object(document, "shipment")
    rows = [json.dumps(row) for row in (item, *bins)]
    text = f'{{"itemTable": [{rows[0]}],\n"binTable": [\n{rows[1]},\n{rows[2]}]}}'
    with pytest.raises(ShipmentError, match=r"^s.json:4:8: container 40GP \(row 2\): " + tail.format("row 1")):
        parse_json_shipment(text, "s.json")
    book = workbook_bytes({"itemTable": (list(item), [item]), "binTable": (list(bins[0]), bins)})
    with pytest.raises(
        ShipmentError,
        match=r"^s.xlsx sheet containers row 3 column A \(id\): container 40GP: " + tail.format("row 1"),
    ):
        parse_workbook(book, "s.xlsx")


@pytest.mark.parametrize("cell, where", [(["=30*2", 40], "B2"), ([60, "=SUM(A1:A1)"], "C2")])
def test_a_formula_a_script_wrote_without_its_value_is_named_by_its_cell(cell: list[object], where: str) -> None:
    item = [1, *cell, 40, 10, 1, True]
    bins = [dict(id="20GP", l=590, w=234, h=239, cost=1500, weight_limit=28000, available=True)]
    header = ["id", "l", "w", "h", "weight", "factory", "stackable"]
    book = workbook_bytes(
        {"itemTable": (header, [dict(zip(header, item, strict=True))]), "binTable": (list(bins[0]), bins)}
    )
    with pytest.raises(ShipmentError) as refused:
        parse_workbook(book, "s.xlsx")
    assert (
        str(refused.value)
        == f"s.xlsx sheet items: cell {where} holds a formula with no saved value; save the workbook in a spreadsheet program"
    )
