"""The service under faults: a worker killed mid-search, a burst of plans, the real server."""

from __future__ import annotations

import contextlib
import http.client
import json
import os
import resource
import signal
import socket
import sqlite3
import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any

import pytest
from service_helpers import (
    ENDLESS,
    QUICK,
    call,
    ended,
    example,
    fill,
    poll,
    read_line,
    running_service,
    searching,
    serving,
    small_disk,
    submit,
    wait_for,
)

from stowra import cli, plotting

KILLED = "the search stopped unexpectedly: its worker process was ended by signal SIGKILL"
WAITS = "1 finished plan waits to be stored"


def test_a_search_killed_ends_its_worker_and_the_next_plan_runs(tmp_path: Path) -> None:
    # A cancelled one is the burst test's.
    with running_service(tmp_path) as client:
        job, waiting = submit(client, ENDLESS), submit(client, QUICK)
        wait_for(client, job, searching)
        pid = client.app.state.service.pool.running()[job]  # type: ignore[attr-defined]
        answer = client.get(f"/api/plans/{job}/loading-list.csv")  # no downloads until it is done
        assert answer.status_code == 409 and "running, not done" in answer.json()["error"]
        os.kill(pid, signal.SIGKILL)
        plan = wait_for(client, job)
        assert (plan["status"], plan["error"]) == ("failed", KILLED)
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
        # Retry-After as the README gives it.
        assert len(accepted) == 30 and sorted(answers)[30:] == [(429, "10")] * 10
        refused = client.post("/api/plans", json={"shipment": example(), "options": QUICK}).json()
        assert "30 plans are already waiting" in refused["error"]
        health = client.get("/healthz").json()
        assert (health["queued"], health["running"]) == (30, 2)
        pids = [client.app.state.service.pool.running()[job] for job in busy]  # type: ignore[attr-defined]
        for job in busy:
            assert client.delete(f"/api/plans/{job}").json() == {"id": job, "status": "cancelled"}
        assert {wait_for(client, job, seconds=300)["status"] for job in accepted} == {"done"}
        assert not [pid for pid in pids if Path(f"/proc/{pid}").exists()]  # cancelled: ended and reaped

    with sqlite3.connect(tmp_path / "plans.sqlite3") as db:
        rows = db.execute("SELECT id, status, attempts FROM jobs").fetchall()
    assert sorted(rows) == sorted([(job, "done", 1) for job in accepted] + [(job, "cancelled", 1) for job in busy])


def test_a_full_disk_loses_no_plan_and_stops_no_planning(tmp_path: Path) -> None:
    ends_soon = {**ENDLESS, "time_limit": 5}
    with small_disk(tmp_path / "disk") as disk, running_service(disk) as client:
        job = submit(client, ends_soon)
        wait_for(client, job, searching)
        filler = fill(disk)
        # The search ends with nowhere to store its plan: kept, and the service says so.
        health = poll(lambda: client.get("/healthz"), lambda answer: answer.json().get("error") == WAITS)
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


MALFORMED = [
    b"NOT AN HTTP REQUEST\r\n\r\n",
    b"GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nno colon in this header\r\n\r\n",
    b"GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -5\r\n\r\n",
]


