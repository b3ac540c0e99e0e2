"""CSV files stowra writes: user text that a spreadsheet would run as a formula stays text."""

from __future__ import annotations

import csv
import io
from typing import Any

import pytest
from cli_plans import shelf_pack

from stowra.csv_cells import safe_cell
from stowra.loading_list import loading_list_text
from stowra.reading import read_plan

pytestmark = pytest.mark.python_only  # text written from a plan made in Python

ATTACK = "=cmd|' /C calc'!A0"


@pytest.mark.parametrize(
    "value, written",
    [
        (ATTACK, "'" + ATTACK),
        ("+1+2", "'+1+2"),
        ("-2+3+cmd|' /C calc'!A0", "'-2+3+cmd|' /C calc'!A0"),
        ("@SUM(1,1)", "'@SUM(1,1)"),
        ("\t=1", "'\t=1"),
        ("\r=1", "'\r=1"),
        ("-", "'-"),
        # Numbers stay numbers.
        ("-4.5", "-4.5"),
        ("40GP", "40GP"),
        ("a=b", "a=b"),
    ],
)
def test_a_cell_a_spreadsheet_would_run_is_written_as_text(value: Any, written: Any) -> None:
    assert safe_cell(value) == written


def test_the_loading_list_writes_a_formula_like_container_id_as_text() -> None:
    problem = {
        "itemTable": [dict(id=1, l=60, w=40, h=40, weight=10, factory=1, stackable=True)],
        "binTable": [dict(id=ATTACK, l=200, w=234, h=239, cost=1500, weight_limit=1000, available=True)],
    }
    text, count = loading_list_text(read_plan(shelf_pack(problem), problem))
    (row,) = csv.DictReader(io.StringIO(text))
    assert count == 1 and row["container_type"] == "'" + ATTACK
