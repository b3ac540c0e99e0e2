"""A stand-in for the search, for tests of the command line, report and pictures."""

from __future__ import annotations

import os
from typing import Any


def shelf_pack(problem: dict[str, Any], **settings: Any) -> dict[str, Any]:
    """A stand-in for the search with the same result shape: items side by side along x.

    It writes a progress line to descriptor 1 like the native core does, leaves out items
    heavier than the container's weight limit, and opens a new container when one is full.
    """
    os.write(1, b"GA: stand-in search\n")
    kind = next(row for row in problem["binTable"] if row["available"])
    limit = kind["weight_limit"]
    containers: list[dict[str, Any]] = []
    x = weight = float("inf")
    for index, item in enumerate(problem["itemTable"]):
        if 0 < limit < item["weight"]:
            continue
        if x + item["l"] > kind["l"] or (limit > 0 and weight + item["weight"] > limit):
            containers.append({"items": [], "weight": 0.0, "volume": 0.0, "moment": [0.0] * 3})
            x = weight = 0.0
        current = containers[-1]
        current["items"].append({"itemIndex": index, "x": x, "y": 0.0, "z": 0.0, "rotation": 0})
        centre = (x + item["l"] / 2, item["w"] / 2, item["h"] / 2)
        for axis in range(3):
            current["moment"][axis] += centre[axis] * item["weight"]
        current["weight"] += item["weight"]
        current["volume"] += item["l"] * item["w"] * item["h"]
        x += item["l"]
        weight += item["weight"]
    volume = kind["l"] * kind["w"] * kind["h"]
    table = [
        {
            "id": number,
            "binType": kind["id"],
            "cost": float(kind["cost"]),
            "spaceUtilization": c["volume"] / volume,
            "currentWeight": c["weight"],
            "centerOfGravity": tuple(m / c["weight"] if c["weight"] else 0.0 for m in c["moment"]),
            "itemCount": len(c["items"]),
            "items": c["items"],
        }
        for number, c in enumerate(containers, 1)
    ]
    return {
        "sum20": len(table),
        "sum40": 0,
        "fitness": 1.0,
        "cost": float(kind["cost"]) * len(table),
        "utilization": sum(c["volume"] for c in containers) / (volume * max(len(table), 1)),
        "centerPenalty": 0.0,
        "weightPenalty": 0.0,
        "elapsedSeconds": 0.01,
        "totalBins": len(table),
        "packingTable": table,
    }
