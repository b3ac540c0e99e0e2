"""The API's request and answer bodies as Pydantic models: what a client may send is checked,
documented in the OpenAPI schema and refused with the service's own words from here.

The search options are built from the one table in :mod:`stowra.searches`; each is checked by
a validator that words a refusal as the service always has, and a refusal leaves as a
``ClientError`` (``{"error": "..."}``), never in the framework's own error format.
"""

from __future__ import annotations

import math
from dataclasses import fields
from typing import Annotated, Any, get_type_hints

from pydantic import (
    BaseModel,
    ConfigDict,
    Field,
    PlainValidator,
    ValidationError,
    ValidationInfo,
    WithJsonSchema,
    create_model,
)

from stowra.reading import ContainerReading, LeftOutRow, Reading
from stowra.searches import OPTIONS, SEARCHES, SearchOption
from stowra.service.plans import REPORT_LEAVES_OUT, ClientError, option_defaults
from stowra.service.settings import Settings

__all__ = [
    "ErrorAnswer",
    "OptionsAnswer",
    "PlanQueued",
    "PlanRequest",
    "PlanStatus",
    "SearchOptions",
    "check_options",
    "check_request",
]

_MAX_NAME = 120


def _shown(value: Any) -> str:
    return f"{value:g}" if isinstance(value, float) or abs(value) < 10**15 else "more"


def _whole(name: str, low: int, high: int) -> Any:
    def check(value: Any) -> int:
        whole = isinstance(value, int) and not isinstance(value, bool)
        whole = whole or (isinstance(value, float) and math.isfinite(value) and value.is_integer())
        if not whole:
            raise ValueError(f"{name} must be a whole number, got {value!r}")
        if not low <= value <= high:
            raise ValueError(f"{name} must be from {low} to {high}, got {_shown(value)}")
        return int(value)

    return check


def _seconds(name: str) -> Any:
    # A search the service runs must end: the bound is the service's own setting.
    def check(value: Any, info: ValidationInfo) -> float:
        most = info.context["settings"].max_time_limit if info.context else math.inf
        number = not isinstance(value, bool) and isinstance(value, int | float)
        if not number or (isinstance(value, float) and not math.isfinite(value)):
            raise ValueError(f"{name} must be a number of seconds, got {value!r}")
        if not 0 < value <= most:
            raise ValueError(
                f"{name} must be above 0 and at most {most:g} seconds on this service, "
                f"got {_shown(value)}"
            )
        return float(value)

    return check


def _share(name: str, low: float, high: float) -> Any:
    def check(value: Any) -> float:
        if (
            isinstance(value, bool)
            or not isinstance(value, int | float)
            or not low <= value <= high
        ):
            raise ValueError(f"{name} must be a number from {low:g} to {high:g}, got {value!r}")
        return float(value)

    return check


def _switch(name: str) -> Any:
    def check(value: Any) -> bool:
        if not isinstance(value, bool):
            raise ValueError(f"{name} must be true or false, got {value!r}")
        return value

    return check


def _search(value: Any) -> str:
    if value not in SEARCHES:
        raise ValueError(f"search must be one of {', '.join(SEARCHES)}, got {value!r}")
    return str(value)


def _field(option: SearchOption) -> Any:
    """The model field of one option: its check, and its schema as the table describes it."""
    schema: dict[str, Any] = {"description": option.help}
    if option.searches != SEARCHES:
        schema["description"] = f"{' and '.join(option.searches)} only: {option.help}"
    if option.kind is bool:
        check, schema["type"] = _switch(option.name), "boolean"
    elif option.kind is int:
        check, schema["type"] = _whole(option.name, int(option.low), int(option.high)), "integer"
        schema.update(minimum=int(option.low), maximum=int(option.high))
    elif option.low_open:
        check, schema["type"] = _seconds(option.name), "number"
        schema["exclusiveMinimum"] = option.low
    else:
        check, schema["type"] = _share(option.name, option.low, option.high), "number"
        schema.update(minimum=option.low, maximum=option.high)
    if isinstance(option.default, dict):
        each = ", ".join(f"{value:g} for {search}" for search, value in option.default.items())
        schema["description"] += f" (default {each})"
    else:
        schema["default"] = option.default
    kind = Annotated[Any, PlainValidator(check), WithJsonSchema(schema)]
    return (kind, None)


SearchOptions: type[BaseModel] = create_model(  # type: ignore[call-overload]
    "SearchOptions",
    __config__=ConfigDict(extra="forbid"),
    __doc__="Search options; any left out take the service's defaults (GET /api/options).",
    search=(
        Annotated[
            Any,
            PlainValidator(_search),
            WithJsonSchema({"type": "string", "enum": list(SEARCHES), "default": SEARCHES[0]}),
        ],
        None,
    ),
    **{option.name: _field(option) for option in OPTIONS},
)


