"""The stowra command line, driven through its entry function with a stand-in search."""

from __future__ import annotations

import csv
import json
import os
import sys
from pathlib import Path
from typing import Any

import pytest
from cli_plans import shelf_pack

from stowra import cli
from stowra.examples import EXAMPLE_ITEMS
from stowra.loading_list import loading_order
from stowra.report import PlacedBox

BIN = {
    "id": "20GP",
    "l": 590,
    "w": 234,
    "h": 239,
    "cost": 1500,
    "weight_limit": 28000,
    "available": True,
}


class Recorder:
    """Records what the command hands to the search, then packs with the stand-in."""

    def __init__(self) -> None:
        self.calls: list[tuple[dict[str, Any], dict[str, Any]]] = []
        self.result: dict[str, Any] = {}

    def __call__(self, problem: dict[str, Any], **settings: Any) -> dict[str, Any]:
        self.calls.append((problem, settings))
        self.result = shelf_pack(problem, **settings)
        return self.result


def item_row(item_id: int, **values: Any) -> dict[str, Any]:
    row = {"id": item_id, "l": 100, "w": 80, "h": 50, "weight": 20, "factory": 1}
    return {**row, "stackable": True, **values}


def shipment(
    path: Path, items: list[dict[str, Any]], bins: list[dict[str, Any]] | None = None
) -> str:
    lines = ",\n".join("  " + json.dumps(row) for row in items)
    text = '{"itemTable": [\n' + lines + '\n], "binTable": ' + json.dumps(bins or [BIN]) + "}\n"
    path.write_text(text, encoding="utf-8")
    return str(path)


def test_json_and_csv_shipments_pack_the_same_problem(tmp_path: Path) -> None:
    record = Recorder()
    plans = []
    for file_format, files in (
        ("json", ["shipment.json"]),
        ("csv", ["shipment.toml"]),
        ("csv", ["items.csv", "containers.csv"]),
    ):
        directory = tmp_path / "-".join(files)
        assert cli.main(["example", "--format", file_format, str(directory)]) == 0
        plan = directory / "plan.json"
        argv = ["pack", *(str(directory / name) for name in files), "-o", str(plan), "-q"]
        argv += ["--pop-size", "7", "--generations", "3", "--seed", "-5", "--threads", "1"]
        assert cli.main(argv, pack_fn=record) == 0
        # The plan file holds the result exactly as the search returned it.
        assert json.loads(plan.read_text()) == json.loads(json.dumps(record.result))
        plans.append(plan.read_text())

    problems = [problem for problem, _ in record.calls]
    assert problems[0] == problems[1] == problems[2]
    assert len(problems[0]["itemTable"]) == sum(row["quantity"] for row in EXAMPLE_ITEMS)
    assert record.calls[0][1] == {
        "pop_size": 7,
        "generations": 3,
        "time_limit": 300.0,
        "threads": 1,
        "seed": -5,
    }
    assert plans[0] == plans[1] == plans[2]


def test_loading_list_maps_expanded_items_back_to_ids_and_lines(tmp_path: Path) -> None:
    path = shipment(
        tmp_path / "s.json",
        [item_row(11, quantity=3), item_row(12, w=60), item_row(13, quantity=2, l=90, w=70)],
    )
    listing = tmp_path / "load.csv"
    assert cli.main(["pack", path, "--instructions", str(listing)], pack_fn=shelf_pack) == 0

    with listing.open(newline="") as handle:
        rows = list(csv.DictReader(handle))
    assert [(row["item_id"], row["line"]) for row in rows] == [("11", "2")] * 3 + [("12", "3")] + [
        ("13", "4")
    ] * 2
    assert [row["step"] for row in rows] == ["1", "2", "3", "4", "5", "6"]
    assert {row["container_type"] for row in rows} == {"20GP"}
    assert [(row["size_x"], row["size_y"], row["size_z"]) for row in rows][3:5] == [
        ("100", "60", "50"),
        ("90", "70", "50"),
    ]


