"""The loading sheet: a PDF a warehouse crew and a driver can use without a screen.

The first page sums the shipment up (containers by type, cost, fill, weight against the limit,
balance, left-out items with their reasons); then each container gets a page or more: the
load drawn from the door and from the side, the loading steps in the loading list's order
grouped in stages a crew can follow, the weight and the centre of gravity. Black and white,
on A4 or Letter. fpdf2 writes it; the pictures come from :mod:`stowra.plotting`, so it needs
matplotlib too (``pip install 'stowra[pdf]'``).
"""

from __future__ import annotations

import io
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from stowra.atomic_write import replacing
from stowra.loading_list import MIXED_NOTE
from stowra.plotting import kind_styles, load_elevations, require
from stowra.reading import (
    ContainerReading,
    Reading,
    Step,
    load_text,
    number_text,
    off_centre_text,
)

__all__ = [
    "PAPER_SIZES",
    "Stage",
    "loading_sheet",
    "loading_stages",
    "require_pdf",
    "write_loading_sheet",
]

# Paper name on the command line and in the API: fpdf2's page format.
PAPER_SIZES = {"a4": "A4", "letter": "Letter"}
_MARGIN = 14.0  # mm; fits both papers' printable areas
_FONT = "sheet"


@dataclass(frozen=True)
class Stage:
    """Consecutive loading steps of one factory's items into one wall of the container.

    ``depth`` is how far the wall reaches from the back (start, end); ``kinds`` lists each
    item id with its count and weight, in loading order.
    """

    number: int
    first_step: int
    last_step: int
    factory: Any
    depth: tuple[float, float]
    kinds: tuple[tuple[str, int, float], ...]
    weight: float


def loading_stages(ordered: Sequence[Step]) -> list[Stage]:
    """Group the loading steps into stages: a stage ends where the factory changes or a box
    starts in front of the wall the stage began (its first box's depth)."""
    stages: list[Stage] = []
    group: list[Step] = []
    first_step = 1

    def close() -> None:
        kinds: dict[str, list[float]] = {}
        for box in group:
            entry = kinds.setdefault(str(box.item_id), [0, 0.0])
            entry[0] += 1
            entry[1] += box.weight
        stages.append(
            Stage(
                number=len(stages) + 1,
                first_step=first_step,
                last_step=first_step + len(group) - 1,
                factory=group[0].factory,
                depth=(min(b.x for b in group), max(b.x + b.dx for b in group)),
                kinds=tuple((kind, int(count), weight) for kind, (count, weight) in kinds.items()),
                weight=sum(weight for _, weight in kinds.values()),
            )
        )

    for step, box in enumerate(ordered, 1):
        if group:
            wall_front = group[0].x + group[0].dx
            if box.factory != group[0].factory or box.x >= wall_front:
                close()
                group, first_step = [], step
        group.append(box)
    if group:
        close()
    return stages


def require_pdf(what: str) -> None:
    """Fail early, with the install line, when the sheet's libraries are missing."""
    require("fpdf", what, "pdf")
    require("matplotlib", what, "pdf")


def _balance(share: Any) -> str:
    return "-" if share is None else f"{float(share):.0%} in the heavier half"


