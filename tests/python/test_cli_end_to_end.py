"""The command as a separate process, with the real search kept tiny so the tests stay fast."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Any

import pytest
from plan_checks import check_plan

from stowra.examples import example_json
from stowra.files import parse_json_shipment

# Either search at its least: what these tests check does not depend on the plan found.
TINY = ["--pop-size", "4", "--generations", "2", "--effort", "0", "--threads", "1"]


def stowra(cwd: Path, *argv: str, stdin: str = "", **streams: Any) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, "-m", "stowra", *argv, *TINY]
    pipes = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, **streams}
    return subprocess.run(command, cwd=cwd, input=stdin, text=True, timeout=120, **pipes)


def test_demo_writes_a_sound_plan_its_pictures_and_loading_list(tmp_path: Path) -> None:
    done = stowra(tmp_path, "demo", "--html", "demo.html", "--instructions", "load.csv")
    assert done.returncode == 0, done.stderr
    assert "optimize: plan: cost " in done.stdout  # progress is shown by default
    plan = json.loads((tmp_path / "stowra-demo-plan.json").read_text())
    placed = check_plan(parse_json_shipment(example_json(), "demo").input, plan)
    assert len((tmp_path / "load.csv").read_text().splitlines()) == len(placed) + 1 > 1  # a header, a row per item
    assert (tmp_path / "stowra-demo.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    page = (tmp_path / "demo.html").read_text(encoding="utf-8")
    # Works offline: the plotting script is inside the page, nothing is fetched.
    assert "<script src=" not in page and len(page) > 1_000_000


@pytest.mark.parametrize("option", [[], ["--quiet"], ["-o", "-"]], ids=["report", "quiet", "plan"])
def test_a_closed_standard_output_ends_with_one_line(tmp_path: Path, option: list[str]) -> None:
    # Nothing reads standard output, as when a reader stops early (`stowra pack ... | head`).
    reading, writing = os.pipe()
    os.close(reading)
    with open(writing, "wb") as closed:
        done = stowra(tmp_path, "pack", "-", *option, stdin=example_json(), stdout=closed)
    assert (done.returncode, done.stderr.splitlines()[-1]) == (2, "stowra: error: Broken pipe")
