"""The planning service's JSON API, in-process, with real worker processes and SQLite."""

from __future__ import annotations

import gzip
import io
import json
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest
from fastapi.testclient import TestClient
from pypdf import PdfReader
from service_helpers import ENDLESS, QUICK, example, running_service, searching, submit, wait_for

from stowra.examples import EXAMPLE_BINS, example_csv
from stowra.files import parse_shipment_object
from stowra.searches import run_search
from stowra.service.models import check_options
from stowra.service.settings import Settings
from stowra.service.store import INTERRUPTED

JSON = {"content-type": "application/json"}
ITEM = {"id": 7, "l": 60, "w": 40, "h": 40, "weight": 18, "factory": 1, "stackable": True}


@pytest.fixture(scope="module")
def client(tmp_path_factory: pytest.TempPathFactory) -> Iterator[TestClient]:
    data = tmp_path_factory.mktemp("service")
    with running_service(data, workers=2, max_items=500, max_body=200_000, max_time_limit=200) as client:
        yield client


# The optimize search at its least effort that still searches: one level, at most 30 rounds;
# the exact search with thousands of generations a second.
OPTIMIZE = {"search": "optimize", "effort": 1, "time_limit": 30, "threads": 1, "seed": 7}
FAST = {"search": "exact", "pop_size": 2, "generations": 3000, "time_limit": 60, "threads": 1, "seed": 7}


@pytest.mark.parametrize("options", [FAST, OPTIMIZE], ids=["exact", "optimize"])
def test_a_plan_is_exactly_what_its_search_returns_its_progress_stored_a_few_times_a_second(
    client: TestClient, capfd: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch, options: dict[str, Any]
) -> None:
    store = client.app.state.service.store  # type: ignore[attr-defined]
    writes, real = [], store.set_progress
    monkeypatch.setattr(store, "set_progress", lambda job, progress: (writes.append(progress), real(job, progress)))
    plan = wait_for(client, submit(client, options))
    assert plan["status"] == "done", plan["error"]
    capfd.readouterr()
    given = parse_shipment_object(example(), "shipment").input
    steps: list[dict[str, Any]] = []
    expected = json.loads(json.dumps(run_search(given, **options, progress=steps.append)))
    lines = capfd.readouterr().out.splitlines()
    # The progress shown is the search's own last step: the exact search's last generation
    # line, optimize's last report to its callable.
    if options["search"] == "exact":
        generations = [int(line.split()[2]) for line in lines if line.startswith("GA: Generation ")]
        assert plan["progress"]["generation"] == generations[-1] > 0
    else:
        assert plan["progress"].pop("seconds") > 0 and steps[-1].pop("seconds") > 0
        assert plan["progress"] == steps[-1] and steps[-1]["round"] > 0
    assert plan["progress"]["cost"] == plan["plan"]["cost"]
    assert len(writes) <= 4 * plan["plan"]["elapsedSeconds"] + 4, len(writes)
    got = plan["plan"]
    assert got.pop("elapsedSeconds") > 0
    expected.pop("elapsedSeconds")
    assert got == expected


TOO_MANY = {"itemTable": [{**ITEM, "quantity": 501}], "binTable": example()["binTable"]}
NOWHERE = {"itemTable": [ITEM, {**ITEM, "id": "SKU-8", "h": 900, "quantity": 2}], "binTable": example()["binTable"]}


def options(**given: Any) -> dict[str, Any]:
    return {"json": {"shipment": example(), "options": given}}


def body(data: bytes, content_type: str = "application/json") -> dict[str, Any]:
    return {"content": data, "headers": {"content-type": content_type}}


def upload(*files: tuple[str, bytes], **more: Any) -> dict[str, Any]:
    return {"files": [("files", file) for file in files], **more}


def asked(method: str, url: str, **headers: str) -> dict[str, Any]:
    return {"method": method, "url": url, "headers": {k.replace("_", "-"): v for k, v in headers.items()}}