@pytest.mark.parametrize(
    ("argv", "expected"),
    [
        ([], "choose a command"),
        (["pack"], "the following arguments are required: SHIPMENT"),
        (["pack", "s.json", "--bogus"], "unrecognized arguments: --bogus"),
        (["pack", "s.json", "--pop-size", "many"], "expected a whole number"),
        (["pack", "s.json", "--seed", "4294967296"], "out of range"),
        (["pack", "s.json", "--time-limit", "soon"], "expected seconds"),
        (["example", "--format", "xml", "d"], "invalid choice: 'xml'"),
        (["pack", "missing.json"], "missing.json: no such file"),
        (["pack", "a.json", "b.json", "c.json"], "unrecognized arguments: c.json"),
        (["pack", "good.json", "good.json"], "CSV shipments are two files"),
        (["pack", "bad.json"], "bad.json:2:9: Expecting value"),
        (["pack", "good.json", "--png", "nodir/p.png"], "directory 'nodir' does not exist"),
        (["pack", "good.json", "-o", "."], "--output: '.' is not a file name"),
        (["pack", "good.json", "--pop-size", "0"], "pop_size must be at least 1, got 0"),
        (["pack", "negative.json"], "Item #3: w must be positive, got -5 (negative.json line 3)"),
        (
            ["pack", "nokey.json"],
            "Missing required key 'weight' in itemTable[1] (nokey.json line 3)",
        ),
        (
            ["pack", "huge.json"],
            "Item #9 (900x80x50) does not fit in any available bin type (huge.json line 2)",
        ),
        (["example", "."], "shipment.json exists (use --force to overwrite)"),
    ],
)
def test_user_errors_exit_2_with_one_line(
    tmp_path: Path,
    monkeypatch: pytest.MonkeyPatch,
    capsys: pytest.CaptureFixture[str],
    argv: list[str],
    expected: str,
) -> None:
    monkeypatch.chdir(tmp_path)
    shipment(tmp_path / "good.json", [item_row(1)])
    shipment(tmp_path / "negative.json", [item_row(1, quantity=3), item_row(2, w=-5)])
    weightless = item_row(2)
    del weightless["weight"]
    shipment(tmp_path / "nokey.json", [item_row(1), weightless])
    shipment(tmp_path / "huge.json", [item_row(9, l=900)])
    (tmp_path / "bad.json").write_text('{"itemTable":\n  [1, 2,,]}')
    (tmp_path / "shipment.json").write_text("{}")

    status = cli.main(argv)
    captured = capsys.readouterr()
    assert status == 2
    lines = captured.err.splitlines()
    assert len(lines) == 1, captured.err
    assert lines[0].startswith("stowra")
    assert expected in lines[0]


@pytest.mark.parametrize("strict", [False, True])
def test_left_out_items_warn_and_strict_fails(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], strict: bool
) -> None:
    heavy = {**BIN, "weight_limit": 100}
    path = shipment(
        tmp_path / "s.json",
        [item_row(1), item_row(2, weight=500, quantity=2), item_row(3), item_row(4, weight=101)],
        [heavy],
    )
    status = cli.main(["pack", path, *(["--strict"] if strict else [])], pack_fn=shelf_pack)
    captured = capsys.readouterr()

    assert status == (1 if strict else 0)
    message = f"3 of 5 items left out: id 2 (x2) ({path} line 3), id 4 ({path} line 5)"
    assert captured.err.splitlines()[-1] == (
        f"stowra: {'error' if strict else 'warning'}: {message}"
    )
    assert "2 of 5 items placed" in captured.out


def native_line_fd(capfd: pytest.CaptureFixture[str], argv: list[str]) -> tuple[int, str, str]:
    status = cli.main(argv, pack_fn=shelf_pack)
    captured = capfd.readouterr()
    return status, captured.out, captured.err


@pytest.mark.parametrize(
    ("options", "line_on_stdout", "line_on_stderr"),
    [([], True, False), (["--quiet"], False, False), (["-o", "-"], False, True)],
)
def test_native_progress_lines_are_moved_at_the_descriptor(
    tmp_path: Path,
    capfd: pytest.CaptureFixture[str],
    options: list[str],
    line_on_stdout: bool,
    line_on_stderr: bool,
) -> None:
    path = shipment(tmp_path / "s.json", [item_row(1), item_row(2)])
    status, out, err = native_line_fd(capfd, ["pack", path, *options])
    assert status == 0
    assert ("GA: stand-in search" in out) is line_on_stdout
    assert ("GA: stand-in search" in err) is line_on_stderr
    if "-o" in options:
        # stdout carries nothing but the plan; the report went to stderr.
        assert json.loads(out)["totalBins"] == 1
        assert "Plan for" in err
    else:
        assert "Plan for" in out
    # Descriptor 1 is back in place after the call.
    os.write(1, b"after\n")
    assert capfd.readouterr().out == "after\n"


