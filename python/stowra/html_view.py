"""An interactive 3D view of a plan as one self-contained HTML page (plotly, script embedded).

The page carries the whole plotting script, so it opens offline in any browser.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any

from stowra.atomic_write import write_text
from stowra.plotting import (
    EDGES,
    FACES,
    NOT_STACKABLE_EDGE,
    PALETTE,
    box_corners,
    container_outline,
    require,
)
from stowra.reading import Reading, Step, number_text, read_plan

if TYPE_CHECKING:
    import plotly.graph_objects as go

__all__ = ["plan_view", "view_page", "write_html"]

# The twelve triangles of a box: each face of ``FACES`` cut along its diagonal from its first
# corner.
_TRIANGLES = tuple(triangle for a, b, c, d in FACES for triangle in ((a, b, c), (a, c, d)))


def _edge_lines(boxes: Sequence[Step]) -> tuple[list[float | None], ...]:
    xs: list[float | None] = []
    ys: list[float | None] = []
    zs: list[float | None] = []
    for box in boxes:
        corners = box_corners(box)
        for a, b in EDGES:
            for corner in (corners[a], corners[b]):
                xs.append(corner[0])
                ys.append(corner[1])
                zs.append(corner[2])
            xs.append(None)
            ys.append(None)
            zs.append(None)
    return xs, ys, zs


def _text(value: Any) -> str:
    # plotly reads titles, legend names and hover texts as markup: ids and type names are
    # the user's text, shown as text.
    return str(value).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def _kind_colours(items: list[Mapping[str, Any]]) -> dict[str, str]:
    """A colour per item kind (its id), in the order the kinds first appear."""
    kinds = dict.fromkeys(str(item.get("id")) for item in items)
    return {kind: PALETTE[n % len(PALETTE)] for n, kind in enumerate(kinds)}


def _door(length: float, width: float, height: float) -> dict[str, Any]:
    """The door's frame at the far end of the length, labelled."""
    return {
        "x": [length] * 5 + [length],
        "y": [0, width, width, 0, 0, width / 2],
        "z": [0, 0, height, height, 0, height * 1.08],
        "mode": "lines+text",
        "text": ["", "", "", "", "", "door"],
        "textposition": "top center",
        "line": {"color": "#b45309", "width": 6},
        "name": "door",
        "legendgroup": "door",
        "hoverinfo": "skip",
    }


