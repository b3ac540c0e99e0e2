"""``/api/plans``: submit a shipment, follow its search, fetch the plan and its downloads."""

from __future__ import annotations

import dataclasses
import gzip
import importlib.util
import json
from typing import Annotated, Any, Literal

from fastapi import APIRouter, Depends, Query, Request
from fastapi.responses import JSONResponse, Response
from starlette.concurrency import run_in_threadpool
from starlette.datastructures import UploadFile
from starlette.requests import ClientDisconnect

from stowra.examples import EXAMPLE_BINS, EXAMPLE_ITEMS
from stowra.item_rows import explain
from stowra.reading import Reading, search_notes
from stowra.searches import OPTIONS, SEARCHES
from stowra.service.models import (
    ErrorAnswer,
    OptionsAnswer,
    PlanQueued,
    PlanRequest,
    PlanStatus,
    check_options,
    check_request,
)
from stowra.service.plans import (
    ClientError,
    option_defaults,
    plan_reading,
    shipment_from_files,
    shipment_from_object,
    sources_from_json,
    sources_to_json,
    table_rows,
)
from stowra.service.runtime import Running, Service, require_token
from stowra.service.store import NewJob, QueueFull
from stowra.service.workers import CheckUnavailable

_MAX_NAME = 120

# The JSON body is read by hand (its size is bounded while it arrives, and a multipart upload
# comes the same way), so its model is named for the schema here and checked in the route.
_SUBMIT_DOC: dict[str, Any] = {
    "requestBody": {
        "content": {
            "application/json": {
                "schema": PlanRequest.model_json_schema(),
                "example": {
                    "shipment": {"itemTable": EXAMPLE_ITEMS[:1], "binTable": EXAMPLE_BINS[:1]},
                    "options": {"search": "optimize", "time_limit": 30},
                },
            },
            "multipart/form-data": {
                "schema": {
                    "type": "object",
                    "properties": {
                        "files": {"type": "array", "items": {"type": "string", "format": "binary"}},
                        "options": {"type": "string", "description": "the options as JSON"},
                        "name": {"type": "string", "maxLength": _MAX_NAME},
                    },
                }
            },
        }
    }
}
# Every refusal has one shape.
_ERRORS: dict[int | str, dict[str, Any]] = {
    status: {"model": ErrorAnswer} for status in (400, 401, 404, 413, 415, 422, 429, 503)
}
router = APIRouter(
    prefix="/api", tags=["plans"], dependencies=[Depends(require_token)], responses=_ERRORS
)


async def _body(request: Request, limit: int) -> bytes:
    """The request body, refused with 413 as soon as it passes ``limit`` bytes."""
    too_big = ClientError(
        413, f"the request body is larger than this service's limit of {limit:,} bytes"
    )
    declared = request.headers.get("content-length", "")
    if declared.isdigit() and int(declared) > limit:
        raise too_big
    chunks, size = [], 0
    try:
        async for chunk in request.stream():
            size += len(chunk)
            if size > limit:
                raise too_big
            chunks.append(chunk)
    except ClientDisconnect:  # gone, or closed for sending too slowly: no one to answer
        raise ClientError(400, "the request body did not arrive in full") from None
    return b"".join(chunks)


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a number JSON allows")


def _json(text: bytes | str, what: str) -> Any:
    try:
        return json.loads(text, parse_constant=_no_constant)
    except (ValueError, UnicodeDecodeError) as error:
        raise ClientError(400, f"{what} is not JSON: {error}") from None
    except RecursionError:
        raise ClientError(400, f"{what} is nested too deeply") from None


def _plan_name(value: Any) -> str | None:
    if value is None:
        return None
    if not isinstance(value, str) or not value.strip() or len(value) > _MAX_NAME:
        raise ClientError(400, f"name must be a text of 1 to {_MAX_NAME} characters")
    return value.strip()


