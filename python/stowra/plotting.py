"""Pictures of a plan with matplotlib: one 3D panel per container.

matplotlib is an optional extra (``pip install 'stowra[plot]'``); it is imported only when a
picture is drawn, so ``import stowra`` works without it.
"""

from __future__ import annotations

import importlib
import math
from collections.abc import Callable, Mapping, Sequence
from pathlib import Path
from types import ModuleType
from typing import TYPE_CHECKING, Any

from stowra.atomic_write import replacing
from stowra.reading import Step

if TYPE_CHECKING:
    from matplotlib.figure import Figure

    from stowra.reading import ContainerReading, Reading

__all__ = [
    "NOT_STACKABLE_EDGE",
    "PALETTE",
    "MissingExtraError",
    "container_outline",
    "factory_colours",
    "kind_styles",
    "load_elevations",
    "plot",
    "require",
    "save_png",
]

# Edge colour of boxes nothing may stand on, in every picture.
NOT_STACKABLE_EDGE = "#d62728"
PALETTE = (
    "#4c78a8",
    "#f58518",
    "#54a24b",
    "#b279a2",
    "#eeca3b",
    "#9d755d",
    "#72b7b2",
    "#ff9da6",
    "#bab0ac",
    "#e45756",
)


class MissingExtraError(ImportError):
    """Something was asked for whose optional library (pictures, batches) is not installed."""


def require(module: str, what: str, extra: str = "plot") -> ModuleType:
    """Import ``module`` or explain how to install the optional extra that brings it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise MissingExtraError(
            f"{what} needs {module.split('.')[0]}: pip install 'stowra[{extra}]'"
        ) from error


def factory_colours(items: Sequence[Mapping[str, Any]]) -> dict[Any, str]:
    """A fixed colour per factory number, in ascending factory order."""
    factories = sorted({item.get("factory") for item in items}, key=lambda f: (str(type(f)), f))
    return {factory: PALETTE[n % len(PALETTE)] for n, factory in enumerate(factories)}


def box_corners(box: Step) -> list[tuple[float, float, float]]:
    """The 8 corners, bottom face first, each face counter-clockwise."""
    x0, y0, z0 = box.x, box.y, box.z
    x1, y1, z1 = x0 + box.dx, y0 + box.dy, z0 + box.dz
    return [
        (x0, y0, z0),
        (x1, y0, z0),
        (x1, y1, z0),
        (x0, y1, z0),
        (x0, y0, z1),
        (x1, y0, z1),
        (x1, y1, z1),
        (x0, y1, z1),
    ]


# Corner numbers of the six faces and the twelve edges of a box from ``box_corners``.
FACES = ((0, 1, 2, 3), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7))
EDGES = (
    *((0, 1), (1, 2), (2, 3), (3, 0)),  # bottom
    *((4, 5), (5, 6), (6, 7), (7, 4)),  # top
    *((0, 4), (1, 5), (2, 6), (3, 7)),  # upright
)


def container_outline(inside: Sequence[float] | None, boxes: Sequence[Step]) -> Step:
    """The container as a box at the origin; a size its row lacks is the reach of the load."""

    def size(axis: int, reach: Callable[[Step], float]) -> float:
        given = inside[axis] if inside else 0.0
        return given or max(map(reach, boxes), default=1.0)

    return Step(
        0,
        -1,
        None,
        "",
        None,
        x=0.0,
        y=0.0,
        z=0.0,
        dx=size(0, lambda box: box.x + box.dx),
        dy=size(1, lambda box: box.y + box.dy),
        dz=size(2, lambda box: box.z + box.dz),
        rotation=0,
        factory=None,
        weight=0.0,
        stackable=True,
    )


_ELEVATION, _AZIMUTH = 20.0, -76.0
_EYE = (
    math.cos(math.radians(_ELEVATION)) * math.cos(math.radians(_AZIMUTH)),
    math.cos(math.radians(_ELEVATION)) * math.sin(math.radians(_AZIMUTH)),
    math.sin(math.radians(_ELEVATION)),
)


def _nearness(box: Step) -> float:
    """How close the box's centre is to the viewer, for painting far boxes first."""
    centre = (box.x + box.dx / 2, box.y + box.dy / 2, box.z + box.dz / 2)
    return sum(c * e for c, e in zip(centre, _EYE, strict=True))