@pytest.mark.parametrize(
    "request_args, status, words",
    [
        (body(b"{not json"), 400, "not JSON"),
        ({"json": {"itemTable": []}}, 400, '{"shipment"'),
        (options(time_limit=201), 400, "at most 200"),
        (options(pop_size=0), 400, "pop_size must be from 1"),
        (options(seeds=1), 400, "unknown option 'seeds'"),
        (options(search="pack"), 400, "one of optimize, exact, got 'pack'"),
        (options(threads=1.5), 400, "whole number"),
        ({"json": {"shipment": TOO_MANY}}, 400, "501 items"),
        ({"json": {"shipment": NOWHERE}}, 422, "item SKU-8 (row 2) (60x40x900) does not fit in any available bin type"),
        ({"json": {"shipment": {"items": "/etc/passwd"}}}, 422, "give the tables inline"),
        ({"json": {"shipment": example(), "name": "x" * 121}}, 400, "name must be a text of 1 to 120 characters"),
        ({"json": {"shipment": example(), "name": ""}}, 400, "name must be a text of 1 to 120 characters"),
        ({"json": {"shipment": {**example(), "units": "cm"}}}, 400, 'units must be {"length": "cm", "weight": "kg"}'),
        (body(b"x" * 200_001), 413, "200,000 bytes"),
        (body(b"a=b", "text/plain"), 415, "or as a multipart upload"),
        (upload(("s.json", b'{"itemTable": [{"id": 1, "l": true}]}')), 422, "s.json:1:31: item 1 (row 1): l: expected"),
        (upload(("s.toml", b'items = "../secret.csv"')), 422, "must name one of the uploaded files"),
        (upload(("notes.txt", b"{}")), 400, "shipment files end in"),
        (upload(("a.json", b"{}"), ("b.toml", b"")), 400, "not a.json, b.toml"),
        (upload(("a.csv", b""), ("a.csv", b"")), 400, "two files have the same name"),
        (upload(("../up.json", b"{}")), 422, "up.json:1:1: no items"),
        (upload(("s.json", b"{}"), data={"options": "{"}), 400, "options is not JSON"),
        (asked("GET", "/api/plans/nosuchplan"), 404, "no plan with id 'nosuchplan'"),
        (asked("GET", "/api/plans/nosuchplan/view.html"), 404, "no plan with id 'nosuchplan'"),
        (asked("GET", "/api/plans?limit=0"), 400, "limit: "),
        (asked("GET", "/api/nowhere"), 404, "not found: /api/nowhere"),
        (asked("PUT", "/api/plans"), 405, "PUT is not allowed on /api/plans"),
        # A number JSON does not have, numbers too large for any option, and a body too deep.
        (body(b'{"shipment": {}, "options": {"seed": NaN}}'), 400, "NaN is not a number JSON allows"),
        (
            body(b'{"options": {"seed": 1e400}, "shipment": %s}' % json.dumps(example()).encode()),
            400,
            "seed must be a whole number, got inf",
        ),
        ({"json": {"shipment": {"binTable": []}}}, 422, "no items: give itemTable"),
        (options(time_limit=10**400), 400, "at most 200 seconds on this service, got more"),
        (body(b'{"shipment": ' + b"[" * 50_000 + b"]" * 50_000 + b"}"), 400, "the request body is nested too deeply"),
        # What another site's page can make the planner's browser send.
        ({"content": json.dumps({"shipment": example()}).encode()}, 415, "(Content-Type: application/json)"),
        (upload(("s.json", b"{}"), headers={"origin": "http://evil.example"}), 403, "another site"),
        (asked("DELETE", "/api/plans/x", sec_fetch_site="cross-site"), 403, "another site"),
        (asked("GET", "/api/plans", host="evil.example:8000"), 400, "'evil.example:8000'; start it with --allow-host"),
        (asked("DELETE", "/api/plans/x", origin="http://127.0.0.1"), 404, "no plan with id 'x'"),
    ],
)
def test_refusals_are_json_with_words_a_client_can_act_on(
    client: TestClient, request_args: dict[str, Any], status: int, words: str
) -> None:
    answer = client.request(**{"method": "POST", "url": "/api/plans", **request_args})
    assert answer.status_code == status, answer.text
    assert answer.headers["content-type"] == "application/json"
    assert words in answer.json()["error"]
    assert "Traceback" not in answer.text


def test_pack_is_warned_that_types_beyond_the_second_go_unused(client: TestClient) -> None:
    # Which searches and tables are warned is test_cli's table; here, that the service passes it on.
    every_type = {**example(), "binTable": [{**row, "available": True} for row in EXAMPLE_BINS]}
    answer = client.post("/api/plans", json={"shipment": every_type, "options": ENDLESS})
    assert answer.status_code == 202, answer.text
    client.delete(answer.json()["url"])
    assert any("40HC will not be used" in text for text in answer.json()["warnings"])


