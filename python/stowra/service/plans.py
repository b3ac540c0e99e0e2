"""What the API does with a plan, apart from HTTP: reading the shipment a client sent, its
options' defaults on this service, and turning a finished search into the report, left-out list and downloads."""

from __future__ import annotations

import dataclasses
import re
import tempfile
from collections.abc import Mapping, Sequence
from pathlib import Path, PurePath
from typing import Any

from stowra.files import (
    SHIPMENT_SUFFIXES,
    RowSource,
    Shipment,
    load_shipment,
    parse_shipment_object,
)
from stowra.reading import Reading, read_plan
from stowra.searches import DEFAULT_BALANCE_LIMIT, DEFAULT_SEARCH, defaults
from stowra.service.settings import Settings

__all__ = [
    "REPORT_LEAVES_OUT",
    "ClientError",
    "option_defaults",
    "outcome",
    "plan_reading",
    "shipment_from_files",
    "shipment_from_object",
    "sources_from_json",
    "sources_to_json",
    "table_rows",
]


class ClientError(Exception):
    """Something the client sent or asked for that the service refuses: status and words."""

    def __init__(self, status: int, message: str, headers: Mapping[str, str] | None = None):
        super().__init__(message)
        self.status = status
        self.message = message
        self.headers = dict(headers or {})


def option_defaults(settings: Settings, search: str = DEFAULT_SEARCH) -> dict[str, Any]:
    """The options a plan of ``search`` runs with when it sets none, on this service."""
    chosen = defaults(search)
    chosen["threads"] = settings.default_threads()
    chosen["time_limit"] = min(chosen["time_limit"], settings.max_time_limit)
    return chosen


def _check_size(shipment: Shipment, settings: Settings) -> Shipment:
    count = len(shipment.input["itemTable"])
    if count > settings.max_items:
        raise ClientError(
            400,
            f"{shipment.name}: {count:,} items (after quantities) is more than this service's "
            f"limit of {settings.max_items:,}",
        )
    return shipment


def shipment_from_object(document: Any, settings: Settings) -> Shipment:
    """The shipment of a JSON request; the reader's complaints become 422."""
    try:
        return _check_size(parse_shipment_object(document, "shipment"), settings)
    except ValueError as error:
        # The body is not a file: its rows are named by id and row alone.
        raise ClientError(422, str(error).removeprefix("shipment: ")) from None


def _upload_name(name: str | None) -> str:
    base = PurePath((name or "").replace("\\", "/")).name
    if not base or base.startswith(".") or not re.fullmatch(r"[\w .()+-]+", base):
        raise ClientError(400, f"upload: {name!r} is not a usable file name")
    if PurePath(base).suffix.lower() not in SHIPMENT_SUFFIXES:
        raise ClientError(
            400, f"upload: {base!r}: shipment files end in {', '.join(SHIPMENT_SUFFIXES)}"
        )
    return base


def shipment_from_files(files: Sequence[tuple[str | None, bytes]], settings: Settings) -> Shipment:
    """Read uploaded shipment files with the command line's reader.

    One JSON, TOML or Excel file (a JSON or TOML file may name CSV files uploaded with it), or
    two CSV files, the items and the containers in either order.
    """
    if not files:
        raise ClientError(400, "upload: no files: send shipment files in the field 'files'")
    names = [_upload_name(name) for name, _ in files]
    if len(set(names)) != len(names):
        raise ClientError(400, "upload: two files have the same name")
    mains = [n for n in names if PurePath(n).suffix.lower() != ".csv"]
    if len(mains) > 1:
        raise ClientError(400, f"upload: give one shipment file, not {', '.join(mains)}")
    with tempfile.TemporaryDirectory(prefix="stowra-upload-") as folder:
        for name, (_, data) in zip(names, files, strict=True):
            (Path(folder) / name).write_bytes(data)
        prefix = folder + "/"
        try:
            shipment = load_shipment([prefix + name for name in mains or names], confined=True)
        except ValueError as error:
            raise ClientError(422, str(error).replace(prefix, "")) from None
    # Name the files as the client did, not by where they were kept for reading.
    shipment = dataclasses.replace(
        shipment,
        name=shipment.name.replace(prefix, ""),
        item_sources=_unprefixed(shipment.item_sources, prefix),
        bin_sources=_unprefixed(shipment.bin_sources, prefix),
        warnings=[warning.replace(prefix, "") for warning in shipment.warnings],
    )
    return _check_size(shipment, settings)