def plot(
    result: Mapping[str, Any], input: Mapping[str, Any], reading: Reading | None = None
) -> Figure:
    """Draw the plan: one 3D panel per container, one box per placed item.

    Boxes are coloured by factory; boxes that nothing may stand on have thick red edges; the
    black cross on a dashed line marks the container's centre of gravity. ``input`` is the
    dict given to ``pack``. Returns a matplotlib ``Figure`` (not tied to pyplot, so it works
    without a display); save it with ``fig.savefig("plan.png")``. The titles come from
    ``reading`` (:func:`stowra.reading.read_plan`), read here when not given.
    """
    from stowra.reading import read_plan

    figure_module = require("matplotlib.figure", "stowra.plot")
    art3d = require("mpl_toolkits.mplot3d.art3d", "stowra.plot")
    patches = require("matplotlib.patches", "stowra.plot")
    lines = require("matplotlib.lines", "stowra.plot")

    items = input["itemTable"]
    reading = reading or read_plan(result, input)
    colours = factory_colours(items)
    panels = max(len(reading.containers), 1)
    figure: Figure = figure_module.Figure(figsize=(13, 1.0 + 4.2 * panels), dpi=100)
    if not reading.containers:
        figure.text(0.5, 0.5, "No containers were loaded.", ha="center", va="center")
        return figure

    for number, read in enumerate(reading.containers):
        boxes = read.steps
        outline = container_outline(read.size, boxes)
        length, width, height = outline.dx, outline.dy, outline.dz
        axes = figure.add_subplot(panels, 1, number + 1, projection="3d")
        # A long container projects into a thin strip of the square 3D area: zoom it to fill
        # the panel's width.
        zoom = min(2.3, 0.9 + 0.7 * length / (width + height))
        axes.set_box_aspect((length, width, height), zoom=zoom)
        axes.set_xlim(0, length)
        axes.set_ylim(0, width)
        axes.set_zlim(0, height)
        axes.set_yticks([0, width])  # the width is short on screen: two ticks stay readable
        axes.set_xlabel("length (door at the far end)")
        axes.set_ylabel("width")
        axes.set_zlabel("height")
        axes.view_init(elev=_ELEVATION, azim=_AZIMUTH)
        # Draw far boxes first and the centre of gravity last, so it is never hidden.
        axes.computed_zorder = False
        # Ids are the user's text: a "$" in one is a character, never the start of a formula.
        axes.set_title(read.title, fontsize=11, parse_math=False)

        corners = box_corners(outline)
        walls = art3d.Line3DCollection(
            [(corners[a], corners[b]) for a, b in EDGES], colors="#555555", linewidths=1.0
        )
        walls.set_gid("container")
        walls.set_clip_on(False)
        axes.add_collection3d(walls)

        for depth, box in enumerate(sorted(boxes, key=_nearness)):
            corners = box_corners(box)
            faces = art3d.Poly3DCollection(
                [[corners[c] for c in face] for face in FACES],
                facecolors=colours[box.factory],
                edgecolors="#333333" if box.stackable else NOT_STACKABLE_EDGE,
                linewidths=0.4 if box.stackable else 1.6,
                alpha=0.85,
            )
            faces.set_gid(f"item {box.item_index}")
            faces.set_clip_on(False)
            faces.set_zorder(1 + depth / max(len(boxes), 1))
            axes.add_collection3d(faces)

        cx, cy, cz = read.centre_of_gravity
        (drop,) = axes.plot([cx, cx], [cy, cy], [0, cz], color="black", linestyle="--", zorder=3)
        drop.set_gid("centre of gravity line")
        drop.set_clip_on(False)
        marker = axes.scatter([cx], [cy], [cz], marker="X", s=120, color="black", zorder=4)
        marker.set_gid("centre of gravity")
        marker.set_clip_on(False)

    handles = [
        patches.Patch(facecolor=colour, edgecolor="#333333", label=f"factory {factory}")
        for factory, colour in colours.items()
    ]
    handles.append(
        patches.Patch(facecolor="white", edgecolor=NOT_STACKABLE_EDGE, lw=2, label="not stackable")
    )
    handles.append(
        lines.Line2D(
            [], [], marker="X", color="black", linestyle="", ms=9, label="centre of gravity"
        )
    )
    legend = figure.legend(handles=handles, loc="upper center", ncol=len(handles), frameon=False)
    for text in legend.get_texts():
        text.set_parse_math(False)
    figure.subplots_adjust(left=0.0, right=1.0, bottom=0.02, top=1 - 0.6 / figure.get_figheight())
    return figure


