"""The web page in a real browser (Debian's chromium) against the real ``stowra serve``."""

from __future__ import annotations

import json
import os
import urllib.request
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path
from typing import Any

import pytest
from service_helpers import serving

from stowra.examples import EXAMPLE_ITEMS, example_csv, example_workbook

pytestmark = pytest.mark.browser
CHROMIUM = Path("/usr/bin/chromium")
# Text a planner might type that would run as markup if the page ever inserted it as such.
HOSTILE = '<img src=x onerror="window.pwned=1">'
WAIT = 60_000  # milliseconds: the longest any step may take


@pytest.fixture(scope="module")
def server(tmp_path_factory: pytest.TempPathFactory) -> Iterator[str]:
    with serving(tmp_path_factory.mktemp("served"), stderr=None) as (_, process):
        yield process.url  # type: ignore[attr-defined]


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


@contextmanager
def opened(browser: Any, url: str, **context: Any) -> Iterator[Any]:
    """A fresh browser profile on ``url``; fails on any console error, accepts every confirmation."""
    profile = browser.new_context(**{"viewport": {"width": 1280, "height": 900}, "accept_downloads": True, **context})
    profile.set_default_timeout(WAIT)
    page = profile.new_page()
    errors: list[str] = []
    page.on("console", lambda message: errors.append(message.text) if message.type == "error" else None)
    page.on("pageerror", lambda error: errors.append(str(error)))
    page.on("dialog", lambda dialog: dialog.accept())
    page.goto(url)
    yield page
    profile.close()
    # A refused request (the API's JSON error) is logged by the browser itself; the rest is ours.
    assert [text for text in errors if "the server responded with a status of" not in text] == []


@pytest.fixture
def page(browser: Any, server: str) -> Iterator[Any]:
    with opened(browser, server) as page:
        example_shown(page)
        yield page


def example_shown(page: Any) -> None:
    page.locator("#items tbody tr").nth(len(EXAMPLE_ITEMS) - 1).wait_for()


def plan_and_wait(page: Any, **options: Any) -> dict[str, Any]:
    """Fills in a quick search (and ``options``), plans, and returns the plan once shown."""
    for key, value in {**QUICK, **options}.items():
        page.fill(f"#opt-{key}", str(value))
    before = page.text_content("#plan-id")
    page.click("#plan")
    page.wait_for_function(
        "id => document.getElementById('plan-id').textContent !== id && "
        "document.getElementById('status').textContent.startsWith('done')",
        arg=before,
        timeout=WAIT,
    )
    page.locator("#view.js-plotly-plot").wait_for()
    url = page.url + "api/plans/" + page.text_content("#plan-id")
    with urllib.request.urlopen(url, timeout=30) as answer:
        plan: dict[str, Any] = json.load(answer)
    # A plan with a container a supervisor would refuse is never shown as plainly done.
    warned = any(row["warnings"] for row in plan["report"]["containers"])
    assert page.text_content("#status") == ("done, with warnings" if warned else "done")
    return plan


def cell(page: Any, table: str, row: int, key: str) -> Any:
    return page.locator(f"#{table} tbody tr").nth(row).locator(f"input[data-key={key}]")


QUICK = {"effort": 1, "time_limit": 30, "threads": 1}


