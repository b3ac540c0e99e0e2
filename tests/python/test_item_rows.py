"""Items named by the planner's own ids and rows, whatever the core calls them."""

from __future__ import annotations

from pathlib import Path
from typing import Any

import pytest

from stowra.files import load_shipment
from stowra.item_rows import core_problem

ITEMS_CSV = "id,l,w,h,weight,factory,stackable,quantity\nSKU-101,60,40,40,18,1,true,3\n102,60,40,40,18,2,true,1\nSKU-103,60,40,40,30000,1,true,2\n"
BINS_CSV = "id,l,w,h,cost,weight_limit,available\n20GP,590,234,239,1500,28000,true\n"


def test_whole_number_ids_reach_the_core_untouched_and_text_ids_get_its_numbers() -> None:
    numbered = {"itemTable": [{"id": 5}, {"id": 5}, {"id": -3}], "binTable": []}
    assert core_problem(numbered) is numbered
    texts = {"itemTable": [{"id": "B"}, {"id": 7}, {"id": "B"}, {"id": "7"}], "binTable": []}
    assert [row["id"] for row in core_problem(texts)["itemTable"]] == [1, 2, 1, 3]
    assert [row["id"] for row in texts["itemTable"]] == ["B", 7, "B", "7"]


@pytest.mark.parametrize(("cell", "read"), [("60", 60), (" -7 ", -7), ("\uff16\uff10", "\uff16\uff10"), ("6_0", "6_0")])
def test_only_plain_digits_make_a_numeric_id(tmp_path: Path, cell: str, read: Any) -> None:
    # Full-width digits and underscores would make a number nobody typed; they stay text.
    (tmp_path / "items.csv").write_text(ITEMS_CSV.replace("102,", f"{cell},", 1), encoding="utf-8")
    (tmp_path / "containers.csv").write_text(BINS_CSV)
    # The pair is told apart by its columns, not by the order given.
    shipment = load_shipment([tmp_path / "containers.csv", tmp_path / "items.csv"])
    assert [row["id"] for row in shipment.input["itemTable"]] == ["SKU-101"] * 3 + [read] + ["SKU-103"] * 2
    assert shipment.input["binTable"][0]["id"] == "20GP"
