"""The service under faults: a worker killed mid-search, a burst of plans, the real server."""

from __future__ import annotations

import contextlib
import json
import os
import signal
import socket
import sqlite3
import subprocess
import sys
import time
import urllib.request
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any

import pytest
from service_helpers import (
    ENDLESS,
    QUICK,
    example,
    fill,
    read_line,
    running_service,
    searching,
    small_disk,
    submit,
    wait_for,
)

from stowra import cli

KILLED = "the search stopped unexpectedly: its worker process was ended by signal SIGKILL"


@pytest.mark.parametrize("how, ended", [("cancel", ("cancelled", "cancelled")), ("kill", ("failed", KILLED))])
def test_a_search_cancelled_or_killed_ends_its_worker_and_the_next_plan_runs(
    tmp_path: Path, how: str, ended: tuple[str, str]
) -> None:
    with running_service(tmp_path) as client:
        job, waiting = submit(client, ENDLESS), submit(client, QUICK)
        wait_for(client, job, searching)
        pid = client.app.state.service.pool.running()[job]  # type: ignore[attr-defined]
        answer = client.get(f"/api/plans/{job}/loading-list.csv")  # no downloads until it is done
        assert answer.status_code == 409 and "running, not done" in answer.json()["error"]
        if how == "cancel":
            assert client.delete(f"/api/plans/{job}").json() == {"id": job, "status": "cancelled"}
        else:
            os.kill(pid, signal.SIGKILL)
        plan = wait_for(client, job)
        assert (plan["status"], plan["error"]) == ended
        assert wait_for(client, waiting)["status"] == "done"
        assert not Path(f"/proc/{pid}").exists()  # ended and reaped
        health = client.get("/healthz").json()
        assert (health["status"], health["running"]) == ("ok", 0)


def test_a_burst_of_plans_fills_the_queue_exactly_loses_none_and_runs_none_twice(tmp_path: Path) -> None:
    with running_service(tmp_path, workers=2, max_queue=30) as client:
        busy = [submit(client, ENDLESS) for _ in range(2)]
        for job in busy:  # both workers taken, so nothing leaves the queue during the burst
            wait_for(client, job, searching)

        def post(_: int) -> tuple[int, Any]:
            answer = client.post("/api/plans", json={"shipment": example(), "options": QUICK})
            return answer.status_code, answer.json().get("id", answer.headers.get("retry-after"))

        with ThreadPoolExecutor(40) as threads:
            answers = list(threads.map(post, range(40)))
        accepted = [job for status, job in answers if status == 202]
        assert len(accepted) == 30 and sorted(answers)[30:] == [(429, "10")] * 10
        refused = client.post("/api/plans", json={"shipment": example(), "options": QUICK}).json()
        assert "30 plans are already waiting" in refused["error"]
        health = client.get("/healthz").json()
        assert (health["queued"], health["running"]) == (30, 2)
        for job in busy:
            client.delete(f"/api/plans/{job}")
        assert {wait_for(client, job, seconds=300)["status"] for job in accepted} == {"done"}

    with sqlite3.connect(tmp_path / "plans.sqlite3") as db:
        rows = db.execute("SELECT id, status, attempts FROM jobs").fetchall()
    assert sorted(rows) == sorted([(job, "done", 1) for job in accepted] + [(job, "cancelled", 1) for job in busy])


def test_stowra_serve_prints_its_url_warns_when_open_answers_over_http_and_holds_its_port(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    serve = ["serve", "--host", "0.0.0.0", "--data"]
    command = [sys.executable, "-m", "stowra", *serve, str(tmp_path), "--port", "0", "--workers", "1"]
    with subprocess.Popen(command, text=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE) as server:
        try:
            line = read_line(server.stdout)
            assert line.startswith("stowra: serving on http://0.0.0.0:"), line
            port = int(line.split(":")[3].split("/")[0])
            warning = read_line(server.stderr)
            assert "without a token: anyone who can reach" in warning
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/healthz", timeout=30) as answer:
                assert json.load(answer)["workers"] == 1
            # A second server on the port is refused in one line.
            assert cli.main([*serve, str(tmp_path / "second"), "--port", str(port)]) == 2
            error = capsys.readouterr().err
            assert f"error: cannot listen on 0.0.0.0:{port}: Address already in use" in error and error.count("\n") == 1
        finally:
            server.send_signal(signal.SIGINT)
        assert server.wait(30) == 0
        assert server.stdout.read() == "stowra: stopped\n"


def test_a_full_disk_loses_no_plan_and_stops_no_planning(tmp_path: Path) -> None:
    ends_soon = {**ENDLESS, "time_limit": 5}
    with small_disk(tmp_path / "disk") as disk, running_service(disk) as client:
        job = submit(client, ends_soon)
        wait_for(client, job, searching)
        filler = fill(disk)
        # The search ends with nowhere to store its plan: kept, and the service says so.
        deadline = time.monotonic() + 60
        while (health := client.get("/healthz")).json().get("error") != "1 finished plan waits to be stored":
            assert time.monotonic() < deadline, f"the service never said its plan waits: {health.text}"
            time.sleep(0.1)
        assert health.status_code == 503 and health.json()["status"] == "unhealthy"
        filler.unlink()
        assert wait_for(client, job)["status"] == "done"
        assert wait_for(client, submit(client, QUICK))["status"] == "done"
        assert client.get("/healthz").json()["status"] == "ok"


def test_a_data_folder_in_use_or_read_only_is_refused_before_serving(tmp_path: Path) -> None:
    def serve(folder: Path) -> subprocess.CompletedProcess[str]:
        command = [sys.executable, "-m", "stowra", "serve", "--port", "0", "--workers", "1", "--data", str(folder)]
        return subprocess.run(command, capture_output=True, text=True, timeout=60)

    with running_service(tmp_path / "busy"):
        busy = serve(tmp_path / "busy")
    with small_disk(tmp_path / "ro", read_only=True) as folder:
        read_only = serve(folder)
    assert (busy.returncode, read_only.returncode) == (2, 2)
    assert busy.stdout == read_only.stdout == ""
    holder = f"in use by another stowra service (process {os.getpid()})"
    assert busy.stderr == f"stowra: error: the data folder {tmp_path / 'busy'} is {holder}\n"
    assert read_only.stderr == f"stowra: error: cannot use {folder / 'service.lock'}: Read-only file system\n"


def test_connections_that_send_half_a_request_are_closed_and_the_service_still_answers(tmp_path: Path) -> None:
    limits = ["--max-connections", "20", "--header-timeout", "1", "--body-timeout", "1"]
    command = [
        sys.executable,
        "-m",
        "stowra",
        "serve",
        "--data",
        str(tmp_path),
        "--port",
        "0",
        "--workers",
        "1",
        *limits,
    ]
    with subprocess.Popen(command, text=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE) as server:
        try:
            port = int(read_line(server.stdout).split(":")[3].split("/")[0])
            stalled = []
            for n in range(40):
                sock = socket.create_connection(("127.0.0.1", port), timeout=30)
                half = (
                    b"GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    if n % 2
                    else b"POST /api/plans HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{"
                )
                sock.sendall(half)
                stalled.append(sock)
            # Each is closed by the service: at once past the limit, else when its time is up.
            for sock in stalled:
                with sock, contextlib.suppress(ConnectionResetError):  # reset: closed unread
                    assert sock.recv(4096) == b""
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/healthz", timeout=30) as answer:
                assert json.load(answer)["status"] == "ok"
        finally:
            server.send_signal(signal.SIGINT)
        assert server.wait(30) == 0
        assert "Traceback" not in server.stderr.read()
