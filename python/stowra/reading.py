"""One reading of a plan: every figure a person reads off it, worked out once.

The text report, the loading list, the pictures' titles, the loading sheet, the batch summary,
the service's answer and its page all show this reading and work out nothing of their own, so
a figure means the same wherever it is read. Each figure comes from one small function below.

Off centre is measured one way everywhere: how far the centre of gravity lies from the middle
of the container's floor, as a share of its inner length (positive towards the door) and of
its inner width (positive towards the right wall seen from the door).
"""

from __future__ import annotations

import math
from collections.abc import Collection, Mapping, Sequence
from dataclasses import dataclass, fields, replace
from typing import TYPE_CHECKING, Any, ClassVar

from stowra import _core
from stowra.files import RowSource
from stowra.item_rows import core_problem
from stowra.loading_list import loading_order
from stowra.plan_check import check_plan
from stowra.report import bin_types, heavier_half_share
from stowra.searches import DEFAULT_BALANCE_LIMIT, DEFAULT_SEARCH, unused_types_note

if TYPE_CHECKING:
    from stowra._core import Breach

__all__ = [
    "ContainerReading",
    "LeftOutRow",
    "Reading",
    "Step",
    "Totals",
    "format_report",
    "load_text",
    "number_text",
    "off_centre_text",
    "placed_boxes",
    "read_plan",
    "search_notes",
]


def _camel(name: str) -> str:
    head, *rest = name.split("_")
    return head + "".join(word.title() for word in rest)


def _plain(value: Any, leave_out: Collection[str]) -> Any:
    if isinstance(value, tuple | list):
        return [_plain(v, leave_out) for v in value]
    if hasattr(value, "to_json"):
        return value.to_json(leave_out)
    return value


class _Json:
    """Dataclass fields as a JSON object, keys in camelCase as the plan's own; the service's
    schema reads the same names."""

    __pydantic_config__: ClassVar[dict[str, Any]] = {"alias_generator": _camel, "extra": "forbid"}

    def to_json(self, leave_out: Collection[str] = ()) -> dict[str, Any]:
        """The fields, less those named in ``leave_out`` as ``"Class.field"`` at any depth."""
        return {
            _camel(f.name): _plain(getattr(self, f.name), leave_out)
            for f in fields(self)  # type: ignore[arg-type]
            if f"{type(self).__name__}.{f.name}" not in leave_out
        }


@dataclass(frozen=True)
class Step(_Json):
    """A placed item, ``step`` numbering it in the crew's loading order: ``x, y, z`` its corner
    nearest the back wall, left wall and floor; ``dx, dy, dz`` its size as placed (``dx``
    along the length)."""

    step: int
    item_index: int
    item_id: Any
    source: str
    line: int | None
    x: float
    y: float
    z: float
    dx: float
    dy: float
    dz: float
    rotation: int
    factory: Any
    weight: float
    stackable: bool


@dataclass(frozen=True)
class ContainerReading(_Json):
    number: int
    type_index: int | None
    type: str
    size: tuple[float, float, float] | None  # inside: length, width, height
    weight_limit: float | None
    items: int
    fill: float
    weight: float
    centre_of_gravity: tuple[float, float, float]
    off_centre: tuple[float, float] | None  # None for an empty container
    balance: float | None  # the heavier half's share of the weight; None without weight
    factories_mixed: bool
    steps: tuple[Step, ...]
    warnings: tuple[str, ...]

    @property
    def title(self) -> str:
        """``Container 1 · 40GP · 81.2% full · weight 12,345 / 26,700 · 12 items``."""
        return (
            f"Container {self.number} · {self.type} · {self.fill:.1%} full · "
            f"weight {load_text(self.weight, self.weight_limit)} · {self.items} items"
        )


@dataclass(frozen=True)
class LeftOutRow(_Json):
    """Items of one submitted row left out for one reason."""

    id: Any
    source: str
    count: int
    reason: str

    @property
    def text(self) -> str:
        times = f" (x{self.count})" if self.count > 1 else ""
        return f"id {self.id}{times} ({self.source}): {self.reason}"


@dataclass(frozen=True)
class Totals(_Json):
    containers: int
    mix: tuple[tuple[str, int], ...]  # (type, count) in the container table's order
    cost: float
    utilization: float
    weight: float
    placed: int
    items: int
    left_out: int
    search: str
    seconds: float
    mix_text: str  # "1 x 20GP, 2 x 40GP"
    line: str  # the totals in one line, the same in every output that shows them