# Fills that stay apart in black and white: light greys, each with its own hatching.
_GREYS = ("#ffffff", "#d9d9d9", "#a6a6a6", "#f0f0f0", "#c4c4c4")
_HATCHES = ("", "///", "\\\\\\", "xxx", "...", "+++", "---", "|||", "ooo")


def kind_styles(items: Sequence[Mapping[str, Any]]) -> dict[str, tuple[str, str]]:
    """A fill grey and a hatching per kind of item (its id), readable printed in black and
    white; ids in the order they first appear, so every container draws a kind alike."""
    kinds = list(dict.fromkeys(str(item.get("id")) for item in items))
    styles = {}
    for number, kind in enumerate(kinds):
        hatch = _HATCHES[number % len(_HATCHES)]
        grey = _GREYS[(number // len(_HATCHES)) % len(_GREYS)]
        styles[kind] = (grey, hatch)
    return styles


def load_elevations(
    read: ContainerReading,
    styles: Mapping[str, tuple[str, str]],
    size: tuple[float, float] = (7.2, 2.8),
) -> Figure:
    """Two flat views of one container's load for paper: from the door, and from the side with
    the door marked. Boxes are filled by kind (see :func:`kind_styles`), nearer boxes drawn
    over farther ones; boxes nothing may stand on have thick edges; the cross is the centre
    of gravity. Ids are shown as plain text, never as markup."""
    figure_module = require("matplotlib.figure", "the loading sheet's pictures")
    patches = require("matplotlib.patches", "the loading sheet's pictures")
    boxes = read.steps
    outline = container_outline(read.size, boxes)
    length, width, height = outline.dx, outline.dy, outline.dz
    figure: Figure = figure_module.Figure(figsize=size, dpi=100)
    door, side = figure.subplots(
        1, 2, gridspec_kw={"width_ratios": [max(width, 1.0), max(length, 1.0)], "wspace": 0.08}
    )
    cx, cy, cz = read.centre_of_gravity
    views = (
        # Axes, title, across and up of each box, nearest last (from the door: largest x).
        (door, "from the door", lambda b: (b.y, b.dy), lambda b: b.x + b.dx, width, cy),
        (
            side,
            "from the side (door on the right)",
            lambda b: (b.x, b.dx),
            lambda b: -b.y,
            length,
            cx,
        ),
    )
    for axes, title, across, nearness, span, centre in views:
        axes.add_patch(
            patches.Rectangle((0, 0), span, height, fill=False, edgecolor="black", linewidth=1.2)
        )
        for box in sorted(boxes, key=nearness):
            start, extent = across(box)
            grey, hatch = styles.get(str(box.item_id), ("#ffffff", ""))
            axes.add_patch(
                patches.Rectangle(
                    (start, box.z),
                    extent,
                    box.dz,
                    facecolor=grey,
                    hatch=hatch,
                    edgecolor="black",
                    linewidth=0.4 if box.stackable else 1.6,
                )
            )
        axes.plot([centre], [cz], marker="X", markersize=9, color="black", linestyle="")
        axes.set_xlim(-0.02 * span, span * 1.02)
        axes.set_ylim(0, height * 1.04)
        axes.set_aspect("equal")
        axes.set_title(title, fontsize=8)
        axes.tick_params(labelsize=6)
    side.plot([length, length], [0, height], color="black", linewidth=4)
    side.annotate(
        "DOOR",
        (length, height / 2),
        xytext=(4, 0),
        textcoords="offset points",
        rotation=90,
        va="center",
        fontsize=8,
        fontweight="bold",
    )
    side.set_xlim(-0.02 * length, length * 1.06)
    return figure


def save_png(figure: Figure, path: Path) -> None:
    """Write ``figure`` as a PNG file, whole or not at all."""
    with replacing(path) as temporary:
        figure.savefig(temporary, format="png", dpi=110)