def test_a_planner_edits_the_example_plans_it_and_sees_the_result(page: Any) -> None:
    items = page.locator("#items tbody tr")
    # Edit the rows: drop the last item row, take 10 of the first, rename the 40-foot type.
    items.nth(len(EXAMPLE_ITEMS) - 1).get_by_role("button", name="remove").click()
    cell(page, "items", 0, "quantity").fill("10")
    cell(page, "containers", 1, "id").fill(HOSTILE)
    assert page.input_value("#opt-search") == "optimize"
    assert page.locator("#opt-generations").is_hidden()
    plan = plan_and_wait(page)

    assert (plan["options"]["search"], plan["options"]["effort"]) == ("optimize", 1)
    expected_items = 10 + sum(row["quantity"] for row in EXAMPLE_ITEMS[1:-1])
    placed = sum(row["items"] for row in plan["report"]["containers"])
    assert placed + sum(row["count"] for row in plan["leftOut"]) == expected_items
    rows = page.locator("#report tbody tr")
    assert rows.count() == plan["plan"]["totalBins"]
    types = [rows.nth(n).locator("td").nth(1).text_content() for n in range(rows.count())]
    assert types == [row["type"] for row in plan["report"]["containers"]] and HOSTILE in types
    # The page shows the totals line the service read, as the text report prints it.
    assert page.text_content("#totals") == plan["report"]["totals"]["line"]
    # The hostile name shows as text wherever it appears, and never runs.
    assert page.evaluate("window.pwned") is None
    assert page.locator("#report img, #plans img, #view img").count() == 0
    # One 3D scene per container, each drawn on its own WebGL canvas.
    scenes = page.locator('#view div[id^="scene"]')
    assert scenes.count() == page.locator('#view div[id^="scene"] canvas').count()
    assert scenes.count() == plan["plan"]["totalBins"]

    # The print layout leaves the editors out and shows a still picture of the 3D view.
    page.locator("#print-view img").wait_for(state="attached")
    page.emulate_media(media="print")
    assert page.locator("#shipment").is_hidden() and page.locator("#history").is_hidden()
    assert page.locator("#print-view img").is_visible() and page.locator("#view").is_hidden()
    page.emulate_media(media="screen")

    # Every download the page offers arrives (what each holds is the service's and the outputs' tests).
    downloads = {"#get-csv": b"container", "#get-png": b"\x89PNG", "#get-html": b"<html", "#get-pdf": b"%PDF"}
    for button, first_bytes in downloads.items():
        with page.expect_download() as waiting:
            page.click(button)
        data = Path(waiting.value.path()).read_bytes()
        assert first_bytes.lower() in data[:200].lower(), (button, data[:60])
    assert page.text_content("#download-error") == ""


def test_left_out_rows_are_grouped_and_a_refused_row_is_marked_at_its_cell(page: Any) -> None:
    # A row of items too heavy for any container is left out as one line with its count.
    heavy = next(n for n, row in enumerate(EXAMPLE_ITEMS) if row["quantity"] > 1)
    cell(page, "items", heavy, "weight").fill("30000")
    # Without the pickup order the walls from the back mix the factories: a plan with warnings.
    page.uncheck("#opt-pickup_order")
    plan = plan_and_wait(page)
    assert any(row["warnings"] for row in plan["report"]["containers"])
    left = page.locator("#left-out-table tbody tr")
    assert left.count() == 1
    texts = [left.locator("td").nth(n).text_content() for n in range(3)]
    assert (texts[0], texts[2]) == (str(EXAMPLE_ITEMS[heavy]["id"]), str(EXAMPLE_ITEMS[heavy]["quantity"]))
    assert f"row {heavy + 1}" in texts[1] or f"itemTable[{heavy}]" in texts[1]
    assert "generation" not in page.text_content("#progress-box") and "round" in page.text_content("#stage")
    # The page itself refuses what is not a number, before anything is sent.
    cell(page, "items", 1, "weight").fill("45,5")
    page.click("#plan")
    assert "decimal comma" in page.text_content("#rows-error")
    assert cell(page, "items", 1, "weight").get_attribute("aria-invalid") == "true"
    cell(page, "items", 1, "weight").fill("45.5")
    # What only the service can judge comes back with its words, at the row as submitted; the
    # blank load limits are no limits and are not marked.
    cell(page, "items", 2, "l").fill("-70")
    page.click("#plan")
    page.locator("#result").wait_for(state="hidden")
    bad = page.locator("#items input.bad")
    bad.wait_for()
    assert (bad.count(), bad.get_attribute("data-key")) == (1, "l")
    assert bad.evaluate("input => input.closest('tr').sectionRowIndex") == 2
    message = page.text_content("#rows-error")
    assert "l" in message and ("row 3" in message or "itemTable[2]" in message), message


def test_the_table_survives_a_reload_and_an_earlier_plan_comes_back_to_be_planned_again(
    page: Any,
) -> None:
    cell(page, "items", 0, "id").fill("SKU-101")
    cell(page, "items", 0, "max_load").fill("40")
    page.fill("#plan-name", "Order 17")
    page.select_option("#units", "in,lb")
    page.reload()
    assert cell(page, "items", 0, "id").input_value() == "SKU-101"
    assert [cell(page, "items", n, "max_load").input_value() for n in (0, 1)] == ["40", ""]
    assert page.input_value("#plan-name") == "Order 17"
    assert "max load (lb)" in page.text_content("#items thead")
    # Plan it (a text id where the service takes them), then change the table completely.
    plan = plan_and_wait(page, seed=11)
    assert page.locator("#view").get_by_text("item SKU-101").count() >= 1  # the 3D view's legend
    page.click("#clear-rows")
    assert page.locator("#items tbody tr").count() == 0
    page.fill("#opt-seed", "5")
    # Edit brings its rows, name, units and options back; Plan makes a new plan of them.
    history = page.locator("#plans tbody tr", has_text="Order 17").first
    history.locator("button[data-action=edit]").click()
    example_shown(page)
    assert page.input_value("#opt-seed") == "11" and page.input_value("#plan-name") == "Order 17"
    assert page.input_value("#units") == "in,lb" and cell(page, "items", 0, "id").input_value() == "SKU-101"
    assert [cell(page, "items", n, "max_load").input_value() for n in (0, 1)] == ["40", ""]
    cell(page, "items", 0, "quantity").fill("3")
    again = plan_and_wait(page)
    assert again["id"] != plan["id"] and again["name"] == "Order 17"
    placed = sum(row["items"] for row in again["report"]["containers"]) + sum(row["count"] for row in again["leftOut"])
    assert placed == sum(row["quantity"] for row in EXAMPLE_ITEMS) - EXAMPLE_ITEMS[0]["quantity"] + 3
    # Delete asks first (accepted here) and the plan leaves the list.
    before = page.locator("#plans tbody tr").count()
    page.locator("#plans tbody tr").first.locator("button[data-action=delete]").click()
    page.wait_for_function(f"document.querySelectorAll('#plans tbody tr').length === {before - 1}")