@dataclass(frozen=True)
class Reading(_Json):
    containers: tuple[ContainerReading, ...]
    totals: Totals
    left_out: tuple[LeftOutRow, ...]
    notes: tuple[str, ...]
    warnings: tuple[str, ...]  # each container's, named by its number


# The figures, one function each: changing a definition here changes every output.


def container_type(
    container: Mapping[str, Any], problem: Mapping[str, Any]
) -> tuple[int | None, Mapping[str, Any]]:
    """The container's type: its row in the container table, and that row."""
    index = container.get("binTypeIndex")
    if index is None:
        # The first available row of that name, as the searches take them.
        kinds = bin_types(problem)
        name = str(container["binType"])
        rows = problem.get("binTable", [])
        found = next((n for n, row in enumerate(rows) if row is kinds.get(name)), None)
        return found, kinds.get(name, {"id": name})
    return int(index), problem["binTable"][int(index)]


def type_name(kind: Mapping[str, Any]) -> str:
    return str(kind.get("id", ""))


def fill(container: Mapping[str, Any]) -> float:
    return float(container["spaceUtilization"])


def weight_limit(kind: Mapping[str, Any]) -> float | None:
    limit = float(kind.get("weight_limit", 0) or 0)
    return limit if limit > 0 else None


def off_centre(
    centre: Sequence[float], size: Sequence[float] | None, items: int
) -> tuple[float, float] | None:
    if not items or size is None or not (size[0] > 0 and size[1] > 0):
        return None
    return ((centre[0] - size[0] / 2) / size[0], (centre[1] - size[1] / 2) / size[1])


def balance(container: Mapping[str, Any], boxes: Sequence[Step], length: float) -> float | None:
    # optimize's rows carry their own figure; pack's are measured here.
    if "balance" in container:
        return container["balance"]
    return heavier_half_share(boxes, length) if boxes else None


def factories_mixed(boxes: Sequence[Step]) -> bool:
    """Whether a box of a later factory stands behind or below one of an earlier factory, so
    that the container cannot be loaded factory by factory: the core's pickup-order rule over
    every box as placed, also where the checker reads a container no further (an unknown type,
    an item placed twice)."""
    corners = [c for b in boxes for c in (b.x, b.y, b.z, b.x + b.dx, b.y + b.dy, b.z + b.dz)]
    return _core._factories_mixed([box.factory for box in boxes], corners)


# The rules whose breaches a container's warnings word themselves, from their own figures.
_WORDED = {"balance", "pickup_order", "max_load"}


def breaches(
    result: Mapping[str, Any], problem: Mapping[str, Any], sources: Sequence[RowSource] | None
) -> list[list[Breach]]:
    """Per container, what the plan checker finds wrong in it: the rules every plan keeps and
    ``max_load`` (the balance and the pickup order are read from their own figures)."""
    found: list[list[Breach]] = [[] for _ in result["packingTable"]]
    for breach in check_plan(
        problem, result, balance_limit=1.0, pickup_order=False, item_sources=sources or ()
    ):
        found[breach["container"] - 1].append(breach)
    return found


def search_notes(problem: Mapping[str, Any], search: str) -> tuple[str, ...]:
    """What to know of a search of ``problem`` before and after it runs: only the exact
    search is limited to the first two available types."""
    note = unused_types_note(problem, search)
    return (note,) if note else ()


def placed_items(result: Mapping[str, Any]) -> set[int]:
    """The item indices some container holds."""
    return {p["itemIndex"] for row in result["packingTable"] for p in row["items"]}


def reasons_left_out(
    indices: Sequence[int], result: Mapping[str, Any], problem: Mapping[str, Any], search: str
) -> dict[int, str]:
    """Why each of the items ``indices`` was left out: optimize's result says; for a plan that
    does not (pack's), the core works it out."""
    given = {row["itemIndex"]: row["reason"] for row in result.get("leftOut", ())}
    asked = [index for index in indices if index not in given]
    if asked:
        found = _core._left_out_reasons(dict(core_problem(problem)), asked, exact=search == "exact")
        given.update(zip(asked, found, strict=True))
    return given


