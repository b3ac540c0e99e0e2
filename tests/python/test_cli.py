"""The stowra command line, driven through its entry function with a stand-in search."""

from __future__ import annotations

import json
import os
import sys
from pathlib import Path
from typing import Any

import pytest
from cli_plans import shelf_pack
from plan_checks import calls_made

from stowra import cli
from stowra.examples import example_json
from stowra.files import parse_json_shipment
from stowra.loading_list import loading_order
from stowra.reading import Step
from stowra.searches import unused_types_note

Capture = pytest.CaptureFixture[str]
BIN = dict(id="20GP", l=590, w=234, h=239, cost=1500, weight_limit=28000, available=True)


@pytest.fixture(autouse=True)
def _in_tmp(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.chdir(tmp_path)


def item_row(item_id: int, **values: Any) -> dict[str, Any]:
    return {**dict(id=item_id, l=100, w=80, h=50, weight=20, factory=1, stackable=True), **values}


def shipment(name: str, items: list[dict[str, Any]], bins: list[Any] | None = None) -> str:
    # One item per line, so line numbers in messages name the row.
    rows = ",\n".join(json.dumps(row) for row in items)
    Path(name).write_text(f'{{"itemTable": [\n{rows}\n], "binTable": {json.dumps(bins or [BIN])}}}')
    return name


def recorded(calls: list[Any]) -> Any:
    """The stand-in search, noting what the command hands it."""
    return lambda problem, **settings: calls.append((problem, settings)) or shelf_pack(problem)


@pytest.mark.parametrize(
    "fmt, files", [("json", ["shipment.json"]), ("csv", ["shipment.toml"]), ("csv", ["items.csv", "containers.csv"])]
)
def test_every_shipment_format_packs_the_example(fmt: str, files: list[str]) -> None:
    calls: list[Any] = []
    assert cli.main(["example", "--format", fmt, "."]) == 0
    argv = ["pack", *files, "-o", "plan.json", "-q", "--pop-size", "7", "--generations", "3"]
    assert cli.main([*argv, "--seed", "-5", "--threads", "1"], search_fn=recorded(calls)) == 0
    ((problem, settings),) = calls
    assert problem == parse_json_shipment(example_json(), "-").input
    given = dict(pop_size=7, generations=3, time_limit=None, threads=1, seed=-5, progress=None)
    assert settings == dict(search="optimize", effort=2, balance_limit=0.6, pickup_order=True, **given)
    # The plan file holds the result exactly as the search returned it.
    assert json.loads(Path("plan.json").read_text()) == json.loads(json.dumps(shelf_pack(problem)))


def test_loading_list_maps_expanded_items_back_to_ids_and_lines() -> None:
    items = [item_row(11, quantity=2), item_row(12, l=60, w=70, h=40), item_row(13, quantity=2)]
    argv = ["pack", shipment("s.json", items), "--instructions", "load.csv"]
    assert cli.main(argv, search_fn=shelf_pack) == 0
    # container, type, step, id, line, x, y, z, size along x, y, z, rotation, factory, note
    assert Path("load.csv").read_text().splitlines()[1:] == [
        "1,20GP,1,11,2,0,0,0,80,100,50,1,1,",
        "1,20GP,2,11,2,80,0,0,80,100,50,1,1,",
        "1,20GP,3,12,3,160,0,0,60,70,40,0,1,",
        "1,20GP,4,13,4,220,0,0,80,100,50,1,1,",
        "1,20GP,5,13,4,300,0,0,80,100,50,1,1,",
    ]


@pytest.mark.parametrize(
    "argv, expected",
    [
        ([], "choose a command"),
        (["pack", "s.json", "--pop-size", "many"], "expected a whole number"),
        (["pack", "s.json", "--seed", "4294967296"], "out of range"),
        (["example", "--format", "xml", "d"], "invalid choice: 'xml'"),
        (["example", "."], "shipment.json exists (use --force to overwrite)"),
        (["pack", "missing.json"], "missing.json: no such file"),
        (["pack", "shipment.json", "shipment.json"], "CSV shipments are two files"),
        (["pack", "bad.json"], "bad.json:2:9: Expecting value"),
        (["pack", "shipment.json", "--png", "nodir/p.png"], "directory 'nodir' does not exist"),
        (["pack", "shipment.json", "-o", "."], "--output: '.' is not a file name"),
        # The core's own messages (their table is the core's), with the file row the expanded item came from.
        (["pack", "shipment.json", "--effort", "21"], "effort must be between 0 and 20, got 21"),
        (["pack", "negative.json"], "item 2 (row 2): w must be positive, got -5 (negative.json line 3)"),
        (["pack", "nokey.json"], "item 2 (row 2): column weight is blank (nokey.json line 3)"),
        # A message about a whole table names the file the table came from.
        (["pack", "empty.json"], "error: itemTable is empty (empty.json)"),
        (["pack", "items.csv", "nobins.csv"], "error: No available bins in binTable (nobins.csv)"),
        (["pack", "items.csv", "noname.csv"], "container row 1: column id is blank (noname.csv line 2)"),
        (["batch", "nowhere", "-o", "out"], "nowhere: no such file or folder"),
        (["batch", "empty", "-o", "out"], "no shipment files found"),
        (["batch", "shipment.json", "b", "-o", "out"], "would all be written as shipment.plan.json"),
        (["batch", "b", "-o", "out", "--workers", "2", "--scheduler", "tcp://127.0.0.1:9"], "--workers"),
        (["batch", "b", "-o", "out", "--workers", "0"], "needs at least 1 worker"),
        (["serve", "--data", "d", "--workers", "0"], "error: workers must be at least 1"),
        (["serve", "--data", "d", "--max-time-limit", "0"], "error: max-time-limit must be above 0 seconds"),
        (["serve", "--data", "d", "--token", " "], "error: token must not be empty"),
        (["serve", "--data", "d", "--port", "70000"], "argument --port: 70000 is not a port (0 to 65535)"),
    ],
)
def test_user_errors_exit_2_with_one_line(capsys: Capture, argv: list[str], expected: str) -> None:
    shipment("shipment.json", [item_row(1)])
    shipment("negative.json", [item_row(1, quantity=3), item_row(2, w=-5)])
    shipment("nokey.json", [item_row(1), {"id": 2, "l": 1, "w": 1, "h": 1}])
    Path("bad.json").write_text('{"itemTable":\n  [1, 2,,]}')
    shipment("empty.json", [])
    Path("items.csv").write_text("id,l,w,h,weight,factory,stackable\n1,10,10,10,1,1,true\n")
    Path("nobins.csv").write_text("id,l,w,h,cost,weight_limit,available\n20GP,9,9,9,1,0,no\n")
    Path("noname.csv").write_text("l,w,h,cost,weight_limit,available\n9,9,9,1,0,yes\n")
    Path("empty").mkdir()
    Path("b").mkdir()
    (Path("b") / "shipment.toml").write_text("[[itemTable]]\n")
    assert cli.main(argv) == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert line.startswith("stowra") and expected in line
    assert not Path("out").exists() and not Path("d").exists()  # refused before writing anything


@pytest.mark.parametrize("flag, code, level", [("-q", 0, "warning"), ("--strict", 1, "error")])
def test_left_out_items_are_a_warning_or_with_strict_an_error(
    capsys: Capture, flag: str, code: int, level: str
) -> None:
    # The report's figures are the reading's (test_reading); here, what the command makes of them.
    bins = [{**BIN, "l": 250, "weight_limit": 100}, {**BIN, "id": "40GP"}, {**BIN, "id": "40HC"}]
    path = shipment("s.json", [item_row(1), item_row(2, weight=500, quantity=2), item_row(3, weight=101)], bins)
    assert cli.main(["pack", path, flag, "--search", "exact"], search_fn=shelf_pack) == code
    err = capsys.readouterr().err
    assert "first two available container types (20GP, 40GP); 40HC will not be used" in err
    room = "no room left within the weight limits of the containers the plan could afford, or the time limit"
    left = f"3 of 4 items left out: id 2 (x2) (s.json line 3): {room}; id 3 (s.json line 4): {room}"
    assert err.splitlines()[-1] == f"stowra: {level}: {left}"


@pytest.mark.parametrize(
    "names, search, unused",
    [
        (["20GP", "40GP", "40HC", "40HC", "45HC"], "exact", "(20GP, 40GP); 40HC, 45HC will"),
        # Rows count, not names: a second 20GP row is opened, the 40GP after it is not.
        (["20GP", "20GP", "40GP"], "exact", "(20GP, 20GP); 40GP will"),
        (["20GP", "40GP", "20GP"], "exact", None),  # its name is opened already
        (["20GP", "-40HC", "40GP"], "exact", None),  # not available: not a type at all
        (["20GP", "40GP", "40HC"], "optimize", None),  # optimize opens every type
    ],
)
def test_only_types_pack_never_opens_are_named_unused(names: list[str], search: str, unused: str | None) -> None:
    rows = [{**BIN, "id": name.lstrip("-"), "available": not name.startswith("-")} for name in names]
    note = unused_types_note({"itemTable": [], "binTable": rows}, search)
    assert (note and note[note.index("(") : note.index(" not be used")]) == unused


@pytest.mark.parametrize(
    "search, line", [("exact", "GA: stand-in"), ("optimize", "optimize: plan: cost 12.5 in 1 container\n")]
)
@pytest.mark.parametrize("options, shown", [([], ["out"]), (["-q"], []), (["-o", "-"], ["err"])])
def test_progress_lines_go_with_the_report(
    capfd: Capture, search: str, line: str, options: list[str], shown: list[str]
) -> None:
    # The exact search's own lines are moved at the descriptor; optimize's are printed here.
    argv = ["pack", shipment("s.json", [item_row(1)]), "--search", search, *options]
    assert cli.main(argv, search_fn=shelf_pack) == 0
    out, err = capfd.readouterr()
    assert [name for name, text in [("out", out), ("err", err)] if line in text] == shown
    if "-o" in options:  # stdout carries nothing but the plan; the report goes to stderr
        assert json.loads(out)["totalBins"] == 1 and "Plan for" in err
    else:
        assert "Plan for" in out
    os.write(1, b"after\n")  # descriptor 1 is back in place after the call
    assert capfd.readouterr().out == "after\n"


@pytest.mark.parametrize(
    "boxes, expected",  # x, y, z, size along x, y, z
    [
        # Placed top first: the box underneath still has to go in first.
        ([(0, 0, 5, 10, 10, 5), (0, 0, 0, 10, 10, 5)], [1, 0]),
        # Placed door side first: the deeper box goes in first.
        ([(10, 0, 0, 10, 10, 5), (0, 0, 0, 10, 10, 5)], [1, 0]),
        # A box resting across two lower ones comes after both, even the nearer one.
        ([(5, 0, 5, 10, 10, 5), (10, 0, 0, 10, 10, 5), (0, 0, 0, 10, 10, 5)], [2, 1, 0]),
    ],
)
def test_loading_order_respects_support_and_access(boxes: list[Any], expected: list[int]) -> None:
    placed = [Step(0, index, None, "", None, *box, 0, 1, 1.0, True) for index, box in enumerate(boxes)]
    assert [box.item_index for box in loading_order(placed)] == expected


def test_the_loading_order_of_twice_the_boxes_is_about_twice_the_work() -> None:
    # Walls of boxes three high across the container; going through every pair of boxes
    # made twice the boxes four times the work.
    def walls(count: int) -> list[Step]:
        spots = [(x, y, z) for x in range(count) for y in range(4) for z in range(3)]
        return [
            Step(0, i, None, "", None, 60.0 * x, 58.0 * y, 40.0 * z, 60, 58, 40, 0, 1, 1.0, True)
            for i, (x, y, z) in enumerate(spots)
        ]

    (few, first), (many, second) = (calls_made(lambda n=n: loading_order(walls(n)[::-1])) for n in (25, 50))
    for order in (first, second):  # wall by wall from the back, each bottom up
        assert [(box.x, box.z) for box in order] == sorted((box.x, box.z) for box in order)
    assert many < 2.5 * few, (few, many)


@pytest.mark.parametrize("option, library", [("--png", "matplotlib"), ("--html", "plotly")])
def test_a_missing_plot_extra_stops_before_the_search(
    monkeypatch: pytest.MonkeyPatch, capsys: Capture, option: str, library: str
) -> None:
    monkeypatch.setitem(sys.modules, library, None)
    calls: list[Any] = []
    argv = ["pack", shipment("s.json", [item_row(1)]), option, "out"]
    assert cli.main(argv, search_fn=recorded(calls)) == 2 and calls == []
    error = f"stowra: error: {option} needs {library}: pip install 'stowra[plot]'\n"
    assert capsys.readouterr().err == error
