"""The web page in a real browser (Debian's chromium) against the real ``stowra serve``."""

from __future__ import annotations

import json
import subprocess
import sys
import urllib.request
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest

from stowra.examples import EXAMPLE_ITEMS

pytestmark = pytest.mark.browser
CHROMIUM = Path("/usr/bin/chromium")
# Text a planner might type that would run as markup if the page ever inserted it as such.
HOSTILE = '<img src=x onerror="window.pwned=1">'


@pytest.fixture(scope="module")
def server(tmp_path_factory: pytest.TempPathFactory) -> Iterator[str]:
    data = tmp_path_factory.mktemp("served")
    command = [sys.executable, "-m", "stowra", "serve", "--port", "0", "--workers", "1", "--data", str(data)]
    with subprocess.Popen(command, stdout=subprocess.PIPE, text=True) as process:
        line = process.stdout.readline()
        assert line.startswith("stowra: serving on http://127.0.0.1:"), line
        try:
            yield line.split()[3]
        finally:
            process.terminate()
            process.wait(30)
            process.stdout.close()


@pytest.fixture(scope="module")
def browser() -> Iterator[Any]:
    from playwright.sync_api import sync_playwright

    assert CHROMIUM.exists(), "scripts/test.sh installs Debian's chromium package"
    with sync_playwright() as playwright:
        # SwiftShader gives the headless browser the WebGL the 3D views need.
        args = ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"]
        launched = playwright.chromium.launch(executable_path=str(CHROMIUM), args=args)
        yield launched
        launched.close()


def test_a_planner_edits_the_example_plans_it_and_sees_the_result(server: str, browser: Any) -> None:
    page = browser.new_page(viewport={"width": 1280, "height": 900})
    page.goto(server)
    items = page.locator("#items tbody tr")
    items.nth(len(EXAMPLE_ITEMS) - 1).wait_for()
    assert items.count() == len(EXAMPLE_ITEMS)

    # Edit the rows: drop the last item row, take 10 of the first, rename the 40-foot type.
    items.nth(len(EXAMPLE_ITEMS) - 1).get_by_role("button", name="remove").click()
    items.nth(0).locator("input[data-key=quantity]").fill("10")
    page.locator("#containers tbody tr").nth(1).locator("input[data-key=id]").fill(HOSTILE)
    # The default search; the exact search's options are hidden while it is chosen.
    assert page.input_value("#opt-search") == "optimize"
    assert page.locator("#opt-generations").is_hidden()
    for key, value in {"effort": 1, "time_limit": 30, "threads": 1}.items():
        page.fill(f"#opt-{key}", str(value))
    page.click("#plan")
    page.wait_for_function("document.getElementById('status').textContent === 'done'", timeout=60_000)

    with urllib.request.urlopen(f"{server}api/plans/{page.text_content('#plan-id')}", timeout=30) as answer:
        plan = json.load(answer)
    assert (plan["options"]["search"], plan["options"]["effort"]) == ("optimize", 1)
    expected_items = 10 + sum(row["quantity"] for row in EXAMPLE_ITEMS[1:-1])
    placed = sum(row["items"] for row in plan["report"])
    assert placed + sum(row["count"] for row in plan["leftOut"]) == expected_items
    rows = page.locator("#report tbody tr")
    assert rows.count() == plan["plan"]["totalBins"]
    types = [rows.nth(n).locator("td").nth(1).text_content() for n in range(rows.count())]
    assert types == [row["type"] for row in plan["report"]] and HOSTILE in types
    # The hostile name shows as text wherever it appears, and never runs.
    assert page.evaluate("window.pwned") is None
    assert page.locator("#report img, #plans img, #view img").count() == 0

    page.locator("#view.js-plotly-plot").wait_for()
    # One 3D scene per container, each drawn on its own WebGL canvas.
    scenes = page.locator('#view div[id^="scene"]')
    assert scenes.count() == page.locator('#view div[id^="scene"] canvas').count()
    assert scenes.count() == plan["plan"]["totalBins"]
    assert page.locator("#plans tbody tr").count() >= 1


def test_an_uploaded_broken_file_shows_the_readers_words(server: str, browser: Any, tmp_path: Path) -> None:
    broken = tmp_path / "broken.json"
    broken.write_text('{"itemTable": [\n  {"id": 1, "l": "wide"}\n]}')
    page = browser.new_page()
    page.goto(server)
    page.click("#tab-files")
    page.set_input_files("#files", str(broken))
    page.click("#plan")
    error = page.locator("#error")
    error.wait_for(state="visible")
    assert error.text_content() == "broken.json:2:18: l: expected a number, got 'wide'"