def number_text(value: float, decimals: int | None = 0) -> str:
    """``12,345``; with ``decimals`` None, two decimals where the value has a fraction."""
    if decimals is None:
        decimals = 0 if abs(value - round(value)) < 0.005 else 2
    return f"{value:,.{decimals}f}"


def load_text(weight: float, limit: float | None, between: str = " / ") -> str:
    """A container's weight against its limit: ``12,345 / 26,700`` or ``12,345 (no limit)``."""
    shown = number_text(weight)
    return f"{shown}{between}{number_text(limit)}" if limit else f"{shown} (no limit)"


def _warnings(
    balanced: float | None,
    mixed: bool,
    found: list[Breach],
    items: Sequence[Mapping[str, Any]],
    limit: float,
) -> tuple[str, ...]:
    """Plain sentences on what a loading supervisor would refuse in a container."""
    sentences: list[str] = []
    if balanced is not None and balanced > limit + 1e-9:
        sentences.append(
            f"{balanced:.0%} of the cargo weight lies in one half of the length "
            f"(at most {limit:.0%} is allowed)"
        )
    if mixed:
        sentences.append(
            "factories mixed: goods of a later factory stand behind or under an earlier "
            "factory's, so the container cannot be loaded factory by factory"
        )
    over = [
        (items[breach["items"][0]], breach["figure"])
        for breach in found
        if breach["rule"] == "max_load"
    ]
    if over:
        listed = "; ".join(
            f"item {item.get('id')} carries {number_text(load, 1)} kg "
            f"(max_load {number_text(float(item['max_load']), 1)})"
            for item, load in over
        )
        sentences.append(f"loaded beyond their limit: {listed}")
    # The checker's own words, without the container number the reading gives anyway.
    sentences += [
        breach["message"].partition(": ")[2] for breach in found if breach["rule"] not in _WORDED
    ]
    return tuple(sentences)


def _where(sources: Sequence[RowSource] | None, index: int) -> tuple[str, int | None]:
    source = sources[index] if sources is not None and index < len(sources) else None
    if source is None:
        return f"itemTable[{index}]", None
    return source.where(), source.line or None


def placed_boxes(
    container: Mapping[str, Any],
    items: Sequence[Mapping[str, Any]],
    sources: Sequence[RowSource] | None = None,
) -> list[Step]:
    """The boxes of one packingTable row in placing order, not yet numbered (step 0)."""
    boxes = []
    for placement in container["items"]:
        index = placement["itemIndex"]
        item = items[index]
        rotation = int(placement["rotation"])
        # Rotation 0 keeps the item's length along the container; any other turns it a quarter.
        dx, dy = (item["l"], item["w"]) if rotation == 0 else (item["w"], item["l"])
        boxes.append(
            Step(
                0,
                index,
                item.get("id"),
                *_where(sources, index),
                *(float(placement[axis]) for axis in ("x", "y", "z")),
                *(float(dx), float(dy), float(item["h"])),
                rotation,
                factory=item.get("factory", ""),
                weight=float(item.get("weight", 0) or 0),
                stackable=bool(item.get("stackable", True)),
            )
        )
    return boxes


def _steps(boxes: list[Step], mixed: bool) -> tuple[Step, ...]:
    return tuple(
        replace(box, step=number)
        for number, box in enumerate(loading_order(boxes, by_factory=not mixed), 1)
    )


def _container(
    container: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None,
    limit: float,
    found: list[Breach],
) -> ContainerReading:
    items = problem["itemTable"]
    index, kind = container_type(container, problem)
    size = tuple(float(kind.get(key, 0) or 0) for key in ("l", "w", "h"))
    centre = tuple(float(value) for value in container["centerOfGravity"])
    boxes = placed_boxes(container, items, sources)
    mixed = factories_mixed(boxes)
    balanced = balance(container, boxes, size[0])
    return ContainerReading(
        number=container["id"],
        type_index=index,
        type=type_name(kind),
        size=size if any(size) else None,  # type: ignore[arg-type]
        weight_limit=weight_limit(kind),
        items=len(boxes),
        fill=fill(container),
        weight=float(container["currentWeight"]),
        centre_of_gravity=centre,  # type: ignore[arg-type]
        off_centre=off_centre(centre, size, len(boxes)),
        balance=balanced,
        factories_mixed=mixed,
        steps=_steps(boxes, mixed),
        warnings=_warnings(balanced, mixed, found, items, limit),
    )


