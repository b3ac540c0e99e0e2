"""Pictures of a plan: the figure's objects, the offline page, and the optional extra."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path
from typing import Any

import matplotlib
import pytest
from matplotlib.colors import to_hex

import stowra
from stowra.html_view import plan_view, write_html
from stowra.plotting import NOT_STACKABLE_EDGE, MissingExtraError, save_png

matplotlib.use("Agg")

PROBLEM: dict[str, Any] = {
    "itemTable": [
        {"id": 1, "l": 120, "w": 80, "h": 100, "weight": 400, "factory": 1, "stackable": False},
        {"id": 2, "l": 60, "w": 40, "h": 40, "weight": 15, "factory": 2, "stackable": True},
        {"id": 3, "l": 60, "w": 40, "h": 40, "weight": 15, "factory": 2, "stackable": True},
        {"id": 4, "l": 60, "w": 40, "h": 40, "weight": 15, "factory": 1, "stackable": True},
        {"id": 5, "l": 500, "w": 40, "h": 40, "weight": 9000, "factory": 3, "stackable": True},
    ],
    "binTable": [
        {"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000,
         "available": True},
        {"id": "40GP", "l": 1203, "w": 234, "h": 239, "cost": 2400, "weight_limit": 0,
         "available": True},
    ],
}  # fmt: skip
# Item 5 (index 4) is left out; item 2 (index 1) stands turned a quarter.
RESULT: dict[str, Any] = {
    "sum20": 1,
    "sum40": 1,
    "fitness": 3.5,
    "cost": 3900.0,
    "utilization": 0.05,
    "centerPenalty": 0.0,
    "weightPenalty": 0.0,
    "elapsedSeconds": 0.2,
    "totalBins": 2,
    "packingTable": [
        {
            "id": 1,
            "binType": "20GP",
            "cost": 1500.0,
            "spaceUtilization": 0.0367,
            "currentWeight": 430.0,
            "centerOfGravity": (60.0, 41.0, 50.0),
            "itemCount": 3,
            "items": [
                {"itemIndex": 0, "x": 0.0, "y": 0.0, "z": 0.0, "rotation": 0},
                {"itemIndex": 1, "x": 120.0, "y": 0.0, "z": 0.0, "rotation": 1},
                {"itemIndex": 2, "x": 0.0, "y": 80.0, "z": 0.0, "rotation": 0},
            ],
        },
        {
            "id": 2,
            "binType": "40GP",
            "cost": 2400.0,
            "spaceUtilization": 0.0014,
            "currentWeight": 15.0,
            "centerOfGravity": (30.0, 20.0, 20.0),
            "itemCount": 1,
            "items": [{"itemIndex": 3, "x": 0.0, "y": 0.0, "z": 0.0, "rotation": 0}],
        },
    ],
}


def boxes_of(axes: Any) -> dict[str, Any]:
    return {
        artist.get_gid(): artist
        for artist in axes.collections
        if (artist.get_gid() or "").startswith("item ")
    }


def test_one_panel_per_container_and_one_box_per_placed_item() -> None:
    figure = stowra.plot(RESULT, PROBLEM)
    panels = [axes for axes in figure.axes if axes.name == "3d"]
    assert len(panels) == 2
    assert [set(boxes_of(axes)) for axes in panels] == [{"item 0", "item 1", "item 2"}, {"item 3"}]

    first = boxes_of(panels[0])
    colour = {gid: to_hex(box.get_facecolor()[0]) for gid, box in first.items()}
    assert colour["item 1"] == colour["item 2"] != colour["item 0"]
    assert to_hex(boxes_of(panels[1])["item 3"].get_facecolor()[0]) == colour["item 0"]
    edges = {gid: to_hex(box.get_edgecolor()[0]) for gid, box in first.items()}
    assert edges["item 0"] == NOT_STACKABLE_EDGE != edges["item 1"]

    assert panels[0].get_title() == (
        "Container 1 · 20GP · 3.7% full · weight 430 / 28,000 · 3 items"
    )
    assert "weight 15 (no limit)" in panels[1].get_title()
    for axes, container in zip(panels, RESULT["packingTable"], strict=True):
        (marker,) = [a for a in axes.collections if a.get_gid() == "centre of gravity"]
        xs, ys, zs = marker._offsets3d
        assert (xs[0], ys[0], zs[0]) == container["centerOfGravity"]
    assert panels[1].get_xlim() == (0.0, 1203.0)
    legend = [text.get_text() for text in figure.legends[0].get_texts()]
    assert legend == ["factory 1", "factory 2", "factory 3", "not stackable", "centre of gravity"]


def test_png_is_written(tmp_path: Path) -> None:
    path = tmp_path / "plan.png"
    save_png(stowra.plot(RESULT, PROBLEM), path)
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_an_empty_plan_still_draws() -> None:
    figure = stowra.plot({**RESULT, "packingTable": []}, PROBLEM)
    assert figure.axes == []
    assert [text.get_text() for text in figure.texts] == ["No containers were loaded."]


def test_html_view_is_self_contained(tmp_path: Path) -> None:
    figure = plan_view(RESULT, PROBLEM)
    meshes = [trace for trace in figure.data if trace.type == "mesh3d"]
    # One mesh per factory present in each container; 8 corners per box.
    assert [(mesh.name, len(mesh.x)) for mesh in meshes] == [
        ("factory 1", 8),
        ("factory 2", 16),
        ("factory 1", 8),
    ]
    assert [mesh.scene for mesh in meshes] == ["scene", "scene", "scene2"]
    assert [trace.name for trace in figure.data].count("not stackable") == 1

    path = tmp_path / "plan.html"
    write_html(path, RESULT, PROBLEM)
    page = path.read_text(encoding="utf-8")
    assert "<script src=" not in page  # nothing fetched from the network
    assert len(page) > 1_000_000  # the plotting script itself is embedded


@pytest.mark.parametrize(
    ("blocked", "call"),
    [
        ("matplotlib.figure", lambda: stowra.plot(RESULT, PROBLEM)),
        ("plotly.graph_objects", lambda: plan_view(RESULT, PROBLEM)),
    ],
)
def test_a_missing_extra_says_how_to_install_it(
    monkeypatch: pytest.MonkeyPatch, blocked: str, call: Any
) -> None:
    monkeypatch.setitem(sys.modules, blocked, None)
    with pytest.raises(MissingExtraError, match=r"pip install 'stowra\[plot\]'"):
        call()


def test_importing_stowra_loads_no_plotting_library() -> None:
    code = (
        "import sys, stowra, stowra.cli, stowra.plotting, stowra.html_view;"
        "print(sorted(m for m in ('matplotlib', 'plotly') if m in sys.modules))"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "[]"
