"""What large and hostile inputs cost: a long JSON shipment, a big plan's downloads, a
workbook that claims a huge sheet.

1. Reading a shipment of N JSON rows against the same items as N/100 rows of quantity 100, the
   two in turn after a few untimed reads of each (the first read of each shown apart).
2. GET loading-list.csv of a done 5,000-item plan from a real `stowra serve`: the first
   request (made then) and the next ones (kept).
3. Refusing a small workbook whose sheet claims rows up to 1,048,576.

Run: python bench/input_limits.py [--rows 30000] [--repeat 5] [--out FILE.md] [--quick]
"""

from __future__ import annotations

import http.client
import io
import json
import re
import subprocess
import sys
import tempfile
import time
import zipfile
from typing import Any

from _bench import arguments, cell, load_average, write_section

from stowra.files import ShipmentError, parse_json_shipment, parse_workbook
from stowra.files.excel import workbook_bytes

# Untimed reads of each JSON text before the timed ones (see json_rows).
WARM_UP_READS = 5

BIN = {
    "id": "40HC",
    "l": 1203,
    "w": 234,
    "h": 269,
    "cost": 1800,
    "weight_limit": 90000,
    "available": True,
}


def item(number: int, quantity: int | None = None) -> dict[str, Any]:
    row = {"id": number, "l": 30, "w": 30, "h": 30, "weight": 5, "factory": 1, "stackable": True}
    return row if quantity is None else {**row, "quantity": quantity}


def seconds(action: Any, repeat: int) -> list[float]:
    taken = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        taken.append(time.perf_counter() - start)
    return taken


def json_rows(rows: int, repeat: int) -> list[list[str]]:
    long = json.dumps({"itemTable": [item(n) for n in range(rows)], "binTable": [BIN]}, indent=1)
    short_rows = [item(n, 100) for n in range(rows // 100)]
    short = json.dumps({"itemTable": short_rows, "binTable": [BIN]}, indent=1)
    readers = {
        f"{rows:,} JSON rows": lambda: parse_json_shipment(long, "long.json"),
        f"{rows // 100:,} JSON rows of quantity 100": lambda: parse_json_shipment(
            short, "short.json"
        ),
    }
    # The first reads of a process are slower, whichever text comes first: it grows its memory
    # and collects what the set-up left (the first of them by far). So the first read of each
    # is shown on its own, a few more are not timed, and the two are then timed in turn, so
    # that drift on a shared machine weighs on both alike.
    first = {label: seconds(read, 1)[0] for label, read in readers.items()}
    for _ in range(WARM_UP_READS):
        for read in readers.values():
            read()
    taken: dict[str, list[float]] = {label: [] for label in readers}
    for _ in range(repeat):
        for label, read in readers.items():
            taken[label] += seconds(read, 1)
    long_times, short_times = taken.values()
    table = [[f"read {label} (s)", cell(values, 3)] for label, values in taken.items()]
    table.append(["ratio of the two (best runs)", f"{min(long_times) / min(short_times):.2f}"])
    table += [
        [f"first read of the {label} in this process (s)", f"{first[label]:.3f}"] for label in first
    ]
    # For scale: the standard parser alone on the long text, before any row is looked at (the
    # reader uses it only for texts the compiled reader leaves to it, and for messages).
    parsed = seconds(lambda: json.loads(long), repeat)
    table.append([f"json.loads of the {rows:,}-row text alone (s)", cell(parsed, 3)])
    share = min(parsed) / min(short_times)
    table.append(["ratio of that to the short read (best runs)", f"{share:.2f}"])
    return table


def dimension_bomb() -> bytes:
    header = ["id", "l", "w", "h", "weight", "factory", "stackable"]
    data = workbook_bytes({"itemTable": (header, [item(1)]), "binTable": (list(BIN), [BIN])})
    source, out = zipfile.ZipFile(io.BytesIO(data)), io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            body = source.read(info)
            if info.filename == "xl/worksheets/sheet1.xml":
                body = re.sub(rb'<dimension ref="[^"]*"', b'<dimension ref="A1:XFD1048576"', body)
                far = b'<row r="1048576"><c r="XFD1048576" t="n"><v>1</v></c></row>'
                body = body.replace(b"</sheetData>", far + b"</sheetData>")
            target.writestr(info.filename, body)
    return out.getvalue()


def refuse_bomb(repeat: int) -> list[list[str]]:
    bomb = dimension_bomb()

    def read() -> None:
        try:
            parse_workbook(bomb, "bomb.xlsx")
        except ShipmentError:
            return
        raise RuntimeError("the dimension bomb was read")

    return [
        [
            f"refuse a {len(bomb):,}-byte workbook claiming 1,048,576 rows (s)",
            cell(seconds(read, repeat), 3),
        ]
    ]


def loading_list(repeat: int) -> list[list[str]]:
    shipment = {"itemTable": [item(n, 1) for n in range(5000)], "binTable": [BIN]}
    options = {"search": "exact", "pop_size": 1, "generations": 0, "time_limit": 300, "threads": 1}
    with tempfile.TemporaryDirectory() as data:
        command = [sys.executable, "-m", "stowra", "serve", "--port", "0", "--workers", "1"]
        with subprocess.Popen(
            [*command, "--data", data], stdout=subprocess.PIPE, text=True
        ) as server:
            assert server.stdout is not None
            port = int(server.stdout.readline().split()[3].rsplit(":", 1)[1].rstrip("/"))
            try:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=600)

                def call(method: str, path: str, body: Any = None) -> bytes:
                    headers = {"Content-Type": "application/json", "Accept-Encoding": "gzip"}
                    connection.request(method, path, json.dumps(body) if body else None, headers)
                    answer = connection.getresponse()
                    payload = answer.read()
                    if answer.status >= 400:
                        raise RuntimeError(f"{method} {path}: {answer.status} {payload[:300]!r}")
                    return payload

                job = json.loads(
                    call("POST", "/api/plans", {"shipment": shipment, "options": options})
                )["id"]
                while json.loads(call("GET", f"/api/plans/{job}"))["status"] not in (
                    "done",
                    "failed",
                ):
                    time.sleep(0.2)
                path = f"/api/plans/{job}/loading-list.csv"
                first = seconds(lambda: call("GET", path), 1)
                later = seconds(lambda: call("GET", path), repeat)
            finally:
                server.terminate()
                server.wait(30)
    return [
        ["5,000-item loading list, first request (ms)", cell([s * 1000 for s in first], 1)],
        ["5,000-item loading list, next requests (ms)", cell([s * 1000 for s in later], 1)],
    ]


def main() -> None:
    parser = arguments(__doc__.splitlines()[0], compares=False)
    parser.add_argument("--rows", type=int, help="JSON rows (default 30000, quick 3000)")
    parser.add_argument("--repeat", type=int, help="runs per figure (default 5, quick 1)")
    options = parser.parse_args()
    rows = options.rows or (3000 if options.quick else 30000)
    repeat = options.repeat or (1 if options.quick else 5)
    load_before = load_average()
    table = [["Figure", "Median (min-max)"]]
    table += json_rows(rows, repeat)
    table += refuse_bomb(repeat)
    table += loading_list(repeat)
    method = "Wall-clock seconds in this process (the readers) and over HTTP from a real `stowra serve` with 1 worker."
    write_section(options, "Large and hostile inputs", method, (load_before, None), table, [])


if __name__ == "__main__":
    main()