class _Sheet:
    """The PDF being written, with the helpers every page uses."""

    def __init__(self, paper: str, title: str) -> None:
        fpdf = require("fpdf", "the loading sheet", "pdf")
        matplotlib = require("matplotlib", "the loading sheet", "pdf")
        fonts = Path(matplotlib.get_data_path()) / "fonts" / "ttf"
        title_text = title

        class Document(fpdf.FPDF):  # type: ignore[misc, name-defined]
            def footer(self) -> None:
                self.set_y(-10)
                self.set_font(_FONT, "", 7)
                self.cell(0, 4, f"{title_text} · page {self.page_no()} of {{nb}}", align="C")

        self.pdf = Document(orientation="portrait", unit="mm", format=PAPER_SIZES[paper])
        self.pdf.set_margins(_MARGIN, _MARGIN, _MARGIN)
        self.pdf.set_auto_page_break(True, margin=_MARGIN)
        # A Unicode font: ids and names are the planner's own text, in any script.
        self.pdf.add_font(_FONT, "", str(fonts / "DejaVuSans.ttf"))
        self.pdf.add_font(_FONT, "B", str(fonts / "DejaVuSans-Bold.ttf"))
        self.pdf.set_title(title)
        self.pdf.set_creator("stowra")
        self.fpdf = fpdf

    @property
    def width(self) -> float:
        return float(self.pdf.epw)

    def heading(self, text: str, size: float = 14) -> None:
        self.pdf.set_font(_FONT, "B", size)
        self.pdf.multi_cell(0, size * 0.5, text, new_x="LMARGIN", new_y="NEXT", align="L")
        self.pdf.ln(1.5)

    def line(self, text: str, bold: bool = False, size: float = 9.5) -> None:
        self.pdf.set_font(_FONT, "B" if bold else "", size)
        self.pdf.multi_cell(0, size * 0.5, text, new_x="LMARGIN", new_y="NEXT", align="L")

    def table(
        self, rows: Sequence[Sequence[str]], widths: Sequence[float], right: set[int] = frozenset()
    ) -> None:
        self.pdf.set_font(_FONT, "", 8.5)
        align = tuple("RIGHT" if column in right else "LEFT" for column in range(len(widths)))
        grey = self.fpdf.FontFace(emphasis="BOLD", fill_color=(225, 225, 225))
        with self.pdf.table(
            col_widths=tuple(widths),
            text_align=align,
            line_height=4.2,
            headings_style=grey,
            padding=1,
            width=self.width,
        ) as table:
            for row in rows:
                cells = table.row()
                for cell in row:
                    cells.cell(cell)
        self.pdf.ln(3)

    def picture(self, png: bytes, height: float) -> None:
        self.pdf.image(io.BytesIO(png), x=self.pdf.l_margin, w=self.width, h=height)
        self.pdf.ln(2)


def _summary_page(sheet: _Sheet, reading: Reading, title: str) -> None:
    totals = reading.totals
    sheet.pdf.add_page()
    sheet.heading("Loading sheet", 18)
    sheet.line(title, bold=True, size=11)
    sheet.pdf.ln(2)
    mix = totals.mix_text
    sheet.line(f"Containers: {totals.containers}" + (f" ({mix})" if mix else ""))
    sheet.line(f"Cost: {number_text(totals.cost, None)}")
    sheet.line(f"Fill: {totals.utilization:.1%} of the containers' space")
    sheet.line(f"Weight loaded: {number_text(totals.weight, None)}")
    sheet.line(f"Items: {totals.placed} of {totals.items} placed")
    for note in reading.notes:
        sheet.line(f"Note: {note}")
    sheet.pdf.ln(3)
    if reading.containers:
        balanced = any(row.balance is not None for row in reading.containers)
        head = ["Container", "Type", "Items", "Fill", "Weight of limit", "Centre of gravity"]
        head += ["Off centre (length, width)"] + (["Weight balance"] if balanced else [])
        rows = [head]
        for row in reading.containers:
            cx, cy, cz = row.centre_of_gravity
            cells = [
                str(row.number),
                row.type,
                str(row.items),
                f"{row.fill:.1%}",
                load_text(row.weight, row.weight_limit, " of "),
                f"{cx:.0f}, {cy:.0f}, {cz:.0f}",
                off_centre_text(row.off_centre),
            ]
            if balanced:
                cells.append(_balance(row.balance))
            rows.append(cells)
        widths = [21, 16, 13, 14, 30, 26, 30] + ([32] if balanced else [])
        sheet.table(rows, widths, right={0, 2, 3})
        if reading.warnings:
            sheet.line("Warnings", bold=True, size=11)
            for warning in reading.warnings:
                sheet.line(f"• {warning}")
            sheet.pdf.ln(3)
    else:
        sheet.line("No containers were loaded.", bold=True)
    if not reading.left_out:
        sheet.line("Left out: none, every item is loaded.", bold=True)
    else:
        sheet.line(f"Left out: {totals.left_out} items", bold=True, size=11)
        sheet.pdf.ln(1)
        rows = [["Item", "Row", "Count", "Reason"]]
        for group in reading.left_out:
            rows.append([str(group.id), group.source, str(group.count), group.reason])
        sheet.table(rows, [40, 60, 16, 66], right={2})


