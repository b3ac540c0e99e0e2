"""How quickly the planning service answers, measured against a real ``stowra serve``.

1. The demo shipment with the demo's search options, once with each search: seconds from POST
   to the first progress line and to done (polled every 10 ms), a few times over.
2. GET /api/plans/{id}: median, 95th percentile and worst of --requests requests, one after
   the other on one connection, first with no search running (a done demo plan), then for a
   running plan while two searches run on the two workers.

Run: python bench/service_latency.py [--repeat 3] [--requests 200]
"""

from __future__ import annotations

import argparse
import http.client
import json
import statistics
import subprocess
import sys
import tempfile
import time
from typing import Any

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


def timed_gets(client: Client, path: str, requests: int) -> str:
    seconds = []
    for _ in range(requests):
        start = time.perf_counter()
        client.call("GET", path)
        seconds.append(time.perf_counter() - start)
    seconds.sort()
    p95 = seconds[int(0.95 * (len(seconds) - 1))]
    return (
        f"median {statistics.median(seconds) * 1000:.1f} ms, 95th percentile {p95 * 1000:.1f} ms, "
        f"worst {seconds[-1] * 1000:.1f} ms"
    )


def demo_timings(client: Client, search: str, repeat: int) -> str:
    options = {**DEMO_SEARCH, "search": search}
    for run in range(1, repeat + 1):
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
        took = plan["plan"]["elapsedSeconds"] if plan["plan"] else float("nan")
        print(
            f"demo, {search} search, run {run}: POST answered {posted:.3f} s, first progress {first:.3f} s, "
            f"{plan['status']} {now:.3f} s (search itself {took:.3f} s)"
        )
    return str(job["id"])


def latency_under_load(client: Client, requests: int) -> None:
    jobs = [
        client.call("POST", "/api/plans", {"shipment": SHIPMENT, "options": LONG_SEARCH})["id"]
        for _ in range(2)
    ]
    while not all(client.call("GET", f"/api/plans/{job}")["progress"] is not None for job in jobs):
        time.sleep(0.05)
    timings = timed_gets(client, f"/api/plans/{jobs[0]}", requests)
    plans = [client.call("GET", f"/api/plans/{job}") for job in jobs]
    for job in jobs:
        client.call("DELETE", f"/api/plans/{job}")
    assert all(plan["status"] == "running" for plan in plans)
    generations = [plan["progress"]["generation"] for plan in plans]
    print(
        f"GET /api/plans/ID while two searches run ({requests} requests): {timings} "
        f"(searches at generations {generations})"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--requests", type=int, default=200)
    args = parser.parse_args()
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
                done = [demo_timings(client, search, args.repeat) for search in SEARCHES][-1]
                idle = timed_gets(client, f"/api/plans/{done}", args.requests)
                print(f"GET /api/plans/ID of a done plan, no search running: {idle}")
                latency_under_load(client, args.requests)
            finally:
                server.terminate()
                server.wait(30)


if __name__ == "__main__":
    main()
