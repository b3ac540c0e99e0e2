"""The one reading of a plan: a figure changed where it is defined changes in every output."""

from __future__ import annotations

import io
import json
from collections.abc import Callable
from pathlib import Path
from typing import Any

import matplotlib
import pytest
from cli_plans import shelf_pack
from pypdf import PdfReader

from stowra import reading
from stowra.cli.batch import summary_row
from stowra.files import parse_shipment_object
from stowra.html_view import plan_view
from stowra.loading_list import loading_list_text
from stowra.loading_sheet import loading_sheet
from stowra.plotting import plot
from stowra.reading import format_report, read_plan
from stowra.service.models import PlanStatus
from stowra.service.plans import outcome

matplotlib.use("Agg")

ROW = {"l": 60, "w": 40, "h": 40, "weight": 15, "factory": 1, "stackable": True}
# The stand-in lays items side by side along 200 cm: four fit in two containers; the two
# items of the heavy row are over the weight limit and left out.
SHIPMENT = {
    "itemTable": [
        {**ROW, "id": "A-1", "quantity": 3},
        {**ROW, "id": "B-2"},
        {**ROW, "id": "HEAVY", "weight": 5000, "quantity": 2},
    ],
    "binTable": [{"id": "20GP", "l": 100, "w": 234, "h": 239, "cost": 1500, "weight_limit": 1000, "available": True}],
}


def render(output: str, edit: Callable[[dict[str, Any]], None] = lambda plan: None) -> str:
    """One output of the stand-in's plan (``edit`` changes it first), as text; each reads the plan itself."""
    shipment = parse_shipment_object(SHIPMENT, "shipment.json")
    problem, sources = shipment.input, shipment.item_sources
    result = shelf_pack(problem)
    edit(result)
    if output == "report":
        return format_report(read_plan(result, problem, sources))
    if output == "loading list":
        return loading_list_text(read_plan(result, problem, sources))[0]
    if output == "sheet":
        pages = PdfReader(io.BytesIO(loading_sheet(read_plan(result, problem, sources), problem))).pages
        return "\n".join(page.extract_text() for page in pages)
    if output == "batch summary":
        return json.dumps(summary_row(Path("shipment.json"), "ok", read_plan(result, problem, sources)))
    if output == "API":
        answer = outcome(result, problem, sources, {"search": "optimize"})
        # What the service answers is what its schema says.
        given = {"id": "p", "name": "n", "status": "done", "options": {}, "warnings": []}
        PlanStatus.model_validate({**given, "progress": None, "error": None, **answer})
        return json.dumps({key: answer[key] for key in ("report", "leftOut", "summary")})
    if output == "PNG titles":
        return "\n".join(axes.get_title() for axes in plot(result, problem).axes)
    assert output == "HTML titles"
    return "\n".join(note.text for note in plan_view(result, problem).layout.annotations)


Change = Callable[[pytest.MonkeyPatch, dict[str, Any]], None]


def redefined(name: str, changed: Any) -> Change:
    return lambda monkeypatch, plan: monkeypatch.setattr(reading, name, changed)


def planned(edit: Callable[[dict[str, Any]], Any]) -> Change:
    """A figure the search gives in the plan, given otherwise."""
    return lambda monkeypatch, plan: edit(plan)


# Each figure's definition, changed, and how every output that shows it shows the change.
FIGURES: dict[str, tuple[Change, dict[str, str]]] = {
    "type name": (
        redefined("type_name", lambda kind: f"Relabelled {kind['id']}"),
        {
            "report": "2 x Relabelled 20GP",
            "loading list": ",Relabelled 20GP,",
            "sheet": "(2 x Relabelled 20GP)",
            "batch summary": '"containers_by_type": "2 x Relabelled 20GP"',
            "API": '"type": "Relabelled 20GP"',
            "PNG titles": "Container 2 · Relabelled 20GP ·",
            "HTML titles": "Container 1 · Relabelled 20GP ·",
        },
    ),
    "fill": (
        redefined("fill", lambda container: 0.4321),
        {
            "report": "43.2%",
            "sheet": "43.2% full",
            "API": '"fill": 0.4321',
            "PNG titles": "43.2% full",
            "HTML titles": "43.2% full",
        },
    ),
    "placed items": (
        redefined("placed_items", lambda result: {0}),
        {
            "report": "1 of 6 items placed",
            "sheet": "Items: 1 of 6 placed",
            "batch summary": '"items_placed": 1, "items_left_out": 5',
            "API": '"placed": 1',
        },
    ),
    "left-out reason": (
        redefined("reasons_left_out", lambda indices, *_: dict.fromkeys(indices, "no crane at the quay")),
        {
            "report": "id HEAVY (x2) (shipment.json row 3): no crane at the quay",
            "sheet": "no crane at the quay",
            "batch summary": "id HEAVY (x2) (shipment.json row 3): no crane at the quay",
            "API": '"reason": "no crane at the quay"',
        },
    ),
    "cost": (
        planned(lambda plan: plan.update(cost=4321.5)),
        {
            "report": "cost 4,321.50,",
            "sheet": "Cost: 4,321.50",
            "batch summary": '"cost": "4321.5"',
            "API": '"cost": 4321.5',
        },
    ),
    "utilization": (
        planned(lambda plan: plan.update(utilization=0.4321)),
        {
            "report": "utilization 43.2%",
            "sheet": "Fill: 43.2% of the containers' space",
            "batch summary": '"utilization": "0.4321"',
            "API": '"utilization": 0.4321',
        },
    ),
    "container weight": (
        planned(lambda plan: [row.update(currentWeight=321.0) for row in plan["packingTable"]]),
        {
            "report": "321 / 1,000",
            "sheet": "Weight loaded: 642",
            "API": '"weight": 321.0',
            "PNG titles": "weight 321 / 1,000",
            "HTML titles": "weight 321 / 1,000",
        },
    ),
}


@pytest.mark.parametrize(
    "figure, output",
    [(figure, output) for figure, (_, shown) in FIGURES.items() for output in shown],
)
def test_a_figure_defined_once_changes_in_every_output(
    monkeypatch: pytest.MonkeyPatch, figure: str, output: str
) -> None:
    change, shown = FIGURES[figure]
    assert shown[output] not in render(output)
    assert shown[output] in render(output, lambda plan: change(monkeypatch, plan))


def test_off_centre_is_measured_from_the_middle_of_the_floor() -> None:
    # One 100 kg box, 100 x 50 at the back left corner of a 400 x 200 container: its centre
    # (50, 25) lies 150 cm behind the middle (3/8 of the length) and 75 cm left (3/8 of the width).
    problem = {
        "itemTable": [{**ROW, "id": 1, "l": 100, "w": 50, "weight": 100}],
        "binTable": [{**SHIPMENT["binTable"][0], "l": 400, "w": 200}],
    }
    result = shelf_pack(problem)
    result["packingTable"][0]["items"][0]["rotation"] = 0
    result["packingTable"][0]["centerOfGravity"] = (50.0, 25.0, 20.0)
    (container,) = read_plan(result, problem).containers
    assert container.off_centre == (-0.375, -0.375)
    # All the weight lies in the back half.
    assert container.balance == 1.0
