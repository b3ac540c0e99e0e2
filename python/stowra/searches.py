"""The two searches behind every front end, chosen by name, and the one table of their options.

``optimize`` (the default) looks for the cheapest plan over every available container type.
``exact`` runs ``pack``, whose plans are fixed bit for bit for a given input and seed. Each
option, its bounds, its help and the searches that read it are written once, in ``OPTIONS``,
with the default the core's signature gives it: the command line, batch planning, the service
(which serves them to its page at ``GET /api/options``) and :func:`run_search` all read them
from there.
"""

from __future__ import annotations

from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from stowra._core import DEFAULTS, PACK_BIN_TYPES, _pack_with_types, optimize
from stowra.item_rows import core_problem

if TYPE_CHECKING:
    from stowra._core import OptimizeProgress

__all__ = [
    "DEFAULT_BALANCE_LIMIT",
    "DEFAULT_EFFORT",
    "DEFAULT_PICKUP_ORDER",
    "DEFAULT_SEARCH",
    "DEFAULT_TIME_LIMITS",
    "OPTIONS",
    "SEARCHES",
    "SearchOption",
    "defaults",
    "run_search",
    "unused_types_note",
]

SEARCHES = ("optimize", "exact")
DEFAULT_SEARCH = "optimize"
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


@dataclass(frozen=True)
class SearchOption:
    """One search option: ``default`` is a mapping of search to value when the searches differ.

    ``low`` and ``high`` bound a number (``low_open``: above ``low``, not at it); ``high`` of
    ``None`` leaves it unbounded here (the service bounds the time limit by its own setting).
    """

    name: str
    kind: type
    default: Any
    help: str
    searches: tuple[str, ...] = SEARCHES
    low: float | None = None
    high: float | None = None
    low_open: bool = False

    def default_for(self, search: str) -> Any:
        """The default the named search uses."""
        if isinstance(self.default, Mapping):
            return self.default[search]
        return self.default

    def bounds_text(self) -> str:
        """The bounds in words, as messages and help give them."""
        if self.low is None:
            return ""
        if self.low_open:
            return f"above {self.low:g}"
        return f"{self.low:g} to {self.high:g}"


# The defaults themselves are the core's, as its signatures have them.
_PACK, _OPTIMIZE = DEFAULTS["pack"], DEFAULTS["optimize"]
OPTIONS: tuple[SearchOption, ...] = (
    SearchOption(
        "effort",
        int,
        _OPTIMIZE["effort"],
        "search effort, 0 to 20: up to 30 rounds each, ending after 10 each without a better plan",
        ("optimize",),
        0,
        20,
    ),
    SearchOption("pop_size", int, _PACK["pop_size"], "population size", ("exact",), 1, 10_000),
    SearchOption(
        "generations",
        int,
        _PACK["generations"],
        "most generations to search",
        ("exact",),
        0,
        1_000_000,
    ),
    SearchOption(
        "time_limit",
        float,
        {"optimize": _OPTIMIZE["time_limit"], "exact": _PACK["time_limit"]},
        "stop searching after this long",
        low=0,
        low_open=True,
    ),
    SearchOption(
        "threads",
        int,
        _OPTIMIZE["threads"],
        "threads for the search, 0 for all cores",
        low=0,
        high=1024,
    ),
    SearchOption(
        "seed",
        int,
        _OPTIMIZE["seed"],
        "random seed; the same seed gives the same plan",
        low=_INT32_MIN,
        high=_INT32_MAX,
    ),
    SearchOption(
        "balance_limit",
        float,
        _OPTIMIZE["balance_limit"],
        "the most of a container's cargo weight either half of its length may carry, 0.5 to "
        "1; 1 turns the rule off",
        ("optimize",),
        0.5,
        1,
    ),
    SearchOption(
        "pickup_order",
        bool,
        _OPTIMIZE["pickup_order"],
        "no item of a later factory behind or below one of an earlier factory",
        ("optimize",),
    ),
)
_BY_NAME = {option.name: option for option in OPTIONS}