def test_the_options_served_are_each_searchs_own_defaults_within_the_services_limits(client: TestClient) -> None:
    served = client.get("/api/options").json()
    # As the README documents them; the exact search's 300 s is cut to this service's limit.
    assert served["searches"]["optimize"]["time_limit"] == 60 and served["searches"]["exact"]["time_limit"] == 200
    assert served["searches"]["exact"]["pop_size"] == 100 and served["defaults"]["effort"] == 2
    assert served["defaults"] == served["searches"]["optimize"]
    given = check_options(None, Settings(max_time_limit=200))  # what a plan without options gets
    assert served["defaults"] == {**given, "threads": served["defaults"]["threads"]}
    readers = {option["name"]: option["searches"] for option in served["options"]}
    assert readers["effort"] == ["optimize"] and readers["generations"] == ["exact"]
    # A time limit given is kept, and the search is still the default one.
    options = check_options({"time_limit": 5}, Settings(max_time_limit=200))
    assert (options["search"], options["time_limit"]) == ("optimize", 5.0)


# Open without the token: the page (which then asks for it) and its script, the API's
# documentation and the health check.
OPEN_ROUTES = {("GET", path) for path in ("/", "/static/plotly.min.js", "/healthz", "/openapi.json", "/redoc")}
OPEN_ROUTES |= {("GET", "/docs"), ("GET", "/docs/oauth2-redirect")}


def every_route(routes: list[Any], prefix: str = "") -> Iterator[tuple[str, str]]:
    """Each method and path the app answers, a path's parameters filled in."""
    for route in routes:
        if inner := getattr(route, "original_router", None):  # an included router, kept whole
            yield from every_route(inner.routes, prefix + route.include_context.prefix)
            continue
        for method in set(route.methods) - {"HEAD"}:
            yield method, prefix + route.path.replace("{", "").replace("}", "")


def test_a_token_guards_every_route_of_every_router_but_the_page_and_health(tmp_path: Path) -> None:
    with running_service(tmp_path, token="s3cret") as client:
        # Walked from the app, so a route or router added without the guard is caught here.
        routes = set(every_route(client.app.routes))
        assert routes > OPEN_ROUTES and len(routes) > len(OPEN_ROUTES) + 10
        for method, path in sorted(routes):
            missing, wrong, right = (
                client.request(method, path, headers={"Authorization": f"Bearer {token}"} if token else {})
                for token in (None, "nope", "s3cret")
            )
            if (method, path) in OPEN_ROUTES:
                assert missing.status_code == 200, path
                continue
            assert (missing.status_code, wrong.status_code) == (401, 401), (method, path)
            assert "send the header 'Authorization: Bearer TOKEN'" in missing.json()["error"]
            assert wrong.json()["error"].startswith("wrong token")
            assert right.status_code != 401, (method, path)


def test_the_token_comes_from_the_command_line_or_else_stowra_token() -> None:
    given = [(None, "env"), ("flag", "env"), (None, "")]  # the flag, and STOWRA_TOKEN
    tokens = [Settings.from_environment({"STOWRA_TOKEN": env}, token=flag).token for flag, env in given]
    assert tokens == ["env", "flag", None]


BEFORE = {"generation": 9, "bestFitness": 5.0, "cost": 4800.0, "seconds": 1.0}


@pytest.mark.parametrize(
    "line, expected",
    [
        ("GA: Initial best fitness = 1.79769e+308", {"generation": 0, "bestFitness": 1.79769e308, "cost": None}),
        ("GA: Generation 12 best fitness = 7 (cost=24, cp=1)", {"generation": 12, "bestFitness": 7.0, "cost": 24.0}),
        ("GA: Generation 20 best fitness = 5", {"generation": 20, "bestFitness": 5.0, "cost": 4800.0}),
        ("GA: Time limit reached at generation 31", {"generation": 31, "bestFitness": 5.0, "cost": 4800.0}),
        ("some other output", None),
    ],
)
def test_progress_lines_carry_over_what_they_do_not_say(line: str, expected: dict[str, Any] | None) -> None:
    from stowra.service.workers import parse_progress

    found = parse_progress(line, BEFORE, 2.0)
    assert found == (None if expected is None else {**expected, "seconds": 2.0})


