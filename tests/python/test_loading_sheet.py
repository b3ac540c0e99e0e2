"""The loading sheet, read back with a PDF reader: its pages, paper and words."""

from __future__ import annotations

import json
from pathlib import Path

import pytest
from pypdf import PdfReader

from stowra import cli
from stowra.loading_sheet import loading_stages
from stowra.reading import Step

BIN = {"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000, "available": True}
# Ids as planners write them, including text a PDF or picture must not read as markup.
IDS = ["SKU-101", "$x^2$ <b>", "Ящик 7"]


def shipment_file(path: Path) -> Path:
    row = {"l": 100, "w": 80, "h": 60, "weight": 50, "factory": 1, "stackable": True}
    items = [{**row, "id": item_id, "factory": n + 1, "quantity": 12} for n, item_id in enumerate(IDS)]
    items.append({**row, "id": "HEAVY-9", "weight": 30_000, "quantity": 2})
    path.write_text(json.dumps({"itemTable": items, "binTable": [BIN]}))
    return path


def test_pack_writes_a_summary_page_then_a_page_per_container(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    # The figures on it are the reading's (test_reading); Letter paper is the service's and batch's case.
    monkeypatch.chdir(tmp_path)
    argv = ["pack", str(shipment_file(Path("orders.json"))), "--search", "exact", "--generations", "3"]
    assert cli.main([*argv, "--pop-size", "6", "--threads", "1", "-q", "-o", "plan.json", "--pdf", "sheet.pdf"]) == 0
    containers = json.loads(Path("plan.json").read_text())["packingTable"]
    reader = PdfReader("sheet.pdf")
    pages = [page.extract_text() for page in reader.pages]
    assert len(pages) == 1 + len(containers)
    assert all([round(float(side), 2) for side in page.mediabox[2:]] == [595.28, 841.89] for page in reader.pages)
    for number, page in enumerate(pages[1:], 1):
        assert f"Container {number} ({number} of {len(containers)}): 20GP" in page
        assert "Centre of gravity" in page and "Stage" in page
    loaded = "\n".join(pages[1:])
    assert all(item_id in loaded for item_id in IDS) and "HEAVY-9" not in loaded
    assert not list(tmp_path.glob("*.partial*"))


def box(x: float, dx: float, factory: int, item_id: str, weight: float = 10.0) -> Step:
    place = dict(x=x, y=0.0, z=0.0, dx=dx, dy=1.0, dz=1.0, rotation=0, stackable=True)
    return Step(0, 0, item_id, "", None, **place, factory=factory, weight=weight)


def test_stages_split_where_the_factory_changes_or_a_new_wall_starts() -> None:
    ordered = [
        box(0, 60, 1, "A"),
        box(0, 60, 1, "A"),
        box(10, 40, 1, "B", 5),  # starts inside the first box's depth: the same wall
        box(60, 60, 1, "A"),  # in front of it: a new wall
        box(60, 60, 2, "C"),  # another factory
    ]
    stages = loading_stages(ordered)
    summary = [(s.first_step, s.last_step, s.factory, s.depth, s.kinds, s.weight) for s in stages]
    assert summary == [
        (1, 3, 1, (0, 60), (("A", 2, 20.0), ("B", 1, 5.0)), 25.0),
        (4, 4, 1, (60, 120), (("A", 1, 10.0),), 10.0),
        (5, 5, 2, (60, 120), (("C", 1, 10.0),), 10.0),
    ]
