"""Many shipments at once: pack_many and `stowra batch` on real Dask clusters (a LocalCluster
the batch starts, or one running before it), with tiny searches so the batches take seconds."""

from __future__ import annotations

import contextlib
import csv
import json
import os
import signal
import socket
import subprocess
import sys
import threading
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest
from problems import container, item, mixed_load, problem
from pypdf import PdfReader
from service_helpers import poll, stalling

from stowra import cli
from stowra.atomic_write import TEMPORARY_MARK
from stowra.batch import gather, pack_many
from stowra.examples import write_example
from stowra.searches import SEARCHES, run_search

# Each search reads its own options and ignores the other's.
TINY = {"pop_size": 6, "generations": 3, "effort": 1, "threads": 1}
TINY_ARGS = ["--pop-size", "6", "--generations", "3", "--effort", "1"]
BIN_DIR = Path(sys.executable).parent


def write_loads(folder: Path, names: list[str], size: int = 12) -> list[Path]:
    folder.mkdir(parents=True, exist_ok=True)
    for seed, name in enumerate(names):
        (folder / f"{name}.json").write_text(json.dumps(mixed_load(size, seed=seed)))
    return [folder / f"{name}.json" for name in names]


def comparable(plan: dict[str, Any]) -> dict[str, Any]:
    """A plan as JSON gives it back, without what differs between two runs of one search."""
    plan = json.loads(json.dumps(plan))
    plan.pop("elapsedSeconds")
    plan.pop("batch", None)
    return plan


def summary(outdir: Path) -> dict[str, dict[str, str]]:
    with open(outdir / "summary.csv", newline="", encoding="utf-8") as handle:
        return {Path(row["shipment"]).name: row for row in csv.DictReader(handle)}


def leftovers(folder: Path) -> list[str]:
    return [path.name for path in folder.iterdir() if TEMPORARY_MARK in path.name]


def stowra_command(*argv: str, **options: Any) -> subprocess.Popen[str]:
    command = [str(BIN_DIR / "stowra"), *argv]
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **options)


def wait_for(path: Path) -> Path:
    return poll(lambda: path, Path.exists, 120.0)


# --- the command on a local cluster -------------------------------------------------------


@pytest.mark.parametrize("search", SEARCHES)
def test_batch_writes_a_plan_per_shipment_equal_to_pack_and_a_summary(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, capfd: pytest.CaptureFixture[str], search: str
) -> None:
    monkeypatch.chdir(tmp_path)
    orders = Path("orders")
    write_loads(orders, ["north", "south"])
    write_example(orders / "csv", "csv")  # a TOML file naming two CSV files
    (orders / "broken.json").write_text('{"itemTable": [\n{"id": 1,\n')
    (orders / "toobig.json").write_text(json.dumps(problem(items=[item(0), item(1, l=1300.0)])))
    # Each fails alone, or is drawn: its picture's place taken, its file gone, a formula for a name.
    (orders / "blocked.json").write_text(json.dumps(mixed_load(4, seed=5)))
    (Path("out") / "blocked.png").mkdir(parents=True)
    (orders / "gone.json").symlink_to(tmp_path / "nowhere.json")
    (orders / "formula.json").write_text(json.dumps(problem(items=[item(0)], bins=[container(id="$x^{2$")])))
    (orders / "north.plan.json").write_text("{}")  # plan files and hidden files are not orders
    (orders / ".draft.json").write_text("{}")
    extra = write_loads(Path("extra"), ["east"])[0]

    argv = ["batch", "orders", "orders/csv", str(extra), "-o", "out", "--workers", "2"]
    outputs = ["--png", "--instructions", "--pdf", "--paper", "letter"]
    status = cli.main([*argv, "--search", search, *TINY_ARGS, *outputs])
    output = capfd.readouterr()
    assert status == 1, output.err
    assert "GA: " not in output.out + output.err  # silenced inside the workers
    assert "9 shipments: 5 ok, 4 failed" in output.out
    assert "broken.json: failed: orders/broken.json:3:1: " in output.err
    assert "9/9 [" in output.err and "ok 5, failed 4, skipped 0, left 0]" in output.err  # the bar

    rows = summary(Path("out"))
    columns = "shipment,status,containers_by_type,cost,utilization,items_placed,items_left_out,search_seconds,error"
    columns += ",left_out_reasons"
    assert all(list(row) == columns.split(",") for row in rows.values())
    ok = ["north.json", "south.json", "shipment.toml", "east.json", "formula.json"]
    failed = ["broken.json", "toobig.json", "blocked.json", "gone.json"]
    statuses = {name: row["status"] for name, row in rows.items()}
    assert statuses == dict.fromkeys(ok, "ok") | dict.fromkeys(failed, "failed")
    assert "does not fit" in rows["toobig.json"]["error"] and "toobig.json line" in rows["toobig.json"]["error"]
    assert rows["blocked.json"]["error"].startswith("cannot write out/blocked.png: ")
    assert rows["gone.json"]["error"] == "orders/gone.json: no such file"
    assert not (Path("out") / "blocked.plan.json").exists()
    for name in ("north", "south", "shipment", "east"):
        row = rows[next(key for key in rows if key.startswith(name))]
        source = Path(row["shipment"])
        reference_argv = ["pack", str(source), "-o", f"{name}.ref.json", "-q", "--search", search]
        assert cli.main([*reference_argv, "--threads", "1", *TINY_ARGS]) == 0
        reference = json.loads(Path(f"{name}.ref.json").read_text())
        plan = json.loads((Path("out") / f"{name}.plan.json").read_text())
        assert comparable(plan) == comparable(reference)
        # The summary row's figures are the reading's (test_reading).
        assert plan["batch"]["shipment"] == str(source) and row["error"] == ""
        placed = sum(container["itemCount"] for container in reference["packingTable"])
        assert len((Path("out") / f"{name}.loading.csv").read_text().splitlines()) == placed + 1  # and a header
        assert (Path("out") / f"{name}.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        sheet = PdfReader(Path("out") / f"{name}.sheet.pdf")
        assert len(sheet.pages) >= 1 + len(plan["packingTable"])
        assert [float(side) for side in sheet.pages[0].mediabox[2:]] == [612, 792]  # Letter
    assert not leftovers(Path("out"))


# --- pack_many and dying workers ----------------------------------------------------------


@pytest.fixture(scope="module")
def scheduler() -> Iterator[str]:
    """The address of a cluster running before, and apart from, the batches given it."""
    from distributed import LocalCluster

    # Any free port for the scheduler's HTTP server, as the batch's own cluster takes: a fixed
    # one may be another run's on a shared machine.
    with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address="127.0.0.1:0") as cluster:
        yield cluster.scheduler_address


