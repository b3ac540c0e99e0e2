from typing import Any, TypedDict

# The shapes of the dicts pack and optimize return (both are typed as plain dicts, so callers
# may treat them as such). pack's keys are fixed; optimize's add the marks of its rules.

class Placement(TypedDict):
    itemIndex: int
    x: float
    y: float
    z: float
    rotation: int

class ContainerRow(TypedDict):
    id: int
    binType: str
    cost: float
    spaceUtilization: float
    currentWeight: float
    centerOfGravity: tuple[float, float, float]
    itemCount: int
    items: list[Placement]

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
    packingTable: list[ContainerRow]

class OptimizedContainerRow(ContainerRow):
    balance: float | None  # the heavier half's share of the cargo weight along the length
    balanceKept: bool  # within balance_limit

class LeftOutItem(TypedDict):
    itemIndex: int
    reason: str

class OptimizeResult(TypedDict):
    sum20: int
    sum40: int
    fitness: float
    cost: float
    utilization: float
    centerPenalty: float
    weightPenalty: float
    elapsedSeconds: float
    totalBins: int
    packingTable: list[OptimizedContainerRow]
    leftOut: list[LeftOutItem]

def pack(
    input: dict[str, Any],
    pop_size: int = 100,
    generations: int = 50,
    time_limit: float = 300.0,
    threads: int = 0,
    seed: int = 42,
) -> dict[str, Any]: ...
def optimize(
    input: dict[str, Any],
    *,
    time_limit: float = 60.0,
    threads: int = 0,
    seed: int = 42,
    effort: int = 2,
    balance_limit: float = 0.6,
    pickup_order: bool = True,
) -> dict[str, Any]: ...