def _unprefixed(sources: Sequence[RowSource], prefix: str) -> list[RowSource]:
    # A row's items share its source: each is renamed once.
    renamed: list[RowSource] = []
    last = new = None
    for source in sources:
        if source is not last:
            last, new = source, source._replace(file=source.file.replace(prefix, ""))
        renamed.append(new)  # type: ignore[arg-type]
    return renamed


def sources_to_json(shipment: Shipment) -> list[list[Any]]:
    return [[s.file, s.line, s.id, s.row, s.line_word] for s in shipment.item_sources]


def sources_from_json(rows: Sequence[Sequence[Any]]) -> list[RowSource]:
    # Plans stored before sheets said "row" have four fields.
    return [RowSource(*fields) for fields in rows]


def plan_reading(
    result: Mapping[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource],
    options: Mapping[str, Any] | None = None,
) -> Reading:
    """The reading of a finished plan, as the options it ran with say."""
    options = options or {}
    return read_plan(
        result,
        problem,
        sources,
        search=options.get("search", DEFAULT_SEARCH),
        balance_limit=options.get("balance_limit", DEFAULT_BALANCE_LIMIT),
    )


# A done plan's status is sent on every poll: its report leaves out what grows with the
# items, each container's loading steps (the loading list and sheet downloads carry them), and
# the left-out rows, which the status gives once, as leftOut.
REPORT_LEAVES_OUT = ("ContainerReading.steps", "Reading.left_out")


def outcome(
    result: dict[str, Any],
    problem: Mapping[str, Any],
    sources: Sequence[RowSource],
    options: Mapping[str, Any] | None = None,
) -> dict[str, Any]:
    """What a finished job stores besides the plan: its report, its left-out rows and the
    summary the list of plans shows, all from the plan's one reading."""
    reading = plan_reading(result, problem, sources, options)
    totals = reading.totals
    return {
        "plan": result,
        "report": reading.to_json(REPORT_LEAVES_OUT),
        "leftOut": [row.to_json() for row in reading.left_out],
        "summary": {
            "cost": totals.cost,
            "totalBins": totals.containers,
            "items": totals.items,
            "leftOut": totals.left_out,
            "types": [name for name, _ in totals.mix],
            # Containers a loading supervisor would refuse as they stand (the plan checker's
            # findings and the rules' marks): a plan with any is never shown as plainly done.
            "warnings": sum(1 for row in reading.containers if row.warnings),
        },
    }


def table_rows(problem: Mapping[str, Any], sources: Sequence[RowSource]) -> dict[str, Any]:
    """The shipment as the rows it was read from: the items of one source row (quantities
    expanded) become that row again with its quantity, named by the id the row gave."""
    items: list[dict[str, Any]] = []
    last: tuple[Any, ...] | None = None
    for index, item in enumerate(problem["itemTable"]):
        source = sources[index] if index < len(sources) else None
        fields = {key: value for key, value in item.items() if key != "id"}
        key = (
            (source.file, source.line, source.row, source.id) if source else (index,),
            sorted(fields.items()),
        )
        if key == last:
            items[-1]["quantity"] += 1
            continue
        given_id = source.id if source is not None and source.id is not None else item.get("id")
        items.append({"id": given_id, **fields, "quantity": 1})
        last = key
    return {"itemTable": items, "binTable": [dict(row) for row in problem["binTable"]]}
