"""The rules a crew needs in optimize's plans (weight balance, pickup order), the loading list
that follows them, the report's marks and the reasons for left-out items."""

from __future__ import annotations

import json
import math
import re
from pathlib import Path
from typing import Any

import pytest
from cli_plans import shelf_pack
from plan_checks import breaches, check_plan, unbalanced_containers
from problems import CONTAINER_20GP, container, item, problem

import stowra
from stowra import cli
from stowra.examples import example_json
from stowra.files import ShipmentError, parse_csv_tables, parse_json_shipment, parse_shipment_object
from stowra.item_rows import explain
from stowra.loading_list import MIXED_NOTE, loading_rows
from stowra.reading import read_plan, reasons_left_out
from stowra.searches import run_search
from stowra.service.models import check_options
from stowra.service.plans import ClientError
from stowra.service.settings import Settings


@pytest.fixture(scope="module")
def example() -> dict[str, Any]:
    return parse_json_shipment(example_json(), "example").input


def test_the_example_keeps_the_rules_and_its_list_goes_factory_by_factory(example: dict[str, Any]) -> None:
    result = stowra.optimize(example, threads=1)
    check_plan(example, result, balance_limit=0.6, pickup_order=True)
    assert [row["balanceKept"] for row in result["packingTable"]] == [True] * result["totalBins"]
    assert result["leftOut"] == []
    rows = loading_rows(read_plan(result, example))
    for number in {row["container"] for row in rows}:
        factories = [row["factory"] for row in rows if row["container"] == number]
        assert factories == sorted(factories)
    assert all(row["note"] == "" for row in rows)
    assert read_plan(result, example).warnings == ()


def test_a_pack_plan_that_mixes_factories_is_listed_and_marked(example: dict[str, Any]) -> None:
    # pack fills gaps wherever they are: the example's plan stands factory 3 behind factory 1.
    result = stowra.pack(example, pop_size=4, generations=1, threads=1)
    mixed = {found["container"] for found in breaches(example, result, "pickup_order")}
    assert mixed
    reading = read_plan(result, example, search="exact")
    rows = loading_rows(reading)
    assert {row["container"] for row in rows if row["note"] == MIXED_NOTE} == mixed
    marked = {c.number for c in reading.containers if any("factories mixed" in w for w in c.warnings)}
    assert marked == mixed


@pytest.mark.parametrize(
    "row, fault",
    [
        # Factory 2 behind factory 1 in a container the checker cannot read for its type...
        ({"binType": "40HC", "items": [(1, 0), (0, 100)]}, "not one of the available container types"),
        # ...or only behind the second place of an item placed twice.
        ({"binTypeIndex": 0, "items": [(0, 100), (1, 300), (1, 0)]}, "is placed again"),
    ],
)
def test_factories_mixed_in_a_container_the_checker_reads_no_further(row: dict[str, Any], fault: str) -> None:
    shipment = problem([item(0, factory=1), item(1, factory=2)])
    places = [dict(itemIndex=i, x=x, y=0, z=0, rotation=0) for i, x in row["items"]]
    packed = dict(row, id=1, items=places, spaceUtilization=0.1, currentWeight=25.0, centerOfGravity=[0, 0, 0])
    result = {"packingTable": [packed], "cost": 1, "utilization": 0.1, "elapsedSeconds": 0.0}
    reading = read_plan(result, shipment)
    assert reading.containers[0].factories_mixed
    assert any("factories mixed" in w for w in reading.warnings) and any(fault in w for w in reading.warnings)


def test_the_rules_can_be_turned_off(example: dict[str, Any]) -> None:
    # Without them the walls from the back leave both containers out of balance and mixed.
    result = stowra.optimize(example, threads=1, balance_limit=1.0, pickup_order=False)
    assert unbalanced_containers(example, result) and breaches(example, result, "pickup_order")
    figures = read_plan(result, example).containers
    assert all(any("one half" in warning for warning in f.warnings) for f in figures)
    # The plan's own rows keep the limit asked (1.0); their figures, which the report shows,
    # find the containers the checker finds over 60%.
    assert all(row["balanceKept"] for row in result["packingTable"])
    over = {row["id"] for row in result["packingTable"] if row["balance"] > 0.6}
    assert over == set(unbalanced_containers(example, result))


@pytest.mark.parametrize("limit", [0.49, 1.01, math.nan, math.inf])
def test_a_balance_limit_outside_a_half_to_one_is_refused(limit: float) -> None:
    with pytest.raises(ValueError, match=re.escape("balance_limit must be between 0.5 and 1")):
        stowra.optimize(problem(), balance_limit=limit)