def defaults(search: str = DEFAULT_SEARCH) -> dict[str, Any]:
    """Every option's default for the named search, ``search`` itself included."""
    check_search(search)
    return {"search": search, **{o.name: o.default_for(search) for o in OPTIONS}}


# Named for the callers that need a single one.
DEFAULT_EFFORT: int = _BY_NAME["effort"].default
DEFAULT_TIME_LIMITS: dict[str, float] = dict(_BY_NAME["time_limit"].default)
DEFAULT_BALANCE_LIMIT: float = _BY_NAME["balance_limit"].default
DEFAULT_PICKUP_ORDER: bool = _BY_NAME["pickup_order"].default


def check_search(search: str) -> None:
    """Raises ``ValueError`` unless ``search`` names one of ``SEARCHES``."""
    if search not in SEARCHES:
        raise ValueError(f"unknown search {search!r}; choose one of: {', '.join(SEARCHES)}")


def unused_types_note(problem: Mapping[str, Any], search: str) -> str | None:
    """The available container types the named search will never open, in words; else ``None``.

    Only the exact search is limited: ``pack`` opens the first ``PACK_BIN_TYPES`` available
    rows and no other; optimize opens them all.
    """
    if search != "exact":
        return None
    rows = problem.get("binTable") or []
    names = [
        str(row.get("id")) for row in rows if isinstance(row, Mapping) and row.get("available")
    ]
    opened = names[:PACK_BIN_TYPES]
    # A later row named like an opened one is no type left unused.
    unused = [name for name in dict.fromkeys(names[PACK_BIN_TYPES:]) if name not in opened]
    if not unused:
        return None
    count = _COUNT_WORDS.get(PACK_BIN_TYPES, str(PACK_BIN_TYPES))
    return (
        f"the search opens only the first {count} available container types "
        f"({', '.join(opened)}); {', '.join(unused)} will not be used"
    )


_COUNT_WORDS = {1: "one", 2: "two", 3: "three"}


def run_search(
    input: dict[str, Any],
    *,
    search: str = DEFAULT_SEARCH,
    pop_size: int = _BY_NAME["pop_size"].default,
    generations: int = _BY_NAME["generations"].default,
    time_limit: float | None = None,
    threads: int = _BY_NAME["threads"].default,
    seed: int = _BY_NAME["seed"].default,
    effort: int | None = None,
    balance_limit: float = DEFAULT_BALANCE_LIMIT,
    pickup_order: bool = DEFAULT_PICKUP_ORDER,
    progress: Callable[[OptimizeProgress], object] | None = None,
) -> dict[str, Any]:
    """Run the named search; ``None`` for ``time_limit`` or ``effort`` means its own default.

    ``progress`` gets optimize's steps (see ``stowra.optimize``); the exact search writes its
    own "GA: " lines to descriptor 1 instead, and prints them whatever ``progress`` is.
    Each container row carries ``binTypeIndex``, its type's row in ``binTable``. Options the
    chosen search does not read are ignored. Raises ``ValueError`` for an unknown
    search name and for bad input, with the same messages as ``pack``. Item ids may be text:
    the core gets its own numbers for them (see :mod:`stowra.item_rows`).
    """
    check_search(search)
    input = core_problem(input)  # the planner's item ids stay in the shipment
    limit = DEFAULT_TIME_LIMITS[search] if time_limit is None else time_limit
    if search == "exact":
        result, type_rows = _pack_with_types(
            input,
            pop_size=pop_size,
            generations=generations,
            time_limit=limit,
            threads=threads,
            seed=seed,
        )
        # pack's rows keep their own keys; each gets its type's binTable row beside them, as
        # optimize's carry it, so nothing looks a type up by its name.
        for row, type_row in zip(result["packingTable"], type_rows, strict=True):
            row["binTypeIndex"] = type_row
        return result
    return optimize(
        input,
        time_limit=limit,
        threads=threads,
        seed=seed,
        effort=DEFAULT_EFFORT if effort is None else effort,
        balance_limit=balance_limit,
        pickup_order=pickup_order,
        progress=progress,
    )