def _units(value: Any) -> dict[str, str] | None:
    """The units a shipment's numbers are in: only said, never converted."""
    if value is None:
        return None
    if (
        not isinstance(value, dict)
        or set(value) != {"length", "weight"}
        or not all(isinstance(unit, str) and 0 < len(unit) <= 10 for unit in value.values())
    ):
        raise ClientError(
            400, 'shipment: units must be {"length": "cm", "weight": "kg"} or the like'
        )
    return {"length": value["length"], "weight": value["weight"]}


async def _read_upload(request: Request, running: Service) -> tuple[Any, Any, list[str], Any]:
    """(shipment, options, file names, name field) of a multipart upload."""
    settings = running.settings
    body = await _body(request, settings.max_body)
    request._body = body  # the form parser reads the body already taken in
    async with request.form(max_files=20, max_fields=20, max_part_size=settings.max_body) as form:
        uploads = [item for item in form.getlist("files") if isinstance(item, UploadFile)]
        files = [(item.filename, await item.read()) for item in uploads]
        options_text = form.get("options")
        name = form.get("name")
    for field, value in (("options", options_text), ("name", name)):
        if value is not None and not isinstance(value, str):
            raise ClientError(400, f"{field} must be a form field, not a file")
    options = _json(options_text, "options") if options_text else None
    shipment = await run_in_threadpool(shipment_from_files, files, settings)
    return shipment, options, [name for name, _ in files], name


async def _read_submission(request: Request, running: Service) -> tuple[Any, Any, Any]:
    """(shipment, options as sent, what was submitted) from a JSON body or an upload."""
    kind = request.headers.get("content-type", "").split(";")[0].strip().lower()
    if kind == "multipart/form-data":
        shipment, options, names, name = await _read_upload(request, running)
        named = _plan_name(name)
        if named:
            shipment = dataclasses.replace(shipment, name=named)
        return shipment, options, {"files": names}
    # A plain form or a body with no type is what another site's page can send unasked.
    if kind != "application/json":
        raise ClientError(
            415,
            "send the plan as JSON (Content-Type: application/json) or as a multipart upload "
            "of shipment files",
        )
    body = await _body(request, running.settings.max_body)
    document = check_request(_json(body, "the request body"))
    given = document.shipment
    units = _units(given.pop("units", None)) if isinstance(given, dict) else None
    shipment = await run_in_threadpool(shipment_from_object, given, running.settings)
    name = _plan_name(document.name)
    if name:
        shipment = dataclasses.replace(shipment, name=name)
    return shipment, document.options, {**given, **({"units": units} if units else {})}


@router.post(
    "/plans",
    status_code=202,
    openapi_extra=_SUBMIT_DOC,
    response_model=PlanQueued,
)
async def submit_plan(request: Request, running: Running) -> JSONResponse:
    """Queue a shipment for planning: a JSON body, or shipment files as a multipart upload."""
    shipment, given_options, submitted = await _read_submission(request, running)
    options = check_options(given_options, running.settings)
    try:
        refusal = await run_in_threadpool(running.pool.check, shipment.input)
    except CheckUnavailable as error:
        raise ClientError(503, str(error), {"Retry-After": "5"}) from None
    if refusal is not None:
        text, where = explain(refusal, shipment.input, shipment.item_sources, shipment.bin_sources)
        raise ClientError(422, f"{text} ({where})" if where else text)
    job = NewJob(
        name=shipment.name,
        submitted=submitted,
        input=shipment.input,
        sources=sources_to_json(shipment),
        options=options,
        warnings=[*shipment.warnings, *search_notes(shipment.input, options["search"])],
    )
    try:
        job_id = await run_in_threadpool(running.store.submit, job, running.settings.max_queue)
    except QueueFull:
        raise ClientError(
            429,
            f"{running.settings.max_queue} plans are already waiting; try again later",
            {"Retry-After": str(running.settings.retry_after)},
        ) from None
    running.pool.wake()
    queued = PlanQueued(
        id=job_id, status="queued", url=f"/api/plans/{job_id}", warnings=job.warnings
    )
    return JSONResponse(queued.model_dump(), status_code=202)


@router.get("/plans")
def list_plans(
    running: Running, limit: Annotated[int, Query(ge=1, le=1000)] = 50
) -> dict[str, Any]:
    """The most recent plans, newest first, without their plans."""
    return {"plans": running.store.recent(limit)}


