"""The rules a crew needs in optimize's plans (weight balance, pickup order), the loading list
that follows them, the report's marks and the reasons for left-out items."""

from __future__ import annotations

import math
import re
from typing import Any

import pytest
from plan_checks import check_plan, must_load_before, pickup_order_breaks, placed_box, unbalanced_containers
from problems import CONTAINER_20GP, container, item, problem

import stowra
from stowra.examples import example_json
from stowra.files import parse_json_shipment
from stowra.loading_list import MIXED_NOTE, loading_rows
from stowra.report import container_figures, left_out_reason
from stowra.service.plans import ClientError, check_options
from stowra.service.settings import Settings


@pytest.fixture(scope="module")
def example() -> dict[str, Any]:
    return parse_json_shipment(example_json(), "example").input


def assert_loadable(load: dict[str, Any], result: dict[str, Any], rows: list[dict[str, Any]]) -> None:
    """No row comes before a box that stands behind it or under it."""
    by_container: dict[int, list[int]] = {}
    where = {(row["id"], p["itemIndex"]): p for row in result["packingTable"] for p in row["items"]}
    placed = {row["id"]: [p["itemIndex"] for p in row["items"]] for row in result["packingTable"]}
    for row in rows:
        by_container.setdefault(row["container"], []).append(row)
    for number, listed in by_container.items():
        # The rows carry positions, not indices: match each row to its placement by position.
        at = {(p["x"], p["y"], p["z"]): index for index in placed[number] for p in [where[(number, index)]]}
        order = [at[(float(row["x"]), float(row["y"]), float(row["z"]))] for row in listed]
        boxes = {index: placed_box(load["itemTable"][index], where[(number, index)]) for index in order}
        for later_step, later in enumerate(order):
            for earlier in order[later_step + 1 :]:
                assert not must_load_before(boxes[earlier], boxes[later]), (number, earlier, later)


def test_the_example_keeps_the_rules_and_its_list_goes_factory_by_factory(example: dict[str, Any]) -> None:
    result = stowra.optimize(example, threads=1)
    check_plan(example, result)
    assert unbalanced_containers(example, result) == []
    assert pickup_order_breaks(example, result) == []
    rows = loading_rows(result, example)
    for number in {row["container"] for row in rows}:
        factories = [row["factory"] for row in rows if row["container"] == number]
        assert factories == sorted(factories)
    assert all(row["note"] == "" for row in rows)
    assert_loadable(example, result, rows)
    assert all(not figures["warnings"] for figures in container_figures(result, example))


def test_a_pack_plan_that_mixes_factories_is_listed_loadable_and_marked(example: dict[str, Any]) -> None:
    # pack fills gaps wherever they are: the example's plan stands factory 3 behind factory 1.
    result = stowra.pack(example, pop_size=4, generations=1, threads=1)
    mixed = {number for number, _, _ in pickup_order_breaks(example, result)}
    assert mixed
    rows = loading_rows(result, example)
    assert {row["container"] for row in rows if row["note"] == MIXED_NOTE} == mixed
    assert_loadable(example, result, rows)
    marked = {f["id"] for f in container_figures(result, example) if any("factories mixed" in w for w in f["warnings"])}
    assert marked == mixed


def test_the_rules_can_be_turned_off(example: dict[str, Any]) -> None:
    # Without them the walls from the back leave both containers out of balance and mixed.
    result = stowra.optimize(example, threads=1, balance_limit=1.0, pickup_order=False)
    assert unbalanced_containers(example, result) and pickup_order_breaks(example, result)
    figures = container_figures(result, example)
    assert all(any("one half" in warning for warning in f["warnings"]) for f in figures)


def test_a_load_at_the_back_is_moved_to_straddle_the_middle() -> None:
    # One 100 cm box in a 590 cm container: from the back wall all its weight is in the back
    # half; centred (245 cm in) half of it lies in each.
    load = problem(items=[item(0, l=100.0, w=100.0, h=100.0, weight=500.0)], bins=[container()])
    result = stowra.optimize(load, threads=1)
    assert result["packingTable"][0]["items"][0]["x"] == 245.0
    assert container_figures(result, load)[0]["balance"] == 0.5
    # At a limit of 1 nothing moves it.
    assert stowra.optimize(load, threads=1, balance_limit=1.0)["packingTable"][0]["items"][0]["x"] == 0.0


@pytest.mark.parametrize("limit", [0.49, 1.01, math.nan, math.inf])
def test_a_balance_limit_outside_a_half_to_one_is_refused(limit: float) -> None:
    with pytest.raises(ValueError, match=re.escape("balance_limit must be between 0.5 and 1")):
        stowra.optimize(problem(), balance_limit=limit)


@pytest.mark.parametrize(
    "options, error",
    [
        ({"balance_limit": 0.3}, "balance_limit must be a number from 0.5 to 1"),
        ({"balance_limit": "0.6"}, "balance_limit must be a number from 0.5 to 1"),
        ({"balance_limit": True}, "balance_limit must be a number from 0.5 to 1"),
        ({"pickup_order": 1}, "pickup_order must be true or false"),
    ],
)
def test_the_service_refuses_bad_rule_options(options: dict[str, Any], error: str) -> None:
    with pytest.raises(ClientError, match=re.escape(error)):
        check_options(options, Settings())


def test_the_service_fills_in_the_rule_defaults() -> None:
    options = check_options({"pickup_order": False}, Settings())
    assert options["balance_limit"] == 0.6 and options["pickup_order"] is False


BIG = container(CONTAINER_20GP, id="small", weight_limit=1000.0)


@pytest.mark.parametrize(
    "row, search, reason",
    [
        # 2,000 kg and every limit is 1,000 kg.
        (item(0, weight=2000.0), "optimize", "heavier than every available container's weight limit"),
        # 240 cm tall and the container is 230 cm high: it does not stand in it.
        (item(0, h=240.0), "optimize", "no available container holds it upright"),
        # It fits: what kept it out was the room the plan had.
        (item(0), "optimize", "no room left within the weight limits"),
    ],
)
def test_left_out_items_get_a_planners_reason(row: dict[str, Any], search: str, reason: str) -> None:
    assert left_out_reason(row, problem(items=[row], bins=[BIG]), search).startswith(reason)


def test_the_exact_search_names_the_types_it_does_not_open() -> None:
    # Only the third type is tall enough, and pack opens the first two.
    bins = [container(id="a"), container(id="b"), container(id="tall", h=300.0)]
    row = item(0, h=260.0)
    assert left_out_reason(row, problem(items=[row], bins=bins), "exact").startswith("only a container type")
    assert left_out_reason(row, problem(items=[row], bins=bins), "optimize").startswith("no room")