def test_report_lists_every_container_and_the_totals(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    bins = [
        {**BIN, "l": 300},
        {**BIN, "id": "40GP", "l": 1203, "cost": 2400},
        {**BIN, "id": "40HC"},
    ]
    path = shipment(tmp_path / "s.json", [item_row(n, weight=10 * n) for n in range(1, 8)], bins)
    assert cli.main(["pack", path, "-q"], pack_fn=shelf_pack) == 0
    captured = capsys.readouterr()

    lines = captured.out.splitlines()
    assert lines[0] == f"Plan for {path}"
    assert lines[1].split()[:4] == ["#", "type", "items", "fill"]
    # The stand-in puts 3 items of 100 cm into each 300 cm container.
    assert [line.split()[:5] for line in lines[2:5]] == [
        ["1", "20GP", "3", "7.2%", "60"],
        ["2", "20GP", "3", "7.2%", "150"],
        ["3", "20GP", "1", "2.4%", "70"],
    ]
    assert lines[2].split()[5:7] == ["/", "28,000"]
    assert lines[5].startswith("Total: 3 containers (3 x 20GP), cost 4,500, utilization ")
    assert "7 of 7 items placed" in lines[5]
    assert "first two available container types (20GP, 40GP); 40HC will not be used" in (
        captured.err
    )


def box(x: float, y: float, z: float, size: tuple[float, float, float], index: int) -> PlacedBox:
    return PlacedBox(index, x, y, z, *size, rotation=0, item={"id": index})


@pytest.mark.parametrize(
    ("boxes", "expected"),
    [
        # Placed top first: the box underneath still has to go in first.
        ([box(0, 0, 50, (100, 100, 50), 0), box(0, 0, 0, (100, 100, 50), 1)], [1, 0]),
        # Placed door side first: the deeper box goes in first.
        ([box(100, 0, 0, (100, 100, 50), 0), box(0, 0, 0, (100, 100, 50), 1)], [1, 0]),
        # A box resting across two lower ones comes after both, even the nearer one.
        (
            [
                box(50, 0, 50, (100, 100, 50), 0),
                box(100, 0, 0, (100, 100, 50), 1),
                box(0, 0, 0, (100, 100, 50), 2),
                box(0, 100, 0, (100, 100, 100), 3),
            ],
            [2, 3, 1, 0],
        ),
    ],
)
def test_loading_order_respects_support_and_access(
    boxes: list[PlacedBox], expected: list[int]
) -> None:
    assert [placed.index for placed in loading_order(boxes)] == expected


@pytest.mark.parametrize(
    "argv", [["--help"], ["pack", "--help"], ["demo", "--help"], ["example", "--help"]]
)
def test_help_everywhere(capsys: pytest.CaptureFixture[str], argv: list[str]) -> None:
    assert cli.main(argv) == 0
    out = capsys.readouterr().out
    assert out.startswith("usage: stowra")
    if argv[0] == "demo":
        assert "--generations 200" in " ".join(out.split())


def test_version(capsys: pytest.CaptureFixture[str]) -> None:
    assert cli.main(["--version"]) == 0
    assert capsys.readouterr().out.strip() == "stowra 0.1.0"


@pytest.mark.parametrize(("option", "library"), [("--png", "matplotlib"), ("--html", "plotly")])
def test_a_missing_plot_extra_stops_before_the_search(
    tmp_path: Path,
    monkeypatch: pytest.MonkeyPatch,
    capsys: pytest.CaptureFixture[str],
    option: str,
    library: str,
) -> None:
    monkeypatch.setitem(sys.modules, library, None)
    record = Recorder()
    path = shipment(tmp_path / "s.json", [item_row(1)])
    assert cli.main(["pack", path, option, str(tmp_path / "out")], pack_fn=record) == 2
    assert record.calls == []
    assert capsys.readouterr().err == (
        f"stowra: error: {option} needs {library}: pip install 'stowra[plot]'\n"
    )