def test_pack_many_on_a_running_cluster_yields_every_outcome_and_gather_restores_input_order(
    tmp_path: Path, scheduler: str
) -> None:
    path = write_loads(tmp_path, ["filed"])[0]
    shipments: list[Any] = [mixed_load(10, seed=7), str(path), problem(items=[item(0, h=-1.0)]), 5]
    outcomes = list(pack_many(shipments, scheduler=scheduler, **TINY))
    assert sorted(outcome.position for outcome in outcomes) == [0, 1, 2, 3]
    ordered = gather(outcomes)
    names = ["shipments[0]", str(path), "shipments[2]", "shipments[3]"]
    assert [(o.name, o.ok) for o in ordered] == list(zip(names, [True, True, False, False], strict=True))
    for outcome, given in zip(ordered[:2], [shipments[0], json.loads(path.read_text())], strict=True):
        assert comparable(outcome.result) == comparable(run_search(given, **TINY))
    assert ordered[2].error == "item 100 (row 1): h must be positive, got -1"
    assert ordered[3].error == "expected a dict or a file, got int"


# The local cluster tries a shipment again twice at most after its worker died under it.
@pytest.mark.parametrize("kills, ends_ok", [(1, True), (3, False)], ids=["retried", "given-up"])
def test_a_worker_killed_mid_shipment_is_retried_then_given_up(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, kills: int, ends_ok: bool
) -> None:
    paths = write_loads(tmp_path, ["first", "slow", "last"])
    stalls = tmp_path / "stalls"
    stalls.mkdir()
    for name, value in stalling("slow", stalls, tries=kills).items():
        monkeypatch.setenv(name, value)

    def kill() -> None:  # the worker process of each stalled try, as it shows up
        for attempt in range(1, kills + 1):
            os.kill(int(wait_for(stalls / f"try-{attempt}.pid").read_text()), signal.SIGKILL)

    killer = threading.Thread(target=kill, daemon=True)
    killer.start()
    outcomes = gather(pack_many(paths, workers=2, **TINY))
    killer.join(timeout=5)
    assert sorted(path.name for path in stalls.iterdir()) == [f"try-{n}.pid" for n in range(1, kills + 1)]
    assert [outcome.ok for outcome in outcomes] == [True, ends_ok, True]
    if ends_ok:
        expected = run_search(json.loads(paths[1].read_text()), **TINY)
        assert comparable(outcomes[1].result) == comparable(expected)
    else:
        assert "died on every try" in (outcomes[1].error or "")


# --- resuming after Ctrl-C ---------------------------------------------------------------


