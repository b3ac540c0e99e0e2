from typing import Any

__version__: str

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
