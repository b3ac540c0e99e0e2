"""How quickly the planning service answers, measured against a real ``stowra serve``.

1. The demo shipment with the demo's search options, once with each search: seconds from POST
   to the first progress line and to done (polled every 10 ms), a few times over.
2. GET /api/plans/{id}: median, 95th percentile and worst of --requests requests, one after
   the other on one connection, first with no search running (a done demo plan), then for a
   running plan while two searches run on the two workers.

Run: python bench/service_latency.py [--repeat 3] [--requests 200] [--out FILE.md] [--quick]
"""

from __future__ import annotations

import http.client
import json
import subprocess
import sys
import tempfile
import time
from typing import Any

from _bench import arguments, cell, load_average, write_section

from stowra.examples import DEMO_SEARCH, EXAMPLE_BINS, EXAMPLE_ITEMS
from stowra.searches import SEARCHES

SHIPMENT = {"itemTable": EXAMPLE_ITEMS, "binTable": EXAMPLE_BINS}
LONG_SEARCH = {
    "search": "exact",
    "pop_size": 100,
    "generations": 1_000_000,
    "time_limit": 120,
    "threads": 1,
}


class Client:
    def __init__(self, port: int) -> None:
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)

    def call(self, method: str, path: str, body: Any = None) -> Any:
        data = json.dumps(body).encode() if body is not None else None
        headers = {"Content-Type": "application/json"} if data else {}
        self.connection.request(method, path, body=data, headers=headers)
        answer = self.connection.getresponse()
        payload = json.loads(answer.read())
        if answer.status >= 400:
            raise RuntimeError(f"{method} {path}: {answer.status} {payload}")
        return payload


def timed_gets(client: Client, path: str, requests: int) -> list[float]:
    """Milliseconds of each of `requests` GETs of `path`."""
    milliseconds = []
    for _ in range(requests):
        start = time.perf_counter()
        client.call("GET", path)
        milliseconds.append((time.perf_counter() - start) * 1000)
    return milliseconds


def percentile_row(label: str, values: list[float]) -> list[str]:
    ordered = sorted(values)
    return [label, cell(values, 1), f"{ordered[int(0.95 * (len(ordered) - 1))]:.1f}"]


def demo_timings(client: Client, search: str, repeat: int) -> tuple[str, list[list[str]]]:
    """The id of the last demo plan with `search`, and a table row per figure over the runs."""
    options = {**DEMO_SEARCH, "search": search}
    figures: dict[str, list[float]] = {}
    for _ in range(repeat):
        start = time.perf_counter()
        job = client.call("POST", "/api/plans", {"shipment": SHIPMENT, "options": options})
        posted = time.perf_counter() - start
        first = None
        while True:
            plan = client.call("GET", f"/api/plans/{job['id']}")
            now = time.perf_counter() - start
            if first is None and plan["progress"] is not None:
                first = now
            if plan["status"] in ("done", "failed", "cancelled"):
                break
            time.sleep(0.01)
        if plan["status"] != "done" or first is None:
            raise RuntimeError(f"the demo plan ended {plan['status']}: {plan['error']}")
        for label, seconds in (
            ("POST answered", posted),
            ("first progress line seen", first),
            ("done", now),
            ("search time the plan reports", plan["plan"]["elapsedSeconds"]),
        ):
            figures.setdefault(f"demo shipment, {search} search: {label} (s)", []).append(seconds)
    return str(job["id"]), [[label, cell(values, 3), "-"] for label, values in figures.items()]


def latency_under_load(client: Client, requests: int) -> list[str]:
    """The row of GET latencies for a running plan while two searches run."""
    jobs = [
        client.call("POST", "/api/plans", {"shipment": SHIPMENT, "options": LONG_SEARCH})["id"]
        for _ in range(2)
    ]
    while not all(client.call("GET", f"/api/plans/{job}")["progress"] is not None for job in jobs):
        time.sleep(0.05)
    milliseconds = timed_gets(client, f"/api/plans/{jobs[0]}", requests)
    plans = [client.call("GET", f"/api/plans/{job}") for job in jobs]
    for job in jobs:
        client.call("DELETE", f"/api/plans/{job}")
    if not all(plan["status"] == "running" for plan in plans):
        raise RuntimeError("a long search ended before its latencies were measured")
    return percentile_row(
        f"GET /api/plans/ID of a running plan while two searches run, {requests} requests (ms)",
        milliseconds,
    )


def main() -> None:
    parser = arguments(__doc__.splitlines()[0], compares=False)
    parser.add_argument("--repeat", type=int, help="demo plans (default 3, quick 1)")
    parser.add_argument("--requests", type=int, help="GETs per figure (default 200, quick 20)")
    options = parser.parse_args()
    repeat = options.repeat or (1 if options.quick else 3)
    requests = options.requests or (20 if options.quick else 200)
    load_before = load_average()
    with tempfile.TemporaryDirectory() as data:
        command = [sys.executable, "-m", "stowra", "serve", "--port", "0", "--workers", "2"]
        with subprocess.Popen(
            [*command, "--data", data], stdout=subprocess.PIPE, text=True
        ) as server:
            assert server.stdout is not None
            line = server.stdout.readline()
            port = int(line.split()[3].rsplit(":", 1)[1].rstrip("/"))
            try:
                client = Client(port)
                table = []
                for search in SEARCHES:
                    done, rows = demo_timings(client, search, repeat)
                    table += rows
                idle = timed_gets(client, f"/api/plans/{done}", requests)
                label = f"GET /api/plans/ID of a done plan, no search running, {requests} requests"
                table.append(percentile_row(f"{label} (ms)", idle))
                table.append(latency_under_load(client, requests))
            finally:
                server.terminate()
                server.wait(30)

    method = (
        f"A real `stowra serve` with 2 workers. The demo shipment with the demo's search options "
        f"{repeat} time(s) per search, polled every 10 ms: median (min-max). Then GETs one after the other "
        f"on one connection: median (min-max) and 95th percentile."
    )
    header = ["Figure", "Median (min-max)", "95th percentile"]
    conditions = (load_before, None)
    write_section(options, "Planning service latency", method, conditions, [header, *table], [])


if __name__ == "__main__":
    main()
