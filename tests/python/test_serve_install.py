"""Every download and upload the page offers works with what ``pip install '.[serve]'``
brings: the fetches run in an interpreter that cannot import any other installed distribution."""

from __future__ import annotations

import json
import re
import subprocess
import sys
from importlib import metadata, resources

import pytest
from packaging.requirements import Requirement
from packaging.utils import canonicalize_name

pytestmark = pytest.mark.python_only  # what the serve extra installs; its one plan runs the core as the API tests do

# Runs in a fresh interpreter that hides every distribution the serve install would not bring
# (an optional import then fails as it would there): plan the example, fetch what the page offers.
_SCRIPT = """
import importlib.abc, json, re, sys, tempfile, time
from importlib import metadata

allowed = set(json.loads(sys.argv[2]))
providers = metadata.packages_distributions()

class NotInstalled(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path, target=None):
        given = providers.get(name.partition(".")[0])
        if given and not any(re.sub(r"[-_.]+", "-", d).lower() in allowed for d in given):
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)
        return None

sys.meta_path.insert(0, NotInstalled())
try:
    import dask  # installed for the tests, not by the serve extra
    hidden = False
except ModuleNotFoundError:
    hidden = True

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
    for path in paths:
        answers[path] = client.get(f"/api/plans/{job}/{path}").status_code
    files = {"files": ("shipment.xlsx", example_workbook())}
    answers["upload.xlsx"] = client.post("/api/shipment", files=files).status_code
print(json.dumps({"answers": answers, "hidden": hidden}))
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
    assert {"loading-list.csv", "picture.png", "view.html", "loading-sheet.pdf"} <= set(offered)
    # What the test client itself pulls in is not the service's to bring.
    allowed = _closure("stowra", frozenset({"serve"})) | _closure("httpx2")
    done = subprocess.run(
        [sys.executable, "-c", _SCRIPT, json.dumps(offered), json.dumps(sorted(allowed))],
        capture_output=True,
        text=True,
        timeout=300,
        check=True,
    )
    report = json.loads(done.stdout.splitlines()[-1])
    assert report["hidden"], "the other installed distributions were not hidden"
    assert report["answers"] == dict.fromkeys([*offered, "upload.xlsx"], 200)
