"""A stand-in for the search, for tests of the command line, report and pictures."""

from __future__ import annotations

import os
from typing import Any


def shelf_pack(problem: dict[str, Any], **settings: Any) -> dict[str, Any]:
    """The search's result shape: items side by side along x, shorter side on, a new container
    when one is full, items over the weight limit left out; progress reported as each search does."""
    if settings.get("search") == "exact":
        os.write(1, b"GA: stand-in search\n")
    elif settings.get("progress") is not None:
        settings["progress"]({"stage": "done", "round": 0, "cost": 12.5, "containers": 1, "seconds": 0.0})
    kind = next(row for row in problem["binTable"] if row["available"])
    limit, volume = kind["weight_limit"], kind["l"] * kind["w"] * kind["h"]
    table: list[dict[str, Any]] = []
    x = weight = float("inf")
    for index, item in enumerate(problem["itemTable"]):
        if 0 < limit < item["weight"]:
            continue
        turned = item["w"] < item["l"]
        dx, dy = (item["w"], item["l"]) if turned else (item["l"], item["w"])
        if x + dx > kind["l"] or 0 < limit < weight + item["weight"]:
            table.append({"id": len(table) + 1, "binType": kind["id"], "items": [], "boxes": []})
            x = weight = 0.0
        table[-1]["items"].append({"itemIndex": index, "x": x, "y": 0.0, "z": 0.0, "rotation": 1 if turned else 0})
        table[-1]["boxes"].append(((x + dx / 2, dy / 2, item["h"] / 2), item))
        x, weight = x + dx, weight + item["weight"]
    for row in table:
        boxes = row.pop("boxes")
        mass = sum(item["weight"] for _, item in boxes)
        row["cost"], row["currentWeight"], row["itemCount"] = float(kind["cost"]), mass, len(boxes)
        row["centerOfGravity"] = tuple(sum(c[k] * i["weight"] for c, i in boxes) / (mass or 1) for k in range(3))
        row["spaceUtilization"] = sum(i["l"] * i["w"] * i["h"] for _, i in boxes) / volume
    used = sum(row["spaceUtilization"] for row in table) / max(len(table), 1)
    totals = {"sum20": len(table), "sum40": 0, "totalBins": len(table), "utilization": used}
    scores = {"fitness": 1.0, "centerPenalty": 0.0, "weightPenalty": 0.0, "elapsedSeconds": 0.01}
    return {**totals, **scores, "cost": float(kind["cost"]) * len(table), "packingTable": table}
