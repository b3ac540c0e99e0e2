"""Items named by the planner's own ids and rows, whatever the core calls them."""

from __future__ import annotations

import csv
from pathlib import Path
from typing import Any

import pytest

from stowra import cli
from stowra.files import load_shipment, parse_shipment_object
from stowra.item_rows import core_problem, explain
from stowra.searches import run_search

BIN = {"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000, "available": True}
ITEMS_CSV = "id,l,w,h,weight,factory,stackable,quantity\nSKU-101,60,40,40,18,1,true,3\n102,60,40,40,18,2,true,1\nSKU-103,60,40,40,30000,1,true,2\n"
BINS_CSV = "id,l,w,h,cost,weight_limit,available\n20GP,590,234,239,1500,28000,true\n"


def test_whole_number_ids_reach_the_core_untouched_and_text_ids_get_its_numbers() -> None:
    numbered = {"itemTable": [{"id": 5}, {"id": 5}, {"id": -3}], "binTable": []}
    assert core_problem(numbered) is numbered
    texts = {"itemTable": [{"id": "B"}, {"id": 7}, {"id": "B"}, {"id": "7"}], "binTable": []}
    assert [row["id"] for row in core_problem(texts)["itemTable"]] == [1, 2, 1, 3]
    assert [row["id"] for row in texts["itemTable"]] == ["B", 7, "B", "7"]


@pytest.mark.parametrize(
    "order", [("items.csv", "containers.csv"), ("containers.csv", "items.csv")], ids=["items first", "containers first"]
)
def test_the_csv_pair_is_told_apart_by_its_columns(tmp_path: Path, order: tuple[str, str]) -> None:
    (tmp_path / "items.csv").write_text(ITEMS_CSV)
    (tmp_path / "containers.csv").write_text(BINS_CSV)
    shipment = load_shipment([tmp_path / name for name in order])
    assert [row["id"] for row in shipment.input["itemTable"]] == ["SKU-101"] * 3 + [102] + ["SKU-103"] * 2
    assert shipment.input["binTable"][0]["id"] == "20GP"


@pytest.mark.parametrize(
    "row, expected",
    [
        ({"l": -70}, "item SKU-103 (row 3): l must be positive, got -70"),
        ({"h": 900}, "item SKU-103 (row 3) (60x40x900) does not fit in any available bin type"),
        ({"w": None}, "item SKU-103 (row 3): column w is blank"),
        ({"id": None}, "item row 3: column id is blank"),
    ],
)
def test_refusals_name_the_item_and_its_row_as_submitted(row: dict[str, Any], expected: str) -> None:
    good = {"id": "SKU-101", "l": 60, "w": 40, "h": 40, "weight": 18, "factory": 1, "stackable": True}
    bad = {key: value for key, value in {**good, "id": "SKU-103", **row}.items() if value is not None}
    items = [{**good, "quantity": 4}, {**good, "id": 102}, bad]
    shipment = parse_shipment_object({"itemTable": items, "binTable": [BIN]}, "shipment")
    with pytest.raises(ValueError) as refused:
        run_search(shipment.input, search="exact", pop_size=1, generations=0, threads=1)
    assert explain(str(refused.value), shipment.input, shipment.item_sources) == (expected, "")


def test_text_ids_and_rows_reach_every_command_line_output(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    (tmp_path / "items.csv").write_text(ITEMS_CSV)
    (tmp_path / "containers.csv").write_text(BINS_CSV)
    argv = ["pack", str(tmp_path / "containers.csv"), str(tmp_path / "items.csv"), "--search", "exact"]
    argv += ["--generations", "2", "--pop-size", "4", "--threads", "1", "-q", "--instructions", str(tmp_path / "l.csv")]
    assert cli.main(argv) == 0
    err = capsys.readouterr().err
    # Two 30,000 kg items over the 28,000 kg limit: named by their id and file line, counted.
    assert "2 of 6 items left out: id SKU-103 (x2) (" in err and "items.csv line 4)" in err
    with open(tmp_path / "l.csv", newline="") as text:
        ids = [row["item_id"] for row in csv.DictReader(text)]
    assert sorted(ids) == ["102", "SKU-101", "SKU-101", "SKU-101"]