def test_a_done_plans_status_grows_with_its_items_only_in_the_plan_itself(client: TestClient) -> None:
    # A client may poll a done plan again and again: its report and left-out list hold one
    # entry per container and per submitted row, never one per item.
    sizes = []
    for count in (20, 400):
        rows = [{**ITEM, "l": 20, "w": 20, "h": 20, "quantity": count}]
        plan = wait_for(client, submit(client, QUICK, {"itemTable": rows, "binTable": example()["binTable"]}))
        assert plan["status"] == "done" and plan["plan"]["totalBins"] == 1, plan["error"]
        sizes.append(len(json.dumps({key: value for key, value in plan.items() if key != "plan"})))
    # 380 more items: only the figures' digits may differ, far less than a byte per item.
    assert sizes[1] - sizes[0] < 100, sizes


def test_uploaded_files_are_read_back_as_their_rows_and_planned(client: TestClient) -> None:
    # A plan's rows, name, units and options coming back to be edited is the page's own test.
    files = [("files", (name, data.encode())) for name, data in example_csv().items()]  # TOML naming two CSV
    read = client.post("/api/shipment", files=files).json()
    assert (read["name"], read["itemTable"]) == ("shipment.toml", example()["itemTable"])  # quantities folded again
    answer = client.post("/api/plans", files=files, data={"options": json.dumps(QUICK)})
    assert answer.status_code == 202, answer.text
    plan = wait_for(client, answer.json()["id"])
    assert plan["status"] == "done" and plan["options"]["pop_size"] == QUICK["pop_size"]
    assert client.get(f"/api/plans/{plan['id']}/shipment").json()["itemTable"] == read["itemTable"]
    # Its loading sheet on the paper asked for (what the sheet holds is test_loading_sheet's).
    sheet = client.get(f"/api/plans/{plan['id']}/loading-sheet.pdf?paper=letter")
    assert sheet.headers["content-type"] == "application/pdf"
    pages = PdfReader(io.BytesIO(sheet.content)).pages
    assert len(pages) >= 1 + plan["plan"]["totalBins"] and [float(side) for side in pages[0].mediabox[2:]] == [612, 792]
    refused = client.get(f"/api/plans/{plan['id']}/loading-sheet.pdf?paper=legal")
    assert refused.status_code == 400 and "paper" in refused.json()["error"]


def test_plans_and_downloads_survive_a_restart_kept_compressed_and_a_search_cut_short_is_marked(
    tmp_path: Path,
) -> None:
    names = ("loading-list.csv", "view.json")
    with running_service(tmp_path) as client:
        job = submit(client, QUICK)
        assert wait_for(client, job)["status"] == "done"
        for name in names:
            first = client.get(f"/api/plans/{job}/{name}")
            kept = tmp_path / "artefacts" / f"{job}.{name}.gz"
            assert first.headers["content-encoding"] == "gzip" and kept.exists()
            plain = client.get(f"/api/plans/{job}/{name}", headers={"accept-encoding": "identity"})
            assert "content-encoding" not in plain.headers and plain.content == first.content
            # The kept file is what is sent: the plan is not read again.
            kept.write_bytes(gzip.compress(b"kept"))
            assert client.get(f"/api/plans/{job}/{name}").content == b"kept"
        cut_short = submit(client, ENDLESS)
        wait_for(client, cut_short, searching)
    # What a killed service left: a file half written, files of a plan deleted meanwhile.
    (tmp_path / "pictures").mkdir()
    gone = "0123456789ab"
    leftovers = [f"artefacts/.{job}.1a2b3c4d.partial.gz", f"artefacts/{gone}.view.json.gz", f"pictures/{gone}.png"]
    for name in leftovers:
        (tmp_path / name).write_bytes(b"left")
    with running_service(tmp_path) as client:
        kept = sorted(path.name for path in tmp_path.glob("*/*"))
        assert kept == [f"{job}.{name}.gz" for name in names]
        plan = client.get(f"/api/plans/{job}").json()
        assert plan["status"] == "done" and plan["plan"]["totalBins"] > 0
        cut = client.get(f"/api/plans/{cut_short}").json()
        assert (cut["status"], cut["error"], cut["plan"]) == ("failed", INTERRUPTED, None)
        assert [entry["id"] for entry in client.get("/api/plans").json()["plans"]] == [cut_short, job]
        assert client.delete(f"/api/plans/{job}").json() == {"id": job, "deleted": True}
        assert list(tmp_path.glob("*/*")) == []