def _container_pages(sheet: _Sheet, reading: Reading, items: Sequence[Any]) -> None:
    styles = kind_styles(items)
    for number, row in enumerate(reading.containers, 1):
        sheet.pdf.add_page()
        size = " x ".join(number_text(value, None) for value in row.size or (0, 0, 0))
        sheet.heading(
            f"Container {row.number} ({number} of {len(reading.containers)}): {row.type}, inside {size}"
        )
        cx, cy, cz = row.centre_of_gravity
        sheet.line(
            f"Weight {load_text(row.weight, row.weight_limit, ' of ')} · {row.items} items · "
            f"{row.fill:.1%} full"
        )
        off = row.off_centre
        sheet.line(
            f"Centre of gravity {cx:.0f}, {cy:.0f}, {cz:.0f} (from the back wall, the left wall "
            "seen from the door, the floor)"
            + (
                f" · off centre {off[0]:+.1%} of the length, {off[1]:+.1%} of the width"
                if off
                else ""
            )
        )
        if row.balance is not None:
            sheet.line(f"Weight balance: {_balance(row.balance)} of the length")
        for warning in row.warnings:
            sheet.line(f"Warning: {warning}", bold=True)
        sheet.pdf.ln(2)
        length, width, height = (value or 1.0 for value in row.size or (0, 0, 0))
        # Tall enough for the views side by side at one scale, the titles and the legend.
        tall = min(max(sheet.width * height / (length + width) + 24, 50), 95)
        png = _elevations_png(row, styles, (sheet.width, tall))
        sheet.picture(png, tall)
        # The loading list's own steps, so the sheet and the CSV agree step for step.
        stages = loading_stages(row.steps)
        sheet.line("Loading steps, back wall first", bold=True, size=11)
        sheet.line(
            "Load the stages in order; steps follow the loading list. Depth is measured from "
            "the back wall towards the door.",
            size=8,
        )
        if row.factories_mixed:
            sheet.line(f"Note: {MIXED_NOTE}.", bold=True, size=8)
        sheet.pdf.ln(1)
        rows = [["Stage", "Steps", "Factory", "Depth", "Items (id x count)", "Weight"]]
        for stage in stages:
            steps = (
                f"{stage.first_step}"
                if stage.first_step == stage.last_step
                else f"{stage.first_step}-{stage.last_step}"
            )
            rows.append(
                [
                    str(stage.number),
                    steps,
                    str(stage.factory),
                    f"{number_text(stage.depth[0], None)}-{number_text(stage.depth[1], None)}",
                    ", ".join(f"{kind_id} x {count}" for kind_id, count, _ in stage.kinds),
                    number_text(stage.weight, None),
                ]
            )
        sheet.table(rows, [13, 20, 16, 26, 83, 24], right={0, 5})


def _elevations_png(
    row: ContainerReading,
    styles: Mapping[str, tuple[str, str]],
    size_mm: tuple[float, float],
) -> bytes:
    matplotlib = require("matplotlib", "the loading sheet", "pdf")
    patches = require("matplotlib.patches", "the loading sheet", "pdf")
    inches = (size_mm[0] / 25.4, size_mm[1] / 25.4)
    # Ids are the planner's text: never read as math markup.
    with matplotlib.rc_context({"text.parse_math": False, "hatch.linewidth": 0.6}):
        figure = load_elevations(row, styles, size=inches)
        shown = dict.fromkeys(str(step.item_id) for step in row.steps)
        handles = [
            patches.Patch(facecolor=styles[k][0], hatch=styles[k][1], edgecolor="black", label=k)
            for k in shown
        ]
        if handles:
            figure.legend(
                handles=handles,
                loc="lower center",
                ncol=min(len(handles), 8),
                fontsize=6.5,
                frameon=False,
                handlelength=2.2,
                handleheight=1.4,
            )
        rows = (len(handles) + 7) // 8
        tall = size_mm[1]
        figure.subplots_adjust(
            left=0.06, right=0.99, top=1 - 7 / tall, bottom=(9 + 5 * rows) / tall
        )
        out = io.BytesIO()
        figure.savefig(out, format="png", dpi=200)
    return out.getvalue()


def loading_sheet(
    reading: Reading,
    problem: Mapping[str, Any],
    *,
    title: str = "shipment",
    paper: str = "a4",
) -> bytes:
    """The loading sheet of a plan as PDF bytes, all drawn from ``reading``; ``problem`` is the
    shipment (each kind of item keeps one fill on every page). ``title`` names the shipment; ``paper`` is ``a4`` or
    ``letter``."""
    if paper not in PAPER_SIZES:
        raise ValueError(f"paper must be one of {', '.join(PAPER_SIZES)}, got {paper!r}")
    sheet = _Sheet(paper, title)
    _summary_page(sheet, reading, title)
    _container_pages(sheet, reading, problem["itemTable"])
    return bytes(sheet.pdf.output())


def write_loading_sheet(
    path: Path,
    reading: Reading,
    problem: Mapping[str, Any],
    *,
    title: str = "shipment",
    paper: str = "a4",
) -> None:
    """Write the loading sheet to ``path``, whole or not at all."""
    data = loading_sheet(reading, problem, title=title, paper=paper)
    with replacing(path) as temporary:
        temporary.write_bytes(data)