def test_stowra_serve_warns_when_open_holds_its_port_closes_half_requests_and_answers_malformed_ones_in_json(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    limits = ["--max-connections", "20", "--header-timeout", "1", "--body-timeout", "1"]
    with serving(tmp_path, "--host", "0.0.0.0", *limits) as (port, server):
        assert server.url.startswith("http://0.0.0.0:")  # type: ignore[attr-defined]
        assert "without a token: anyone who can reach" in read_line(server.stderr)
        # A second server on the port is refused in one line.
        assert cli.main(["serve", "--host", "0.0.0.0", "--data", str(tmp_path / "second"), "--port", str(port)]) == 2
        error = capsys.readouterr().err
        assert f"error: cannot listen on 0.0.0.0:{port}: Address already in use" in error and error.count("\n") == 1
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
        # A request line, a header and a length that cannot be read: JSON as every other error.
        for request in MALFORMED:
            with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
                sock.sendall(request)  # then everything the server answers until it closes
                head, _, body = b"".join(iter(lambda sock=sock: sock.recv(65536), b"")).partition(b"\r\n\r\n")
            assert (
                head.startswith(b"HTTP/1.1 400 Bad Request\r\n") and b"content-type: application/json" in head.lower()
            )
            assert json.loads(body) == {"error": "invalid HTTP request: the request line or a header is malformed"}
        health = call(port, "GET", "/healthz")[1]
        assert (health["status"], health["workers"]) == ("ok", 1)
    assert (server.returncode, server.said[0]) == (0, "stowra: stopped\n")  # type: ignore[attr-defined]
    assert "Traceback" not in server.said[1]  # type: ignore[attr-defined]


def test_running_out_of_file_descriptors_stops_no_planning(tmp_path: Path) -> None:
    def few_descriptors() -> None:
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        resource.setrlimit(resource.RLIMIT_NOFILE, (128, hard))

    with serving(tmp_path, "--header-timeout", "120", preexec_fn=few_descriptors) as (port, server):
        status, job = call(port, "POST", "/api/plans", {"shipment": example(), "options": {**ENDLESS, "time_limit": 4}})
        assert status == 202, job
        poll(lambda: call(port, "GET", f"/api/plans/{job['id']}")[1], lambda plan: plan["progress"] is not None)
        # A connection the service holds, to ask on once it has no descriptor left to accept.
        probe = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        probe.connect()
        held = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(200)]
        try:
            # The search ends with no descriptor to open the store with: kept, and said so.
            def ask() -> tuple[int, Any]:
                probe.request("GET", "/healthz")
                answer = probe.getresponse()
                return answer.status, json.loads(answer.read())

            health = poll(ask, lambda answer: answer[1].get("error") == WAITS, pause=0.3)
            assert health == (503, {**health[1], "status": "unhealthy"})
        finally:
            for sock in held:
                sock.close()
            probe.close()
        # Descriptors back: the plan is stored, and the next one runs.
        status, quick = call(port, "POST", "/api/plans", {"shipment": example(), "options": QUICK})
        for plan in (job, quick):
            assert poll(lambda plan=plan: call(port, "GET", f"/api/plans/{plan['id']}")[1], ended)["status"] == "done"
        status, health = call(port, "GET", "/healthz")
        assert (status, health["status"]) == (200, "ok")
    assert "unable to open database file" in server.said[1]  # type: ignore[attr-defined]


# Held while it is drawn, or once drawn on its way into the data folder.
@pytest.mark.parametrize("download, stalled", [("picture.png", "drawing"), ("loading-list.csv", "writing")])
def test_a_plan_deleted_while_a_download_is_made_leaves_no_file(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, download: str, stalled: str
) -> None:
    reached, release = threading.Event(), threading.Event()

    def held(real: Any, wanted: Any = lambda *_: True) -> Any:
        # The real work runs first (a file may be half kept by then), then waits for the test.
        def wrapper(*args: Any, **kwargs: Any) -> Any:
            result = real(*args, **kwargs)
            if wanted(*args):
                reached.set()
                assert release.wait(60), "the test never let the download go on"
            return result

        return wrapper

    if stalled == "writing":
        monkeypatch.setattr(Path, "write_bytes", held(Path.write_bytes, lambda path, _: tmp_path in path.parents))
    else:
        monkeypatch.setattr(plotting, "save_png", held(plotting.save_png))
    with running_service(tmp_path) as client, ThreadPoolExecutor(1) as pool:
        job = submit(client, QUICK)
        assert wait_for(client, job)["status"] == "done"
        making = pool.submit(client.get, f"/api/plans/{job}/{download}")
        assert reached.wait(60), making.result().text
        assert client.delete(f"/api/plans/{job}").json() == {"id": job, "deleted": True}
        release.set()
        answers = making.result().status_code, client.get(f"/api/plans/{job}/{download}").status_code
        left = [path.name for path in tmp_path.rglob("*") if job in path.name]
    assert (answers, left) == ((404, 404), [])
