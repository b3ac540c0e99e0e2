"""The command as a separate process, with the real search (kept tiny so the tests stay fast)."""

from __future__ import annotations

import csv
import json
import subprocess
import sys
from pathlib import Path

import pytest

TINY = ["--pop-size", "4", "--generations", "2", "--threads", "1"]


def stowra(*argv: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "stowra", *argv],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )


def test_version_as_a_module(tmp_path: Path) -> None:
    done = stowra("--version", cwd=tmp_path)
    assert (done.returncode, done.stdout.strip()) == (0, "stowra 0.1.0")


@pytest.mark.parametrize("file_format", ["json", "csv"])
def test_example_files_pack_into_every_output(tmp_path: Path, file_format: str) -> None:
    assert stowra("example", "--format", file_format, "ship", cwd=tmp_path).returncode == 0
    source = "ship/shipment.json" if file_format == "json" else "ship/shipment.toml"
    outputs = ["-o", "plan.json", "--png", "plan.png", "--html", "plan.html"]
    done = stowra("pack", source, *TINY, *outputs, "--instructions", "load.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert "GA: " in done.stdout  # the native progress lines pass through by default

    plan = json.loads((tmp_path / "plan.json").read_text())
    placed = [p["itemIndex"] for row in plan["packingTable"] for p in row["items"]]
    assert len(placed) == len(set(placed)) > 0
    with (tmp_path / "load.csv").open(newline="") as handle:
        rows = list(csv.DictReader(handle))
    assert len(rows) == len(placed)
    assert {row["container_type"] for row in rows} <= {"20GP", "40GP"}
    report = done.stdout[done.stdout.index("Plan for") :]
    assert f"Total: {plan['totalBins']} container" in report
    assert (tmp_path / "plan.png").read_bytes()[:4] == b"\x89PNG"
    assert (tmp_path / "plan.html").stat().st_size > 1_000_000


def test_quiet_and_json_on_stdout_keep_native_lines_off_stdout(tmp_path: Path) -> None:
    assert stowra("example", "ship", cwd=tmp_path).returncode == 0
    quiet = stowra("pack", "ship/shipment.json", *TINY, "--quiet", cwd=tmp_path)
    assert quiet.returncode == 0, quiet.stderr
    assert "GA: " not in quiet.stdout + quiet.stderr
    assert "Plan for ship/shipment.json" in quiet.stdout

    piped = stowra("pack", "ship/shipment.json", *TINY, "-o", "-", cwd=tmp_path)
    assert piped.returncode == 0, piped.stderr
    assert json.loads(piped.stdout)["totalBins"] >= 1
    assert "GA: " in piped.stderr


@pytest.mark.parametrize(("strict", "status"), [([], 0), (["--strict"], 1)])
def test_an_item_over_every_weight_limit_is_left_out(
    tmp_path: Path, strict: list[str], status: int
) -> None:
    (tmp_path / "items.csv").write_text(
        "id,l,w,h,weight,factory,stackable,quantity\n"
        "1,60,40,40,20,1,true,4\n"
        "2,100,100,100,30000,2,false,1\n"
    )
    (tmp_path / "containers.csv").write_text(
        "id,l,w,h,cost,weight_limit,available\n20GP,590,234,239,1500,28000,true\n"
    )
    done = stowra("pack", "items.csv", "containers.csv", *TINY, "-q", *strict, cwd=tmp_path)
    assert done.returncode == status, done.stderr
    assert done.stderr.strip().endswith("1 of 5 items left out: id 2 (items.csv line 3)")


def test_demo_writes_its_plan_and_picture(tmp_path: Path) -> None:
    done = stowra("demo", *TINY, "-q", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert "Picture written to stowra-demo.png" in done.stdout
    plan = json.loads((tmp_path / "stowra-demo-plan.json").read_text())
    assert {row["binType"] for row in plan["packingTable"]} <= {"20GP", "40GP"}
    assert (tmp_path / "stowra-demo.png").read_bytes()[:4] == b"\x89PNG"