# The containers first: the files' columns, not their order, tell the tables apart (the reader's
# own test sends both orders).
@pytest.mark.parametrize("order", [["containers.csv", "items.csv"], ["shipment.xlsx"]])
def test_uploaded_files_fill_the_table_named_by_the_file(page: Any, tmp_path: Path, order: list[str]) -> None:
    files = {**example_csv(), "shipment.xlsx": example_workbook()}
    for name in order:
        content = files[name]
        (tmp_path / name).write_bytes(content if isinstance(content, bytes) else content.encode())
    # A row removed first, so the table the files fill differs from the page's own.
    page.locator("#items tbody tr").first.get_by_role("button", name="remove").click()
    page.click("#tab-files")
    # A broken file first: the reader's words, and the table the planner had untouched.
    (tmp_path / "broken.json").write_text('{"itemTable": [\n  {"id": 1, "l": "wide"}\n]}')
    page.set_input_files("#files", str(tmp_path / "broken.json"))
    page.locator("#files-error").wait_for(state="visible")
    error = "broken.json:2:18: item 1 (row 1): l: expected a number, got 'wide'"
    assert page.text_content("#files-error") == error and page.locator("#pane-rows").is_hidden()
    assert page.locator("#items tbody tr").count() == len(EXAMPLE_ITEMS) - 1
    page.set_input_files("#files", [str(tmp_path / name) for name in order])
    page.locator("#pane-rows").wait_for()
    assert page.text_content("#files-error") == ""
    assert page.locator("#items tbody tr").count() == len(EXAMPLE_ITEMS)
    assert cell(page, "items", 0, "quantity").input_value() == str(EXAMPLE_ITEMS[0]["quantity"])
    assert page.input_value("#plan-name").endswith(Path(order[0]).suffix)


def test_the_page_fits_a_phone(browser: Any, server: str) -> None:
    with opened(browser, server, viewport={"width": 390, "height": 844}, is_mobile=True, has_touch=True) as phone:
        example_shown(phone)
        plan_and_wait(phone)
        phone.locator("#plans tbody tr").first.wait_for()
        width = phone.evaluate("document.documentElement.scrollWidth")
        assert width <= 390, width
        # Nor is any table cut at its card's edge, to be swiped sideways.
        cut = phone.evaluate(
            "[...document.querySelectorAll('.scroll')].filter((box) => box.offsetParent !== null"
            " && box.scrollWidth > box.clientWidth).map((box) => box.firstElementChild.id)"
        )
        assert cut == [], cut


def test_the_token_is_asked_once_and_a_wrong_one_is_named(browser: Any, tmp_path: Path) -> None:
    with serving(tmp_path, stderr=None, env={**os.environ, "STOWRA_TOKEN": "s3cret"}) as (_, process):
        url = process.url  # type: ignore[attr-defined]  # the token from the environment
        with opened(browser, url) as page:
            page.locator("#token-form").wait_for()
            page.fill("#token", "nope")
            page.click("#token-form button")
            page.wait_for_function("document.getElementById('token-message').textContent.startsWith('Wrong token')")
            page.fill("#token", "s3cret")
            page.click("#token-form button")
            example_shown(page)
            # Another tab of the same browser session does not ask again.
            second = page.context.new_page()
            second.goto(url)
            second.locator("#plans tbody").wait_for(state="attached")
            second.wait_for_function("document.getElementById('health').textContent !== ''")
            assert second.locator("#token-box").is_hidden()