# The store's column of each field of PlanStatus that is kept as JSON text.
_STORED_JSON = {
    "options": "options",
    "warnings": "warnings",
    "progress": "progress",
    "plan": "result",
    "report": "report",
    "leftOut": "left_out",
}


@router.get("/plans/{job}", response_model=PlanStatus)
def get_plan(job: str, running: Running) -> Response:
    """Status, progress and, once done, the plan, its report and the left-out items."""
    row = running.job(job)
    # The stored JSON texts go out as they are, in PlanStatus's fields: a done plan can be
    # megabytes, and this is the path a client polls.
    fields = (
        (key, row[_STORED_JSON[key]] or "null" if key in _STORED_JSON else json.dumps(row[key]))
        for key in PlanStatus.model_fields
    )
    body = "{" + ",".join(f"{json.dumps(key)}:{value}" for key, value in fields) + "}"
    return Response(body, media_type="application/json")


@router.delete("/plans/{job}")
def delete_plan(job: str, running: Running) -> dict[str, Any]:
    """Cancel a queued or running plan (its worker is ended), or delete a finished one."""
    before = running.store.cancel_or_delete(job)
    if before is None:
        raise ClientError(404, f"no plan with id {job!r}")
    if before == "running":
        running.pool.cancel(job)
    if before in ("queued", "running"):
        return {"id": job, "status": "cancelled"}
    running.forget(job)
    return {"id": job, "deleted": True}


def _download(
    request: Request, running: Service, job: str, name: str, make: Any, media_type: str
) -> Response:
    """A done plan's download, made once and kept; sent compressed to a client that takes it."""
    running.job(job)  # 404 before anything is made
    data = running.artefact(job, name, make)
    headers = {"Vary": "Accept-Encoding"}
    if name.endswith((".csv", ".pdf")):
        headers["Content-Disposition"] = f'attachment; filename="plan-{job}-{name}"'
    if "gzip" in request.headers.get("accept-encoding", "").lower():
        return Response(
            data, media_type=media_type, headers={**headers, "Content-Encoding": "gzip"}
        )
    return Response(gzip.decompress(data), media_type=media_type, headers=headers)


@router.get("/plans/{job}/loading-list.csv")
def loading_list(job: str, request: Request, running: Running) -> Response:
    def make() -> bytes:
        from stowra.loading_list import loading_list_text

        return loading_list_text(_reading(job, running)[0])[0].encode("utf-8")

    return _download(request, running, job, "loading-list.csv", make, "text/csv; charset=utf-8")


def _needs(module: str, what: str) -> None:
    if importlib.util.find_spec(module) is None:
        raise ClientError(501, f"{what} needs {module}: pip install 'stowra[plot]'")


def _reading(job: str, running: Service) -> tuple[Reading, dict[str, Any], dict[str, Any]]:
    """A done plan's reading, with its result and input."""
    result, problem, sources = running.finished(job)
    options = json.loads(running.job(job)["options"])
    return plan_reading(result, problem, sources, options), result, problem


@router.get("/plans/{job}/view.html")
def view_html(job: str, request: Request, running: Running) -> Response:
    """The interactive 3D view the command line writes with --html."""
    _needs("plotly", "the 3D view")

    def make() -> bytes:
        from stowra.html_view import view_page

        reading, result, problem = _reading(job, running)
        return view_page(result, problem, reading).encode("utf-8")

    return _download(request, running, job, "view.html", make, "text/html; charset=utf-8")


@router.get("/plans/{job}/view.json", include_in_schema=False)
def view_json(job: str, request: Request, running: Running) -> Response:
    """The same view as a plotly figure, for the web page to draw with its own script."""
    _needs("plotly", "the 3D view")

    def make() -> bytes:
        from stowra.html_view import plan_view

        reading, result, problem = _reading(job, running)
        return plan_view(result, problem, reading).to_json().encode("utf-8")

    return _download(request, running, job, "view.json", make, "application/json")