def plan_view(
    result: Mapping[str, Any], problem: Mapping[str, Any], reading: Reading | None = None
) -> go.Figure:
    """A plotly figure with one 3D scene per container, drawn to one scale: boxes coloured by
    item kind, the door and the centre of gravity marked; titles from ``reading``."""
    graph = require("plotly.graph_objects", "--html")
    subplots = require("plotly.subplots", "--html")

    items = problem["itemTable"]
    reading = reading or read_plan(result, problem)
    colours = _kind_colours(items)
    outlines = [container_outline(read.size, read.steps) for read in reading.containers]
    # One scale for every container: a 20-foot container looks half as long as a 40-foot one.
    longest = max((max(o.dx, o.dy, o.dz) for o in outlines), default=1.0) or 1.0
    panels = max(len(reading.containers), 1)
    titles = [_text(read.title) for read in reading.containers]
    figure = subplots.make_subplots(
        rows=panels,
        cols=1,
        specs=[[{"type": "scene"}] for _ in range(panels)],
        subplot_titles=titles or ["No containers were loaded."],
        vertical_spacing=0.04 / panels,
    )
    shown: set[Any] = set()
    for number, read in enumerate(reading.containers, 1):
        boxes = read.steps
        outline = outlines[number - 1]
        length, width, height = outline.dx, outline.dy, outline.dz

        for rank, (kind_id, colour) in enumerate(colours.items()):
            group = [box for box in boxes if str(box.item_id) == kind_id]
            if not group:
                continue
            x: list[float] = []
            y: list[float] = []
            z: list[float] = []
            i: list[int] = []
            j: list[int] = []
            k: list[int] = []
            text: list[str] = []
            for box in group:
                base = len(x)
                for corner in box_corners(box):
                    x.append(corner[0])
                    y.append(corner[1])
                    z.append(corner[2])
                label = (
                    f"item {_text(box.item_id)}<br>"
                    f"at {box.x:g}, {box.y:g}, {box.z:g}<br>"
                    f"size {box.dx:g} x {box.dy:g} x {box.dz:g}, weight {number_text(box.weight, None)}"
                    + ("" if box.stackable else "<br>not stackable")
                )
                text += [label] * 8
                for a, b, c in _TRIANGLES:
                    i.append(base + a)
                    j.append(base + b)
                    k.append(base + c)
            figure.add_trace(
                graph.Mesh3d(
                    x=x,
                    y=y,
                    z=z,
                    i=i,
                    j=j,
                    k=k,
                    color=colour,
                    flatshading=True,
                    name=f"item {_text(kind_id)}",
                    legendgroup=f"item {kind_id}",
                    showlegend=("item", kind_id) not in shown,
                    legendrank=rank,
                    hovertext=text,
                    hoverinfo="text",
                ),
                row=number,
                col=1,
            )
            shown.add(("item", kind_id))

        for name, group, colour, line_width in (
            ("edges", [b for b in boxes if b.stackable], "#333333", 1),
            (
                "not stackable",
                [b for b in boxes if not b.stackable],
                NOT_STACKABLE_EDGE,
                4,
            ),
            ("container", [outline], "#777777", 2),
        ):
            if not group:
                continue
            ex, ey, ez = _edge_lines(group)
            figure.add_trace(
                graph.Scatter3d(
                    x=ex,
                    y=ey,
                    z=ez,
                    mode="lines",
                    line={"color": colour, "width": line_width},
                    name=name,
                    legendgroup=name,
                    showlegend=name == "not stackable" and name not in shown,
                    hoverinfo="skip",
                ),
                row=number,
                col=1,
            )
            shown.add(name)

        cx, cy, cz = read.centre_of_gravity
        figure.add_trace(
            graph.Scatter3d(
                # The line goes up through the roof, so the mark shows above the boxes too.
                x=[cx, cx, cx],
                y=[cy, cy, cy],
                z=[0.0, cz, height * 1.08],
                mode="lines+markers+text",
                text=["", "", "CG"],
                textposition="top center",
                marker={"symbol": ["circle", "x", "diamond"], "size": [2, 7, 5], "color": "black"},
                line={"color": "black", "dash": "dash", "width": 3},
                name="centre of gravity",
                legendgroup="centre of gravity",
                showlegend="cog" not in shown,
                hovertext=f"centre of gravity {cx:.0f}, {cy:.0f}, {cz:.0f}",
                hoverinfo="text",
            ),
            row=number,
            col=1,
        )
        shown.add("cog")
        figure.add_trace(
            graph.Scatter3d(**_door(length, width, height), showlegend="door" not in shown),
            row=number,
            col=1,
        )
        shown.add("door")
        scene = "scene" if number == 1 else f"scene{number}"
        # Few ticks and short titles: the width and height axes are short on screen.
        axis = {"title": {"font": {"size": 11}}, "tickfont": {"size": 9}}
        figure.layout[scene].update(
            aspectmode="manual",
            aspectratio={"x": length / longest, "y": width / longest, "z": height / longest},
            xaxis={
                **axis,
                "title_text": "length (door at the end)",
                "range": [0, length],
                "nticks": 5,
            },
            yaxis={**axis, "title_text": "", "range": [0, width], "tickvals": [0, width]},
            zaxis={**axis, "title_text": "", "range": [0, height * 1.15], "tickvals": [0, height]},
            camera={"eye": {"x": -0.25, "y": -1.0, "z": 0.42}},
        )
    figure.update_layout(
        height=120 + 400 * panels,
        margin={"l": 10, "r": 10, "t": 90, "b": 10},
        legend={"orientation": "h", "y": 1.0, "yanchor": "top", "yref": "container"},
    )
    return figure


def view_page(
    result: Mapping[str, Any], problem: Mapping[str, Any], reading: Reading | None = None
) -> str:
    """The interactive view as one HTML page with the plotting script embedded."""
    figure = plan_view(result, problem, reading)
    page: str = figure.to_html(include_plotlyjs=True, full_html=True)
    return page


def write_html(
    path: Path, result: Mapping[str, Any], problem: Mapping[str, Any], reading: Reading
) -> None:
    """Write the interactive view with the plotting script embedded, for offline use; the page
    appears whole or not at all."""
    write_text(path, view_page(result, problem, reading))