@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGKILL], ids=["ctrl-c", "killed"])
def test_resume_after_a_stopped_batch_packs_only_what_is_missing_or_changed(
    tmp_path: Path, stop: signal.Signals
) -> None:
    orders, out, stalls = tmp_path / "orders", tmp_path / "out", tmp_path / "stalls"
    paths = write_loads(orders, ["s0", "s1", "s2", "s3"])
    stalls.mkdir()
    env = {**os.environ, **stalling("s2", stalls)}
    argv = ["batch", str(orders), "-o", str(out), "--workers", "2", *TINY_ARGS]
    # A session of its own: Ctrl-C in a terminal, like a kill of the session, reaches every
    # process of the group, the cluster's workers included.
    running = stowra_command(*argv, env=env, start_new_session=True)
    finished = [wait_for(out / f"{name}.plan.json") for name in ("s0", "s1", "s3")]
    wait_for(stalls / "try-1.pid")
    os.killpg(running.pid, stop)
    _, err = running.communicate(timeout=60)
    if stop == signal.SIGINT:
        assert running.returncode == 130, err
        assert err.rstrip().splitlines()[-1] == "stowra: interrupted" and "Traceback" not in err
    assert sorted(path.name for path in out.iterdir()) == ["s0.plan.json", "s1.plan.json", "s3.plan.json"]
    before = {path.name: (path.stat().st_mtime_ns, path.read_bytes()) for path in finished}

    def resume() -> dict[str, str]:
        rerun = stowra_command(*argv, "--resume", "--quiet")
        _, err = rerun.communicate(timeout=120)
        assert rerun.returncode == 0, err
        assert not leftovers(out)
        return {name: row["status"] for name, row in summary(out).items()}

    assert resume() == {"s0.json": "skipped", "s1.json": "skipped", "s2.json": "ok", "s3.json": "skipped"}
    assert {path.name: (path.stat().st_mtime_ns, path.read_bytes()) for path in finished} == before
    if stop == signal.SIGKILL:
        return  # what follows depends on the plans only, not on how the batch stopped
    paths[0].write_text(json.dumps(mixed_load(13, seed=0)))  # a changed order is packed again
    assert resume() == {"s0.json": "ok", "s1.json": "skipped", "s2.json": "skipped", "s3.json": "skipped"}


# --- an existing cluster -----------------------------------------------------------------


def test_batch_on_a_running_scheduler_resumes_a_plan_only_with_every_search_option_unchanged(
    tmp_path: Path, scheduler: str
) -> None:
    write_loads(tmp_path / "orders", ["a"], size=6)
    argv = ["batch", str(tmp_path / "orders"), "-o", str(tmp_path / "out"), "--scheduler", scheduler, "--resume"]

    def status(*extra: str) -> str:
        assert cli.main([*argv, "-q", *TINY_ARGS, *extra]) == 0
        return summary(tmp_path / "out")["a.json"]["status"]

    # Each run changes one option more than the run before it.
    options: list[str] = []
    runs = [status(), status()]
    changes = ["--seed", "7"], ["--effort", "2"], ["--pop-size", "7"], ["--generations", "4"], ["--time-limit", "50"]
    for change in (*changes, ["--search", "exact"]):
        options += change
        runs.append(status(*options))
    runs.append(status(*options))
    assert runs == ["ok", "skipped", *["ok"] * 6, "skipped"]


skip_under_sanitizer = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="a failed huge allocation is a finding"
)


@contextlib.contextmanager
def not_a_scheduler(kind: str) -> Iterator[str]:
    """An address where no Dask scheduler answers: a closed port, a server that accepts and
    never replies, or one that greets in another protocol (as a mail server does)."""
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))  # bound but not listening, a port refuses connections
        if kind != "closed":
            server.listen()  # connections complete in the backlog; the silent one never reads them
        if kind == "greeting":

            def greet() -> None:
                connection, _ = server.accept()
                with connection:
                    connection.sendall(b"220 mail.test ESMTP ready\r\n")
                    connection.recv(1)  # until the client hangs up

            threading.Thread(target=greet, daemon=True).start()
        yield f"tcp://127.0.0.1:{server.getsockname()[1]}"


@pytest.mark.parametrize(
    "kind, message",
    [
        ("closed", "no Dask scheduler answers at"),
        ("silent", "no Dask scheduler answers at"),
        # Dask's client sizes a buffer from the greeting's first bytes and fails to allocate
        # it: a MemoryError, handled, in a plain build; a finding under the sanitizer.
        pytest.param("greeting", "is not a Dask scheduler", marks=skip_under_sanitizer),
    ],
)
def test_a_scheduler_that_does_not_answer_is_status_2_within_seconds(tmp_path: Path, kind: str, message: str) -> None:
    write_loads(tmp_path / "orders", ["p"])
    with not_a_scheduler(kind) as address:
        # Dask's own connect timeout raised far past the wait below: only the command's own
        # bound can end the attempt, and a command without one fails the test by hanging.
        patient = {**os.environ, "DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT": "600s"}
        batch = stowra_command(
            "batch", str(tmp_path / "orders"), "-o", str(tmp_path / "out"), "--scheduler", address, env=patient
        )
        stdout, err = batch.communicate(timeout=120)
    assert batch.returncode == 2 and stdout == ""
    assert err.startswith("stowra: error: ") and message in err and address in err
    assert err.count("\n") == 1