@router.get("/plans/{job}/picture.png")
def picture(job: str, running: Running) -> Response:
    """Every container drawn in 3D (drawn once, then kept in the data folder)."""
    _needs("matplotlib", "the picture")
    reading, result, problem = _reading(job, running)
    path = running.pictures / f"{job}.png"
    with running.picture_lock:  # one drawing at a time: it is slow and holds the interpreter
        if not path.exists():
            from stowra.plotting import plot, save_png

            running.pictures.mkdir(parents=True, exist_ok=True)
            figure = plot(result, problem, reading)
            running.keep(job, path, lambda temporary: save_png(figure, temporary))
        try:
            data = path.read_bytes()
        except FileNotFoundError:  # a DELETE removed it just now
            raise ClientError(404, f"no plan with id {job!r}") from None
    return Response(data, media_type="image/png")


@router.get("/plans/{job}/shipment")
def plan_shipment(job: str, running: Running) -> dict[str, Any]:
    """A plan's shipment as table rows (quantities kept), its name and options: to edit and
    plan again."""
    row = running.job(job)
    submitted = json.loads(row["submitted"])
    if isinstance(submitted, dict) and "itemTable" in submitted:
        shipment = {
            key: submitted[key] for key in ("itemTable", "binTable", "units") if key in submitted
        }
    else:  # uploaded files: their rows as read
        shipment = table_rows(
            json.loads(row["input"]), sources_from_json(json.loads(row["sources"]))
        )
    return {**shipment, "name": row["name"], "options": json.loads(row["options"])}


@router.post("/shipment")
async def read_shipment(request: Request, running: Running) -> dict[str, Any]:
    """Uploaded shipment files read into table rows, without planning them."""
    kind = request.headers.get("content-type", "").split(";")[0].strip().lower()
    if kind != "multipart/form-data":
        raise ClientError(415, "send shipment files as a multipart upload in the field 'files'")
    shipment, _, _, _ = await _read_upload(request, running)
    return {
        **table_rows(shipment.input, shipment.item_sources),
        "name": shipment.name,
        "warnings": shipment.warnings,
    }


@router.get("/options", response_model=OptionsAnswer)
def search_options(running: Running) -> dict[str, Any]:
    """The search options this service takes: the defaults of the default search, each
    search's defaults, and each option's bounds, help and the searches that read it."""
    settings = running.settings
    return {
        "defaults": option_defaults(settings),
        "searches": {search: option_defaults(settings, search) for search in SEARCHES},
        "options": [
            {
                "name": o.name,
                "type": {bool: "boolean", int: "integer", float: "number"}[o.kind],
                "low": o.low,
                "high": settings.max_time_limit if o.low_open else o.high,
                "help": o.help,
                "searches": list(o.searches),
            }
            for o in OPTIONS
        ],
    }


@router.get("/plans/{job}/loading-sheet.pdf")
def loading_sheet_pdf(
    job: str,
    request: Request,
    running: Running,
    paper: Annotated[Literal["a4", "letter"], Query()] = "a4",
) -> Response:
    """The loading sheet for the warehouse crew: a summary page, then each container's
    pictures, loading steps in stages, weight and centre of gravity (PDF, A4 or Letter)."""
    for module, name in (("fpdf", "fpdf2"), ("matplotlib", "matplotlib")):
        if importlib.util.find_spec(module) is None:
            raise ClientError(501, f"the loading sheet needs {name}: pip install 'stowra[pdf]'")

    def make() -> bytes:
        from stowra.loading_sheet import loading_sheet

        reading, _, problem = _reading(job, running)
        title = str(running.job(job)["name"])
        with running.picture_lock:  # drawing is slow and holds the interpreter: one at a time
            return loading_sheet(reading, problem, title=title, paper=paper)

    name = f"loading-sheet-{paper}.pdf"
    return _download(request, running, job, name, make, "application/pdf")


@router.get("/example")
def example() -> dict[str, Any]:
    """The built-in example shipment, to start a plan from."""
    return {"itemTable": EXAMPLE_ITEMS, "binTable": EXAMPLE_BINS}
