"""The two searches behind every front end, chosen by name.

``optimize`` (the default) looks for the cheapest plan over every available container type;
it reads ``time_limit`` (default 60 s), ``threads``, ``seed``, ``effort`` (default 2),
``balance_limit`` (the most of a container's cargo weight either half of its length may
carry, 0.5 to 1, default 0.6; 1 turns the rule off) and ``pickup_order`` (default true: no
item of a later factory behind or below one of an earlier factory).
``exact`` runs ``pack``, whose plans are fixed bit for bit for a given input and seed; it reads
``pop_size``, ``generations``, ``time_limit`` (default 300 s), ``threads`` and ``seed``. The
command line, the service and batch planning all go through :func:`run_search`.
"""

from __future__ import annotations

from typing import Any

from stowra._core import optimize, pack
from stowra.item_rows import core_problem

__all__ = [
    "DEFAULT_BALANCE_LIMIT",
    "DEFAULT_EFFORT",
    "DEFAULT_PICKUP_ORDER",
    "DEFAULT_SEARCH",
    "DEFAULT_TIME_LIMITS",
    "SEARCHES",
    "run_search",
]

SEARCHES = ("optimize", "exact")
DEFAULT_SEARCH = "optimize"
DEFAULT_EFFORT = 2
DEFAULT_TIME_LIMITS = {"optimize": 60.0, "exact": 300.0}
DEFAULT_BALANCE_LIMIT = 0.6
DEFAULT_PICKUP_ORDER = True


def check_search(search: str) -> None:
    """Raises ``ValueError`` unless ``search`` names one of ``SEARCHES``."""
    if search not in SEARCHES:
        raise ValueError(f"unknown search {search!r}; choose one of: {', '.join(SEARCHES)}")


def run_search(
    input: dict[str, Any],
    *,
    search: str = DEFAULT_SEARCH,
    pop_size: int = 100,
    generations: int = 50,
    time_limit: float | None = None,
    threads: int = 0,
    seed: int = 42,
    effort: int | None = None,
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
    pickup_order: bool = DEFAULT_PICKUP_ORDER,
) -> dict[str, Any]:
    """Run the named search; ``None`` for ``time_limit`` or ``effort`` means its own default.

    Options the chosen search does not read are ignored. Raises ``ValueError`` for an unknown
    search name and for bad input, with the same messages as ``pack``. Item ids may be text:
    the core gets its own numbers for them (see :mod:`stowra.item_rows`).
    """
    check_search(search)
    input = core_problem(input)  # the planner's item ids stay in the shipment
    limit = DEFAULT_TIME_LIMITS[search] if time_limit is None else time_limit
    if search == "exact":
        return pack(
            input,
            pop_size=pop_size,
            generations=generations,
            time_limit=limit,
            threads=threads,
            seed=seed,
        )
    return optimize(
        input,
        time_limit=limit,
        threads=threads,
        seed=seed,
        effort=DEFAULT_EFFORT if effort is None else effort,
        balance_limit=balance_limit,
        pickup_order=pickup_order,
    )
