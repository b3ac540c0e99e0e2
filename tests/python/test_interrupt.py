"""Ctrl-C on the command line: a real SIGINT to a real ``stowra`` process ends it with status
130 and one line, and every output file is either whole or not there (an old one untouched)."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from cli_plans import shelf_pack
from plan_checks import check_plan
from service_helpers import read_line

from stowra import atomic_write, cli
from stowra.examples import example_json
from stowra.files import parse_json_shipment

OUTPUTS = ["-o", "plan.json", "--png", "plan.png", "--html", "plan.html", "--instructions", "load.csv"]
NAMES = OUTPUTS[1::2]
OLD = {"plan.json": b"old plan\n", "plan.png": b"old picture", "stowra-demo-plan.json": b"old demo plan\n"}
# Long enough that a search is certainly still running when the signal comes: optimize at its
# greatest effort (it stops only after 200 rounds without a better plan), the exact search
# with endless generations.
LONG_SEARCH = ["--effort", "20", "--pop-size", "200", "--generations", "100000", "--threads", "1"]
SHORT_SEARCH = ["--pop-size", "4", "--generations", "2", "--effort", "0", "--threads", "1"]


def start(folder: Path, *argv: str) -> subprocess.Popen[str]:
    """Starts the command in ``folder`` beside the example shipment (also on its stdin) and
    old copies of some output files."""
    (folder / "shipment.json").write_text(example_json())
    for name, data in OLD.items():
        (folder / name).write_bytes(data)
    command = [sys.executable, "-m", "stowra", *argv]
    environment = {**os.environ, "PYTHONUNBUFFERED": "1"}  # report lines arrive as printed
    with (folder / "shipment.json").open() as shipment:
        pipes = {"stdin": shipment, "stdout": subprocess.PIPE, "stderr": subprocess.PIPE}
        return subprocess.Popen(command, cwd=folder, env=environment, text=True, **pipes)


def interrupt_after(process: subprocess.Popen[str], marker: str, delay: float) -> tuple[int, str, str]:
    """Sends SIGINT ``delay`` seconds after a line starting with ``marker`` on stdout, or on
    stderr when stdout carries the plan ("-o -"); returns the status and the rest of the output."""
    try:
        stream = process.stderr if "-" in process.args else process.stdout  # type: ignore[operator]
        while not (line := read_line(stream, 300)).startswith(marker):
            assert line, f"no line starting {marker!r}"
        time.sleep(delay)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=120)
        return process.returncode, out, err
    finally:
        if process.poll() is None:
            process.kill()
            process.communicate(timeout=60)


def whole(folder: Path, name: str) -> bool:
    """Whether the output file is complete (or is still the old file)."""
    data = (folder / name).read_bytes()
    if data == OLD.get(name):
        return True
    if name.endswith(".json"):
        return bool(check_plan(parse_json_shipment(example_json(), "-").input, json.loads(data)))
    if name.endswith(".png"):
        return data.startswith(b"\x89PNG") and data.endswith(b"IEND\xaeB`\x82")
    if name.endswith(".html"):
        return data.rstrip().endswith(b"</html>")
    return data.endswith(b"\n") and data.count(b"\n") > 100  # the loading list, one row per item


@pytest.mark.parametrize(
    "argv, marker",
    [
        (["pack", "shipment.json", *OUTPUTS, *LONG_SEARCH], "optimize: "),
        (["demo", "--html", "plan.html", *LONG_SEARCH], "optimize: "),
        # The plan on stdout, progress on stderr; the exact search's signal checks.
        (["pack", "-", "-o", "-", "--search", "exact", *LONG_SEARCH], "GA: "),
    ],
    ids=["pack", "demo", "stdout-exact"],
)
def test_ctrl_c_during_the_search(tmp_path: Path, argv: list[str], marker: str) -> None:
    process = start(tmp_path, *argv)
    status, out, err = interrupt_after(process, marker, 0.5)
    assert (status, err.splitlines()[-1]) == (130, "stowra: interrupted")
    if "-" in argv:
        assert out == ""  # not the start of a plan
    else:
        assert err == "stowra: interrupted\n"
    # Nothing new was written, and the old files are untouched.
    assert sorted(path.name for path in tmp_path.iterdir()) == sorted(["shipment.json", *OLD])
    assert all((tmp_path / name).read_bytes() == data for name, data in OLD.items())


@pytest.mark.parametrize(
    ("marker", "delay"),
    # The last: the files are done and the interpreter is shutting down, its handler gone.
    [("Plan written", 0.0), ("Plan written", 0.3), ("Plan written", 1.0), ("Loading list", 0.0)],
)
def test_ctrl_c_while_the_files_are_written(tmp_path: Path, marker: str, delay: float) -> None:
    process = start(tmp_path, "pack", "shipment.json", *OUTPUTS, *SHORT_SEARCH)
    status, _, err = interrupt_after(process, marker, delay)
    # The signal may come after the last file is done; either way no file is cut short.
    assert (status, err) in [(130, "stowra: interrupted\n"), (0, "")], err
    names = {path.name for path in tmp_path.iterdir()}
    assert not [name for name in names if name.startswith(".")], names  # no temporary left over
    assert all(whole(tmp_path, name) for name in names - {"shipment.json"})
    assert (tmp_path / "plan.json").read_bytes() != OLD["plan.json"]  # written before the signal
    if status == 0:
        assert {"plan.png", "plan.html", "load.csv"} <= names


@pytest.mark.parametrize("name", NAMES)
def test_a_file_interrupted_before_its_rename_leaves_the_old_one(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str], name: str
) -> None:
    """The signal lands when one file is written but not yet in place. A writer that wrote
    straight to its file would have replaced the old one by then."""
    rename = os.replace

    def interrupted(source: str | Path, target: str | Path) -> None:
        if Path(target).name == name:
            raise KeyboardInterrupt
        rename(source, target)

    monkeypatch.setattr(atomic_write.os, "replace", interrupted)
    monkeypatch.chdir(tmp_path)
    (tmp_path / "shipment.json").write_text(example_json())
    for output in NAMES:
        (tmp_path / output).write_bytes(b"old " + output.encode())
    # The plan, and the file whose rename fails: drawing the others would add nothing.
    outputs = ["-o", "plan.json"] + ([] if name == "plan.json" else OUTPUTS[OUTPUTS.index(name) - 1 :][:2])
    assert cli.main(["pack", "shipment.json", *outputs], search_fn=shelf_pack) == 130
    assert capsys.readouterr().err == "stowra: interrupted\n"
    assert (tmp_path / name).read_bytes() == b"old " + name.encode()
    assert not [path.name for path in tmp_path.iterdir() if path.name.startswith(".")]


@pytest.mark.parametrize("ctrl_c", [True, False])
def test_an_error_a_library_makes_of_the_interrupt_is_still_the_interrupt(
    monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str], ctrl_c: bool
) -> None:
    """A drawing call cut short by the signal may fail with an error of its own; without a
    Ctrl-C the same error is a fault and must not be hidden as one."""

    def main() -> int:
        try:
            if ctrl_c:
                os.kill(os.getpid(), signal.SIGINT)  # the handler runs as kill returns
        except KeyboardInterrupt:
            pass
        raise TypeError("only length-1 arrays can be converted")

    monkeypatch.setattr(cli, "main", main)
    monkeypatch.setattr(sys, "unraisablehook", sys.unraisablehook)
    previous = signal.getsignal(signal.SIGINT)
    try:
        with pytest.raises(SystemExit if ctrl_c else TypeError) as done:
            cli.run()
    finally:
        signal.signal(signal.SIGINT, previous)
    if ctrl_c:
        assert (done.value.code, capsys.readouterr().err) == (130, "stowra: interrupted\n")