@pytest.mark.parametrize(
    "options, error",
    [
        ({"balance_limit": 0.3}, "balance_limit must be a number from 0.5 to 1"),
        ({"balance_limit": True}, "balance_limit must be a number from 0.5 to 1"),
        ({"pickup_order": 1}, "pickup_order must be true or false"),
    ],
)
def test_the_service_refuses_bad_rule_options(options: dict[str, Any], error: str) -> None:
    with pytest.raises(ClientError, match=re.escape(error)):
        check_options(options, Settings())


BIG = container(CONTAINER_20GP, id="small", weight_limit=1000.0)
# Only the third type is tall enough, and the exact search opens the first two.
THREE_TYPES = [container(id="a"), container(id="b"), container(id="tall", h=300.0)]
# The tall type holds a 250 cm box but carries 1,000 kg; the one that carries it is too low.
TALL_LOW = [container(id="tall", h=300.0, weight_limit=1000.0), container(id="low", h=200.0, weight_limit=0.0)]
NO_ROOM = "no room left within the weight limits of the containers the plan could afford"


@pytest.mark.parametrize(
    "row, bins, search, reason",
    [
        # 2,000 kg and every limit is 1,000 kg.
        (item(0, weight=2000.0), [BIG], "optimize", "heavier than every available container's weight limit"),
        # 240 cm tall and the container is 230 cm high: it does not stand in it.
        (item(0, h=240.0), [BIG], "optimize", "no available container holds it upright"),
        (item(0, h=250.0, weight=2000.0), TALL_LOW, "optimize", "the containers that hold it cannot carry its weight"),
        (item(0, h=260.0), THREE_TYPES, "exact", "only a container type the exact search does not open holds it"),
        # It fits: the room the plan had kept it out, or (a plan that says no more than pack's
        # cannot tell) the clock.
        (item(0, h=260.0), THREE_TYPES, "optimize", f"{NO_ROOM}, or the time limit"),
    ],
)
def test_left_out_items_get_a_planners_reason(
    row: dict[str, Any], bins: list[dict[str, Any]], search: str, reason: str
) -> None:
    assert reasons_left_out([0], {"packingTable": []}, problem(items=[row], bins=bins), search)[0] == reason


def test_optimizes_result_gives_each_left_out_item_its_reason() -> None:
    # With the clock run out from the start the one plan scored is pack's own loading, which
    # opens the first two types only: the box only the third holds is left out.
    load = problem(items=[item(0, h=150.0), item(1, h=260.0, weight=2000.0), item(2, h=150.0)], bins=THREE_TYPES)
    result = stowra.optimize(load, threads=1, effort=0, time_limit=1e-9)
    reason = "the time limit ran out before a place was found for it"
    assert result["leftOut"] == [{"itemIndex": 1, "reason": reason}]
    assert [row.reason for row in read_plan(result, load).left_out] == [reason]


def test_the_command_line_hands_the_rules_to_the_search(tmp_path: Path) -> None:
    # The defaults are checked with the rest of the settings in the command line's own tests.
    path = tmp_path / "s.json"
    path.write_text(json.dumps(problem(items=[item(0)], bins=[container()])))
    calls: list[dict[str, Any]] = []
    search = lambda load, **settings: calls.append(settings) or shelf_pack(load)  # noqa: E731
    assert cli.main(["pack", str(path), "--balance-limit", "0.75", "--no-pickup-order", "-q"], search_fn=search) == 0
    assert (calls[0]["balance_limit"], calls[0]["pickup_order"]) == (0.75, False)


