"""Wall time of a default pack on a 200-item, two-container-type load, per thread count.

Run: python bench/pack_wall_time.py [--items 200] [--threads 1 2] [--repeat 1]
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import time

import stowra


def realistic_load(count: int, seed: int = 2026) -> dict:
    """Cartons of 20-60 cm and a few pallets from three factories, in cm and kg."""
    rng = random.Random(seed)
    items = []
    for index in range(count):
        if rng.random() < 0.1:
            l, w, h = 120.0, 100.0, float(rng.choice([100, 120, 140]))
            weight, stackable = float(rng.randint(200, 600)), rng.random() < 0.5
        else:
            l, w, h = (float(rng.randint(20, 60)) for _ in range(3))
            weight, stackable = float(rng.randint(3, 30)), True
        items.append(
            {
                "id": index,
                "l": l,
                "w": w,
                "h": h,
                "weight": weight,
                "factory": rng.randint(1, 3),
                "stackable": stackable,
            }
        )
    bins = [
        {
            "id": "20GP",
            "l": 590.0,
            "w": 234.0,
            "h": 239.0,
            "cost": 1000,
            "weight_limit": 28000.0,
            "available": True,
        },
        {
            "id": "40GP",
            "l": 1203.0,
            "w": 234.0,
            "h": 239.0,
            "cost": 1800,
            "weight_limit": 26700.0,
            "available": True,
        },
    ]
    return {"itemTable": items, "binTable": bins}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=200)
    parser.add_argument("--threads", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--repeat", type=int, default=1)
    options = parser.parse_args()
    load = realistic_load(options.items)
    devnull = os.open(os.devnull, os.O_WRONLY)
    for threads in options.threads:
        for _ in range(options.repeat):
            sys.stdout.flush()
            saved = os.dup(1)
            os.dup2(devnull, 1)  # the progress lines are not what is measured
            try:
                start = time.perf_counter()
                result = stowra.pack(load, threads=threads)
                wall = time.perf_counter() - start
            finally:
                os.dup2(saved, 1)
                os.close(saved)
            print(
                f"items={options.items} threads={threads} wall={wall:.2f}s "
                f"search={result['elapsedSeconds']:.2f}s bins={result['totalBins']} "
                f"fitness={result['fitness']:.6g} utilization={result['utilization']:.4f}"
            )


if __name__ == "__main__":
    main()
