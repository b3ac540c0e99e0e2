"""Running the planning service in tests: real worker processes, a real SQLite file."""

from __future__ import annotations

import http.client
import json
import os
import queue
import signal
import subprocess
import sys
import threading
import time
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path
from typing import Any

import pytest
from fastapi.testclient import TestClient

from stowra.examples import EXAMPLE_BINS, EXAMPLE_ITEMS
from stowra.service import Settings, create_app

# Small enough that a plan of the example takes well under a second.
QUICK = {"search": "exact", "pop_size": 8, "generations": 10, "time_limit": 30, "threads": 1, "seed": 7}
# A search that runs until it is cancelled, killed or the service stops.
ENDLESS = {"search": "exact", "pop_size": 200, "generations": 1_000_000, "time_limit": 120, "threads": 1}


def example() -> dict[str, Any]:
    return {"itemTable": EXAMPLE_ITEMS, "binTable": EXAMPLE_BINS}


@contextmanager
def running_service(data: Path, **settings: Any) -> Iterator[TestClient]:
    app = create_app(Settings(data=data, **{"workers": 1, **settings}))
    with TestClient(app, base_url="http://127.0.0.1", raise_server_exceptions=False) as client:
        yield client


def submit(client: TestClient, options: dict[str, Any], shipment: Any = None) -> str:
    answer = client.post("/api/plans", json={"shipment": shipment or example(), "options": options})
    assert answer.status_code == 202, answer.text
    return str(answer.json()["id"])


def poll(read: Any, until: Any, seconds: float = 60.0, pause: float = 0.05) -> Any:
    """``read()`` until ``until`` holds of its value, which is returned; fails after ``seconds``."""
    deadline = time.monotonic() + seconds
    while not until(value := read()):
        assert time.monotonic() < deadline, f"still {value!r} after {seconds:g} s"
        time.sleep(pause)
    return value


def ended(plan: dict[str, Any]) -> bool:
    return plan["status"] in ("done", "failed", "cancelled")


def wait_for(client: TestClient, job: str, until: Any = ended, seconds: float = 60.0) -> dict[str, Any]:
    """Poll a plan until ``until(plan)`` holds (by default: until it has ended)."""
    return poll(lambda: client.get(f"/api/plans/{job}").json(), until, seconds)


def searching(plan: dict[str, Any]) -> bool:
    """Running, and its search has reported progress (so it is inside the core)."""
    return plan["status"] == "running" and plan["progress"] is not None


def read_line(stream: Any, seconds: float = 60.0) -> str:
    """The next line from a child's pipe, read in a thread so a hung child fails the test instead."""
    lines: queue.Queue[str] = queue.Queue()
    threading.Thread(target=lambda: lines.put(stream.readline()), daemon=True).start()
    try:
        return lines.get(timeout=seconds)
    except queue.Empty:
        raise AssertionError(f"no line from the child process within {seconds:g} s") from None


@contextmanager
def small_disk(path: Path, size: str = "4m", read_only: bool = False) -> Iterator[Path]:
    """A filesystem of ``size`` mounted at ``path``: a disk that fills up, or cannot be written."""
    path.mkdir()
    options = f"size={size}" + (",ro" if read_only else "")
    try:
        subprocess.run(
            ["mount", "-t", "tmpfs", "-o", options, "tmpfs", str(path)], check=True, capture_output=True, timeout=30
        )
    except (OSError, subprocess.CalledProcessError) as error:
        pytest.skip(f"cannot mount a small filesystem here: {error}")
    try:
        yield path
    finally:
        subprocess.run(["umount", "-l", str(path)], capture_output=True, timeout=30)


def fill(disk: Path) -> Path:
    """Take every free byte of ``disk``; removing the file returned frees them."""
    filler = disk / "filler"
    with filler.open("wb", buffering=0) as out:
        for size in (1 << 16, 1 << 12, 1):
            try:
                while True:
                    out.write(b"\0" * size)
            except OSError:
                pass
    return filler


def stalling(shipment: str, folder: Path, tries: int = 1) -> dict[str, str]:
    """Environment variables under which a batch's worker processes stall (see stall/sitecustomize.py)."""
    path = [str(Path(__file__).with_name("stall")), *filter(None, [os.environ.get("PYTHONPATH")])]
    return {
        "PYTHONPATH": os.pathsep.join(path),
        "STOWRA_TEST_STALL_SHIPMENT": shipment,
        "STOWRA_TEST_STALL_DIR": str(folder),
        "STOWRA_TEST_STALL_TRIES": str(tries),
    }


@contextmanager
def serving(data: Path, *options: str, **popen: Any) -> Iterator[tuple[int, subprocess.Popen[str]]]:
    """A real ``stowra serve`` on a free port over ``data``: its port and process (with its ``url``; its
    ``said`` once stopped with Ctrl-C). One kept for many tests takes ``stderr=None``: nobody reads it."""
    command = [sys.executable, "-m", "stowra", "serve", "--data", str(data), "--port", "0", "--workers", "1"]
    pipes = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, **popen}
    with subprocess.Popen([*command, *options], text=True, **pipes) as server:
        try:
            line = read_line(server.stdout)
            assert line.startswith("stowra: serving on"), line + (server.stderr.read() if server.stderr else "")
            server.url = line.split()[3]  # type: ignore[attr-defined]
            yield int(line.split(":")[3].split("/")[0]), server
        finally:
            server.send_signal(signal.SIGINT)
            try:
                out, err = server.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                server.kill()
                raise
            server.said = (out, err)  # type: ignore[attr-defined]


def call(port: int, method: str, path: str, body: Any = None) -> tuple[int, Any]:
    """One request to a real server: its status and its JSON (or bytes) answer."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    try:
        payload = json.dumps(body) if body is not None else None
        connection.request(method, path, payload, {"Content-Type": "application/json"} if payload else {})
        answer = connection.getresponse()
        data = answer.read()
        if answer.getheader("Content-Type", "").startswith("application/json"):
            return answer.status, json.loads(data)
        return answer.status, data
    finally:
        connection.close()
