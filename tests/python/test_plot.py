"""Pictures of a plan: the figure's objects, the interactive view, and the optional extra."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import matplotlib
import pytest
from cli_plans import shelf_pack
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.colors import to_hex

import stowra
from stowra.html_view import plan_view
from stowra.plotting import NOT_STACKABLE_EDGE, save_png

matplotlib.use("Agg")

KEYS = ("id", "l", "w", "h", "weight", "factory", "stackable")
# On 200 cm the stand-in fits the first three (80 + 40 + 40 cm); the fourth opens a second
# container and the fifth is over the weight limit, so it is left out.
ROWS = [(1, 120, 80, 100, 400, 1, False), (2, 60, 40, 40, 15, 2, True)]
ROWS += [(3, 60, 40, 40, 15, 2, True), (4, 60, 50, 40, 15, 1, True)]
ROWS += [(5, 500, 40, 40, 9000, 3, True)]
BIN = dict(id="20GP", l=200, w=234, h=239, cost=1500, weight_limit=1000, available=True)
PROBLEM = {"itemTable": [dict(zip(KEYS, row, strict=True)) for row in ROWS], "binTable": [BIN]}


def test_one_panel_per_container_and_one_box_per_placed_item() -> None:
    result = shelf_pack(PROBLEM)
    figure = stowra.plot(result, PROBLEM)
    assert [axes.name for axes in figure.axes] == ["3d", "3d"]
    art = [(n, a.get_gid(), a) for n, axes in enumerate(figure.axes) for a in axes.collections]
    boxes = {gid: a for _, gid, a in art if str(gid).startswith("item ")}
    placed = sorted((n, gid) for n, gid, _ in art if gid in boxes)
    assert placed == [(0, "item 0"), (0, "item 1"), (0, "item 2"), (1, "item 3")]
    colour = {gid: to_hex(box.get_facecolor()[0]) for gid, box in boxes.items()}
    assert colour["item 1"] == colour["item 2"] != colour["item 0"] == colour["item 3"]
    assert to_hex(boxes["item 0"].get_edgecolor()[0]) == NOT_STACKABLE_EDGE
    assert to_hex(boxes["item 1"].get_edgecolor()[0]) != NOT_STACKABLE_EDGE
    centres = [[xyz[0] for xyz in a._offsets3d] for _, gid, a in art if gid == "centre of gravity"]
    assert centres == [list(c["centerOfGravity"]) for c in result["packingTable"]]
    legend = [text.get_text() for text in figure.legends[0].get_texts()]
    assert legend == ["factory 1", "factory 2", "factory 3", "not stackable", "centre of gravity"]


def test_an_empty_plan_still_draws() -> None:
    figure = stowra.plot({**shelf_pack(PROBLEM), "packingTable": []}, PROBLEM)
    texts = [text.get_text() for text in figure.texts]
    assert figure.axes == [] and texts == ["No containers were loaded."]


def test_interactive_view_colours_each_item_kind_and_marks_door_and_centre_on_one_scale() -> None:
    # A type name in markup is shown as written: plotly reads titles as markup.
    two_types = {**PROBLEM, "binTable": [BIN, {**BIN, "id": "<b>10ft</b>", "l": 100, "cost": 900}]}
    result = shelf_pack(PROBLEM)
    result["packingTable"][1]["binType"] = "<b>10ft</b>"
    figure = plan_view(result, two_types)
    assert figure.layout.annotations[1].text.startswith("Container 2 · &lt;b&gt;10ft&lt;/b&gt; · ")
    meshes = [(t.scene, t.name, len(t.x), t.color) for t in figure.data if t.type == "mesh3d"]
    # 8 corners per box, one colour per item id
    assert [m[:3] for m in meshes] == [("scene", f"item {n}", 8) for n in (1, 2, 3)] + [("scene2", "item 4", 8)]
    assert len({m[3] for m in meshes}) == 4
    assert [t.name for t in figure.data].count("not stackable") == 1
    for name in ("door", "centre of gravity"):
        marks = [t for t in figure.data if t.name == name]
        assert [t.scene for t in marks] == ["scene", "scene2"]
        assert [t.showlegend for t in marks] == [True, False]
    doors = [t for t in figure.data if t.name == "door"]
    assert [set(t.x) for t in doors] == [{200}, {100}]
    # Both drawn to one scale: the 100 cm container is half as long as the 200 cm one.
    ratios = [figure.layout[s].aspectratio for s in ("scene", "scene2")]
    assert ratios[1].x * 2 == pytest.approx(ratios[0].x) and ratios[1].z == ratios[0].z


def test_importing_stowra_loads_no_plotting_library() -> None:
    code = "import sys, stowra, stowra.cli, stowra.plotting, stowra.html_view;"
    code += "print(sorted(m for m in ('matplotlib', 'plotly') if m in sys.modules))"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=120)
    assert done.stdout.strip() == "[]"


@pytest.mark.parametrize("name", ["$x^{2$", "$\\undefinedmacro$", "a$b$c"])
def test_a_container_id_is_drawn_as_written_never_as_a_formula(tmp_path: Path, name: str) -> None:
    problem = {**PROBLEM, "binTable": [{**BIN, "id": name}]}
    figure = stowra.plot(shelf_pack(problem), problem)
    save_png(figure, tmp_path / "plan.png")
    assert (tmp_path / "plan.png").read_bytes()[:4] == b"\x89PNG"
    title = figure.axes[0].title
    assert title.get_text().startswith(f"Container 1 · {name} · ")
    # Drawn as math, "a$b$c" would lose its dollar signs and be narrower than the same text with
    # the dollars as letters.
    renderer = FigureCanvasAgg(figure).get_renderer()
    plain = figure.text(0, 0, title.get_text().replace("$", "S"), fontsize=11)
    assert title.get_window_extent(renderer).width == pytest.approx(plain.get_window_extent(renderer).width, rel=0.01)
