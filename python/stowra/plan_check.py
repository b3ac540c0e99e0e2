"""Checking any plan, made by either search or elsewhere, against the rules the searches keep.

The rules are the core's (see ``stowra._core.check_plan``); this layer gives it the planner's
items and says each item in its messages by its id and its row as submitted.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

from stowra import _core
from stowra.files.rows import RowSource, row_label
from stowra.item_rows import core_problem
from stowra.searches import DEFAULT_BALANCE_LIMIT, DEFAULT_PICKUP_ORDER

if TYPE_CHECKING:
    from stowra._core import Breach

__all__ = ["check_plan", "item_names"]


def item_names(problem: Mapping[str, Any], sources: Sequence[RowSource] = ()) -> list[str]:
    """``item SKU-103 (row 3)`` for every item row: its id and its row as submitted, from 1
    (the row in its file when ``sources`` say where each item came from)."""
    names = []
    for index, row in enumerate(problem.get("itemTable") or ()):
        source = sources[index] if index < len(sources) else None
        number = source.number if source is not None else None
        row_id = (
            source.id
            if source is not None
            else (row.get("id") if isinstance(row, Mapping) else None)
        )
        names.append(row_label("itemTable", number - 1 if number else index, row_id))
    return names


def check_plan(
    input: Mapping[str, Any],
    result: Mapping[str, Any],
    *,
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
    pickup_order: bool = DEFAULT_PICKUP_ORDER,
    item_sources: Sequence[RowSource] = (),
) -> list[Breach]:
    """Every rule the plan ``result`` breaks for the shipment ``input``, container by container.

    ``input`` is what ``pack`` and ``optimize`` take; ``result`` what either returns, or a plan
    made elsewhere with the same keys (a container's type is its ``binTypeIndex``, else the
    first available type of its ``binType`` name). Each breach gives its ``rule``
    (``unknown_type``, ``unknown_item``, ``placed_twice``, ``turned``, ``outside``,
    ``overlap``, ``unsupported``, ``non_stackable``, ``weight_limit``, ``balance``,
    ``pickup_order``, ``max_load``), the ``container`` (from 1), the ``items`` concerned (by
    index in ``itemTable``, the breaking one first), a ``figure`` and a ``message``. An empty
    list is a plan that keeps every rule. Raises ``ValueError`` for bad input.
    """
    return _core.check_plan(
        dict(core_problem(input)),
        result,
        balance_limit=balance_limit,
        pickup_order=pickup_order,
        item_names=item_names(input, item_sources),
    )