def test_the_command_line_refuses_a_balance_limit_in_one_line(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    path = tmp_path / "s.json"
    path.write_text(json.dumps(problem()))
    assert cli.main(["pack", str(path), "--balance-limit", "1.5"]) == 2
    assert capsys.readouterr().err.count("\n") == 1


# A container just one box long and wide and two boxes high: two boxes share it only stacked,
# so whether the lower box may carry the upper one's 12.5 kg decides between one and two.
TOWER = container(id="tower", l=60.0, w=40.0, h=60.0)


# The limits at and around the weight are the core's test; here a limit, and none, reach it.
@pytest.mark.parametrize(("limit", "containers"), [(None, 1), (12.4, 2)])
def test_a_box_stands_on_another_only_within_its_max_load(limit: float | None, containers: int) -> None:
    load = problem(items=[item(i, max_load=limit) for i in range(2)], bins=[TOWER])
    result = stowra.optimize(load, threads=1)
    check_plan(load, result)  # max_load included
    assert result["totalBins"] == containers


def test_pack_ignores_max_load_and_the_report_lists_the_box_loaded_beyond_it() -> None:
    plain = problem(items=[item(i) for i in range(2)], bins=[TOWER])
    limited = problem(items=[item(i, max_load=0.0) for i in range(2)], bins=[TOWER])
    kept, result = (stowra.pack(load, pop_size=4, generations=1, threads=1) for load in (plain, limited))
    assert {**result, "elapsedSeconds": 0} == {**kept, "elapsedSeconds": 0}
    # One container, so one box stands on the other and carries its 12.5 kg.
    assert result["totalBins"] == 1
    (lower,) = [p["itemIndex"] for p in result["packingTable"][0]["items"] if p["z"] == 0]
    assert [(b["container"], b["items"], b["figure"]) for b in breaches(limited, result, "max_load")] == [
        (1, [lower], 12.5)
    ]
    (warning,) = read_plan(result, limited, search="exact").containers[0].warnings
    assert warning == f"loaded beyond their limit: item {100 + lower} carries 12.5 kg (max_load 0.0)"
    assert read_plan(result, plain, search="exact").containers[0].warnings == ()


def test_a_bad_max_load_is_refused_by_optimize_naming_the_row() -> None:
    load = problem(items=[item(0), item(1, max_load=-1.0)], bins=[TOWER])
    with pytest.raises(ValueError) as refused:
        run_search(load, search="optimize", threads=1)
    text, _ = explain(str(refused.value), load)
    assert text == "item 101 (row 2): max_load must be a finite number, 0 or more, got -1"
    # pack has no load rule and passes the column over.
    assert stowra.pack(load, pop_size=4, generations=1, threads=1)["totalBins"] == 1


@pytest.mark.parametrize(
    ("cell", "error"),
    [
        ("-5", "items.csv:3:26: item 101 (row 2): max_load: expected 0 or more, got -5"),
        ("", None),
        ("40", None),
    ],
)
def test_the_readers_take_max_load_as_an_optional_column(cell: str, error: str | None) -> None:
    items = f"id,l,w,h,weight,factory,stackable,max_load\n100,60,40,30,12.5,1,true,\n101,60,40,30,12.5,1,true,{cell}\n"
    bins = "id,l,w,h,cost,weight_limit,available\ntower,60,40,60,1000,28000,true\n"
    if error is not None:
        with pytest.raises(ShipmentError) as refused:
            parse_csv_tables(items, "items.csv", bins, "containers.csv")
        assert str(refused.value) == error
        return
    shipment = parse_csv_tables(items, "items.csv", bins, "containers.csv")
    assert [row.get("max_load") for row in shipment.input["itemTable"]] == [None, float(cell) if cell else None]
    assert "max_load" not in shipment.input["itemTable"][0] and not shipment.warnings
    # A JSON null is no limit either.
    document = {"itemTable": [item(0, max_load=None)], "binTable": [TOWER]}
    assert "max_load" not in parse_shipment_object(document, "shipment").input["itemTable"][0]


# Row 1 is not available; rows 2 and 3 share a name, and only row 2 is long enough for a box
# 250 cm in: the checker must read a container's type by its row.
NAMESAKES = [container(id="20GP", available=False), container(id="20GP"), container(id="20GP", l=300.0)]


@pytest.mark.parametrize(
    "type_key, found",
    [
        ({"binTypeIndex": 1}, []),
        ({"binTypeIndex": 2}, [("outside", "container 1: item SKU-2 (row 2) reaches 10 beyond the container")]),
        ({"binTypeIndex": 0}, [("unknown_type", "container 1: its type is not one of the available container types")]),
        ({"binType": "20GP"}, []),  # a plan made elsewhere: the first available type of the name
    ],
)
def test_check_plan_reads_each_containers_type_and_names_items_as_submitted(
    type_key: dict[str, Any], found: list[tuple[str, str]]
) -> None:
    load = problem(items=[item(0, id="SKU-1"), item(1, id="SKU-2")], bins=NAMESAKES)
    placements = [{"itemIndex": 1, "x": 250.0, "y": 0.0, "z": 0.0, "rotation": 0}]
    plan = {"packingTable": [{**type_key, "items": placements}]}
    assert [(b["rule"], b["message"]) for b in stowra.check_plan(load, plan, balance_limit=1.0)] == found


def test_check_plan_refuses_a_plan_without_its_keys() -> None:
    placement = {"itemIndex": 0, "x": 0, "y": 0, "rotation": 0}
    with pytest.raises(ValueError, match=re.escape("Missing required key 'z' in packingTable[0]['items'][0]")):
        stowra.check_plan(problem(bins=NAMESAKES), {"packingTable": [{"binTypeIndex": 1, "items": [placement]}]})