def _refusal(error: ValidationError) -> ClientError:
    """The first problem Pydantic found, in the service's words."""
    problems = error.errors(include_url=False)
    # An unknown option is named first, as the service always has.
    problems.sort(key=lambda problem: problem["type"] != "extra_forbidden")
    problem = problems[0]
    if problem["type"] == "extra_forbidden":
        known = ", ".join(SearchOptions.model_fields)
        return ClientError(400, f"options: unknown option {problem['loc'][0]!r} (known: {known})")
    if problem["type"] == "value_error":
        return ClientError(400, f"options: {problem['ctx']['error']}")
    return ClientError(400, "options must be an object")


def check_options(given: Any, settings: Settings) -> dict[str, Any]:
    """The search options with the service's defaults filled in; ``ClientError`` 400 for
    anything off."""
    if given is None:
        given = {}
    if not isinstance(given, dict):
        raise ClientError(400, "options must be an object")
    try:
        checked = SearchOptions.model_validate(given, context={"settings": settings})
    except ValidationError as error:
        raise _refusal(error) from None
    chosen = checked.model_dump(exclude_unset=True)
    return {**option_defaults(settings, chosen.get("search", SEARCHES[0])), **chosen}


class PlanRequest(BaseModel):
    """A plan to search: the shipment, and optionally its options and a name."""

    model_config = ConfigDict(extra="forbid")

    # Read by the shipment reader, which names the row and field of anything off.
    shipment: Annotated[
        Any,
        WithJsonSchema(
            {
                "type": "object",
                "description": "itemTable and binTable as in a shipment JSON file; item rows "
                'may carry quantity, and units ({"length": "cm", "weight": "kg"}) says what '
                "the numbers are in",
            }
        ),
    ]
    options: Annotated[
        dict[str, Any] | None,
        WithJsonSchema(SearchOptions.model_json_schema()),
    ] = None
    name: str | None = Field(None, min_length=1, max_length=_MAX_NAME)


def check_request(document: Any) -> PlanRequest:
    """A JSON plan request as its model; ``ClientError`` 400 in the service's words."""
    try:
        return PlanRequest.model_validate(document)
    except ValidationError as error:
        problem = error.errors(include_url=False)[0]
        where = problem["loc"][0] if problem["loc"] else None
        if problem["type"] == "extra_forbidden":
            raise ClientError(400, f"the request body has an unknown key {where!r}") from None
        if where == "options":
            raise ClientError(400, "options must be an object") from None
        if where == "name":
            raise ClientError(400, f"name must be a text of 1 to {_MAX_NAME} characters") from None
        raise ClientError(
            400, 'the request body must be {"shipment": {...}, "options": {...}}'
        ) from None


class ErrorAnswer(BaseModel):
    """Every refusal and failure: words a person can act on."""

    error: str


class PlanQueued(BaseModel):
    id: str
    status: str = Field(description="queued")
    url: str = Field(description="where to poll the plan")
    warnings: list[str]


def _as_reported(kind: type, **nested: Any) -> type[BaseModel]:
    """The schema of a part of the reading as the status reports it: its own fields, less
    those the report leaves out; ``nested`` gives the schema of a field that holds such a
    part."""
    hints = get_type_hints(kind)
    return create_model(  # type: ignore[call-overload, no-any-return]
        kind.__name__,
        __config__=ConfigDict(**kind.__pydantic_config__),  # type: ignore[attr-defined]
        **{
            field.name: (nested.get(field.name, hints[field.name]), ...)
            for field in fields(kind)
            if f"{kind.__name__}.{field.name}" not in REPORT_LEAVES_OUT
        },
    )


Report = _as_reported(
    Reading,
    containers=tuple[_as_reported(ContainerReading), ...],  # type: ignore[misc]
)


class PlanStatus(BaseModel):
    """A plan as it is polled: status and progress, and once done the plan, its report and
    the left-out items."""

    id: str
    name: str
    status: str = Field(description="queued, running, done, failed or cancelled")
    options: dict[str, Any]
    warnings: list[str]
    progress: dict[str, Any] | None = Field(
        description="the search's latest step: for optimize stage (start, search, improve or "
        "done), round, cost and containers of the best plan so far, and seconds; for the exact "
        "search generation, bestFitness, cost and seconds"
    )
    plan: dict[str, Any] | None
    report: Report | None = Field(  # type: ignore[valid-type]
        description="the plan's figures, as every output shows them, without the loading "
        "steps (see the loading list) or the left-out items (see leftOut)"
    )
    leftOut: list[LeftOutRow] | None = Field(
        description="the items left out, grouped by the row they came from, with a reason"
    )
    error: str | None


class OptionInfo(BaseModel):
    name: str
    type: str
    low: float | None
    high: float | None
    help: str
    searches: list[str]


class OptionsAnswer(BaseModel):
    defaults: dict[str, Any] = Field(description="the default search's options")
    searches: dict[str, dict[str, Any]] = Field(description="each search's defaults")
    options: list[OptionInfo]
