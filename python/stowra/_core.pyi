from collections.abc import Callable
from typing import Any, Literal, TypedDict

__version__: str
PACK_BIN_TYPES: int  # how many of the first available container types pack may open
DEFAULTS: dict[str, dict[str, Any]]  # each search's option defaults, by function name

class PlacedItem(TypedDict):
    """One item in a container, in the order items were placed."""

    itemIndex: int
    x: float
    y: float
    z: float
    rotation: int

class PackedContainer(TypedDict):
    id: int
    binType: str
    cost: float
    spaceUtilization: float
    currentWeight: float
    centerOfGravity: tuple[float, float, float]
    itemCount: int
    items: list[PlacedItem]

class PackResult(TypedDict):
    sum20: int
    sum40: int
    fitness: float
    cost: float
    utilization: float
    centerPenalty: float
    weightPenalty: float
    elapsedSeconds: float
    totalBins: int
    packingTable: list[PackedContainer]

class OptimizedContainer(PackedContainer):
    """A container of optimize's plan: pack's keys and the marks of its rules."""

    binTypeIndex: int  # its type's row in binTable, counted from 0
    balance: float | None  # the heavier half's share of the cargo weight along the length
    balanceKept: bool  # whether that is within balance_limit

class LeftOutItem(TypedDict):
    """An item no container holds, and why, in a planner's words."""

    itemIndex: int
    reason: str

class OptimizeResult(TypedDict):
    """pack's keys, its containers marked, and the items left out."""

    sum20: int
    sum40: int
    fitness: float
    cost: float
    utilization: float
    centerPenalty: float
    weightPenalty: float
    elapsedSeconds: float
    totalBins: int
    packingTable: list[OptimizedContainer]
    leftOut: list[LeftOutItem]

class OptimizeProgress(TypedDict):
    """Where optimize stands, given to its ``progress`` callable at each step."""

    stage: Literal["start", "search", "improve", "done"]
    round: int  # rounds done
    cost: float  # of the best plan so far
    containers: int  # of the best plan so far
    seconds: float  # since the search started

class Breach(TypedDict):
    """One rule a plan breaks in one container."""

    rule: str
    container: int  # its position in packingTable, from 1
    items: list[int]  # item indices, the breaking one first
    figure: float
    message: str

def pack(
    input: dict[str, Any],
    pop_size: int = 100,
    generations: int = 50,
    time_limit: float = 300.0,
    threads: int = 0,
    seed: int = 42,
) -> PackResult: ...
def optimize(
    input: dict[str, Any],
    *,
    time_limit: float = 60.0,
    threads: int = 0,
    seed: int = 42,
    effort: int = 2,
    balance_limit: float = 0.6,
    pickup_order: bool = True,
    progress: Callable[[OptimizeProgress], object] | None = None,
) -> OptimizeResult: ...
def check_plan(
    input: dict[str, Any],
    result: Any,
    *,
    balance_limit: float = 0.6,
    pickup_order: bool = True,
    item_names: list[str] | None = None,
) -> list[Breach]: ...
def _pack_with_types(
    input: dict[str, Any],
    pop_size: int = 100,
    generations: int = 50,
    time_limit: float = 300.0,
    threads: int = 0,
    seed: int = 42,
) -> tuple[PackResult, list[int]]: ...
def _left_out_reasons(
    input: dict[str, Any], indices: list[int], *, exact: bool = False
) -> list[str]: ...
def _factories_mixed(factories: list[int], corners: list[float]) -> bool: ...
def read_json_shipment(
    text: str,
) -> (
    tuple[
        list[dict[str, Any]],
        list[Any],
        list[int] | None,
        list[int],
        list[str],
        list[dict[str, Any]] | None,
        list[Any],
        list[int],
        list[str],
        list[str],
    ]
    | None
): ...
