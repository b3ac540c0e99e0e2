"""Every download and upload the page offers works with what ``pip install '.[serve]'``
brings: each one's imports are followed to the distributions that provide them."""

from __future__ import annotations

import json
import re
import subprocess
import sys
from importlib import metadata, resources

from packaging.requirements import Requirement
from packaging.utils import canonicalize_name

# Runs in a fresh interpreter: plan the example, then fetch what the page offers, noting the
# modules each fetch loads for the first time.
_SCRIPT = """
import json, sys, tempfile, time
from fastapi.testclient import TestClient
from stowra.examples import EXAMPLE_BINS, EXAMPLE_ITEMS, example_workbook
from stowra.service import Settings, create_app

paths = json.loads(sys.argv[1])
answers = {}
with TestClient(create_app(Settings(data=tempfile.mkdtemp(), workers=1)), base_url="http://127.0.0.1") as client:
    shipment = {"itemTable": EXAMPLE_ITEMS, "binTable": EXAMPLE_BINS}
    options = {"search": "exact", "pop_size": 4, "generations": 2, "threads": 1}
    job = client.post("/api/plans", json={"shipment": shipment, "options": options}).json()["id"]
    for _ in range(600):
        if client.get(f"/api/plans/{job}").json()["status"] not in ("queued", "running"):
            break
        time.sleep(0.1)
    client.get("/static/plotly.min.js")
    before = set(sys.modules)
    for path in paths:
        answers[path] = client.get(f"/api/plans/{job}/{path}").status_code
    files = {"files": ("shipment.xlsx", example_workbook())}
    answers["upload.xlsx"] = client.post("/api/shipment", files=files).status_code
    loaded = sorted({name.split(".")[0] for name in set(sys.modules) - before})
print(json.dumps({"answers": answers, "loaded": loaded}))
"""


def _offered() -> list[str]:
    page = resources.files("stowra.service").joinpath("page.html").read_text(encoding="utf-8")
    return [*re.findall(r'download\("([^"]+)"', page), "view.json"]


def _closure(name: str, extras: frozenset[str] = frozenset()) -> set[str]:
    """The distributions ``name[extras]`` installs, itself included."""
    found = {canonicalize_name(name)}
    for text in metadata.requires(name) or []:
        requirement = Requirement(text)
        marker = requirement.marker
        if marker and not any(marker.evaluate({"extra": e}) for e in (*extras, "")):
            continue
        if canonicalize_name(requirement.name) not in found:
            with_extras = frozenset(requirement.extras)
            found |= _closure(requirement.name, with_extras)
    return found


def test_the_serve_extra_brings_what_every_download_imports() -> None:
    offered = _offered()
    assert {"loading-list.csv", "picture.png", "view.html"} <= set(offered)
    done = subprocess.run(
        [sys.executable, "-c", _SCRIPT, json.dumps(offered)],
        capture_output=True,
        text=True,
        timeout=300,
        check=True,
    )
    report = json.loads(done.stdout.splitlines()[-1])
    # The loading sheet may be missing from a service (404: the page says so), never half there.
    answers = report["answers"]
    assert {path: answers[path] for path in answers if path != "loading-sheet.pdf"} == dict.fromkeys(
        [p for p in answers if p != "loading-sheet.pdf"], 200
    )
    assert answers.get("loading-sheet.pdf", 404) in (200, 404)
    providers = metadata.packages_distributions()
    needed = {canonicalize_name(d) for module in report["loaded"] for d in providers.get(module, [])}
    serve = _closure("stowra", frozenset({"serve"}))
    # What the test client itself pulls in is not the service's to bring.
    client = _closure("httpx") | _closure("httpx2")
    assert needed - serve - client == set()