def read_plan(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource] | None = None,
    *,
    search: str = DEFAULT_SEARCH,
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
) -> Reading:
    """The reading of ``result``, a plan of ``problem`` (``pack``'s input) made by ``search``;
    ``sources`` names the row each item came from. ``balance_limit`` is the one the search was
    given: pack keeps no balance rule, so its plans are read against the default."""
    limit = balance_limit if search == "optimize" else DEFAULT_BALANCE_LIMIT
    items = problem["itemTable"]
    found = breaches(result, problem, sources)
    containers = tuple(
        _container(row, problem, sources, limit, breached)
        for row, breached in zip(result["packingTable"], found, strict=True)
    )
    placed = placed_items(result)
    reasons = reasons_left_out(
        [i for i in range(len(items)) if i not in placed], result, problem, search
    )
    groups: dict[tuple[Any, str, str], int] = {}
    for index in range(len(items)):
        if index not in placed:
            key = (items[index].get("id"), _where(sources, index)[0])
            key += (reasons[index],)
            groups[key] = groups.get(key, 0) + 1
    left = tuple(LeftOutRow(i, where, count, why) for (i, where, why), count in groups.items())
    mix: dict[tuple[float, str], int] = {}
    for row in containers:
        # Types in the container table's order; a type the table lacks, last.
        key = (row.type_index if row.type_index is not None else math.inf, row.type)
        mix[key] = mix.get(key, 0) + 1
    counts = tuple((name, count) for (_, name), count in sorted(mix.items()))
    mix_text = ", ".join(f"{count} x {name}" for name, count in counts)
    cost, seconds = float(result["cost"]), float(result["elapsedSeconds"])
    line = (
        f"Total: {len(containers)} container{'s' if len(containers) != 1 else ''}"
        + (f" ({mix_text})" if mix_text else "")
        + f", cost {number_text(cost, None)}"
        + f", utilization {float(result['utilization']):.1%}"
        + f", {len(placed)} of {len(items)} items placed, {search} search {seconds:.1f} s"
    )
    totals = Totals(
        containers=len(containers),
        mix=counts,
        cost=cost,
        utilization=float(result["utilization"]),
        weight=sum(row.weight for row in containers),
        placed=len(placed),
        items=len(items),
        left_out=sum(row.count for row in left),
        search=search,
        seconds=seconds,
        mix_text=mix_text,
        line=line,
    )
    return Reading(
        containers=containers,
        totals=totals,
        left_out=left,
        notes=search_notes(problem, search),
        warnings=tuple(
            f"Container {row.number}: {text}" for row in containers for text in row.warnings
        ),
    )


def _table(rows: list[list[str]], right: set[int]) -> list[str]:
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    lines = []
    for row in rows:
        cells = [
            cell.rjust(width) if column in right else cell.ljust(width)
            for column, (cell, width) in enumerate(zip(row, widths, strict=True))
        ]
        lines.append("  ".join(cells).rstrip())
    return lines


def off_centre_text(off: tuple[float, float] | None) -> str:
    return f"{off[0]:+.1%}, {off[1]:+.1%}" if off else "-"


def format_report(reading: Reading, title: str | None = None, show_left_out: bool = True) -> str:
    """The plan as a table: one line per container, then the totals and any left-out items."""
    head = ["#", "type", "items", "fill", "weight / limit", "centre of gravity x, y, z"]
    rows = [[*head, "off centre (length, width)", "heavier half"]]
    for row in reading.containers:
        cx, cy, cz = row.centre_of_gravity
        rows.append(
            [
                str(row.number),
                row.type,
                str(row.items),
                f"{row.fill:.1%}",
                load_text(row.weight, row.weight_limit),
                f"{cx:.0f}, {cy:.0f}, {cz:.0f}",
                off_centre_text(row.off_centre),
                f"{row.balance:.0%}" if row.balance is not None else "-",
            ]
        )
    lines = [title] if title else []
    if len(rows) > 1:
        lines += _table(rows, right={0, 2, 3, 7})
    else:
        lines.append("No containers were loaded.")
    lines.append(reading.totals.line)
    lines += reading.warnings
    if reading.left_out and show_left_out:
        count = reading.totals.left_out
        lines.append(f"Left out: {count} item{'s' if count != 1 else ''}:")
        lines += ["  " + row.text for row in reading.left_out]
    return "\n".join(lines) + "\n"
