"""What every shipment reader shares: the columns and value kinds of both tables, the row
checks, and expanding ``quantity`` into one row per item, each remembering its file and line.

Readers check only what a file can get wrong on its own (syntax, value kinds, quantities);
missing keys, sizes and fit are left to ``pack``, whose messages are the product's.
"""

from __future__ import annotations

import collections
import itertools
import math
import operator
import re
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Literal, NamedTuple

__all__ = [
    "BIN_COLUMNS",
    "COLUMNS",
    "CSV_KEYS",
    "ITEM_COLUMNS",
    "MAX_ID_LENGTH",
    "MAX_ITEMS",
    "Locator",
    "RawTable",
    "RowSource",
    "Shipment",
    "ShipmentError",
    "TableName",
    "build_shipment",
    "convert",
    "fail",
    "ignored_keys",
    "row_label",
]

Kind = Literal["int", "float", "bool", "str", "count", "id"]

ITEM_COLUMNS: dict[str, Kind] = {
    "id": "id",
    "l": "float",
    "w": "float",
    "h": "float",
    "weight": "float",
    "factory": "int",
    "stackable": "bool",
    "quantity": "count",
    # The most weight that may rest on the item; absent, empty or null for no limit.
    "max_load": "float",
}
# Columns a row may leave out: an empty value is the same as none.
_OPTIONAL = frozenset({"max_load"})
BIN_COLUMNS: dict[str, Kind] = {
    "id": "str",
    "l": "float",
    "w": "float",
    "h": "float",
    "cost": "int",
    "weight_limit": "float",
    "available": "bool",
}
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# Whole numbers a float holds exactly; larger ones take the slow path, which names overflow.
_FLOAT_EXACT = 2**53
# Items in one shipment after quantities are expanded: far beyond a ship's worth of containers,
# and small enough that a mistyped quantity cannot eat the machine's memory.
MAX_ITEMS = 100_000
_SHOWN = 40  # characters of a bad value quoted in a message
_PLAIN_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_PLAIN_WHOLE = re.compile(r"[+-]?[0-9]+")
# Longest item id: real item numbers are text (SKU-101); a whole paragraph is a mistake.
MAX_ID_LENGTH = 64
_TRUE_WORDS = {"true", "yes", "y", "1"}
_FALSE_WORDS = {"false", "no", "n", "0"}
_KIND_WORDS = {
    "int": "a whole number",
    "count": "a whole number of items (0 or more)",
    "float": "a number",
    "bool": "true or false",
    "str": "text",
    "id": f"an item id (a whole number or text up to {MAX_ID_LENGTH} characters)",
}
TableName = Literal["itemTable", "binTable"]
COLUMNS: dict[TableName, dict[str, Kind]] = {"itemTable": ITEM_COLUMNS, "binTable": BIN_COLUMNS}
# The key that may name a CSV file instead of giving the table inline.
CSV_KEYS: dict[TableName, str] = {"itemTable": "items", "binTable": "containers"}


def ignored_keys(where: str, keys: Iterable[str], table: TableName | None = None) -> str:
    """The warning for keys a reader passes over: a table's unknown columns with the known ones
    (``items.csv: itemTable ignores 'colour' (known: id, l, ...)``), or without ``table`` the
    document's own keys (``shipment.json: ignores 'note'``)."""
    listed = ", ".join(repr(key) for key in keys)
    if table is None:
        return f"{where}: ignores {listed}"
    return f"{where}: {table} ignores {listed} (known: {', '.join(COLUMNS[table])})"


class ShipmentError(ValueError):
    """A shipment file that cannot be read; the message starts with ``file:line:column:``."""


class RowSource(NamedTuple):
    """Where one row of ``pack``'s input came from (a tuple: a long shipment makes many)."""

    file: str
    line: int | None
    id: Any = None
    # The row in its table as given (before quantities): "itemTable[2]", counted from 0.
    row: str | None = None
    # What the file calls its lines: a sheet has rows.
    line_word: str = "line"

    @property
    def number(self) -> int | None:
        """The row as the planner submitted it, counting from 1."""
        found = re.search(r"\[(\d+)\]$", self.row or "")
        return int(found.group(1)) + 1 if found else None

    def where(self) -> str:
        if self.line is not None:
            return f"{self.file} {self.line_word} {self.line}"
        return self.file if self.number is None else f"{self.file} row {self.number}"


@dataclass
class Shipment:
    """``pack``'s input plus, for every row, the file line it came from."""

    input: dict[str, list[dict[str, Any]]]
    item_sources: Sequence[RowSource]
    bin_sources: Sequence[RowSource]
    name: str
    warnings: list[str] = field(default_factory=list)
    # The file each table was read from; a table the shipment lacks belongs to ``name``.
    table_files: dict[str, str] = field(default_factory=dict)


# A locator answers "where in the file is this value" as (line, column), both from 1, or None.
Locator = Callable[[TableName, int, str | None], tuple[int, int] | None]


def fail(name: str, where: tuple[int, int] | None, message: str) -> ShipmentError:
    if where is None:
        return ShipmentError(f"{name}: {message}")
    return ShipmentError(f"{name}:{where[0]}:{where[1]}: {message}")


def convert(value: Any, kind: Kind, from_text: bool) -> Any:
    """The value as ``pack`` wants it, or raise ``ValueError`` with what was expected."""
    if not from_text:
        # The values a JSON file or an API request holds when it is right, checked without
        # building the message a wrong one gets.
        given = type(value)
        if given is int:
            if kind == "float" and -_FLOAT_EXACT <= value <= _FLOAT_EXACT:
                return float(value)
            if kind == "count" and value >= 0:
                return value
            if kind in ("int", "id") and _INT32_MIN <= value <= _INT32_MAX:
                return value
        elif given is float:
            if kind == "float" and value - value == 0:  # finite: inf - inf and nan are nan
                return value
        elif (given is bool and kind == "bool") or (given is str and kind == "str"):
            return value
    return _converted(value, kind, from_text)


def _expected(value: Any, kind: Kind) -> str:
    shown = repr(value) if len(repr(value)) <= _SHOWN else repr(value)[: _SHOWN - 3] + "..."
    return f"expected {_KIND_WORDS[kind]}, got {shown}"


def _converted(value: Any, kind: Kind, from_text: bool) -> Any:
    """:func:`convert` for every value: text from a file's cell, and any JSON value."""
    if kind == "id":
        return _item_id(value, from_text, kind)
    if from_text:
        text = str(value).strip()
        if kind == "str":
            return text
        if kind == "bool":
            word = text.lower()
            if word in _TRUE_WORDS:
                return True
            if word in _FALSE_WORDS:
                return False
            raise ValueError(_expected(value, kind))
        # Plain decimal digits only: Python would also take 6_0, full-width digits, inf and nan.
        plain = _PLAIN_NUMBER if kind == "float" else _PLAIN_WHOLE
        if not plain.fullmatch(text):
            raise ValueError(_expected(value, kind))
        try:
            number: float = float(text) if kind == "float" else int(text)
        except ValueError:  # more digits than the interpreter converts
            raise ValueError(_expected(value, kind)) from None
        value = number
    elif kind == "str":
        if not isinstance(value, str):
            raise ValueError(_expected(value, kind))
        return value
    elif kind == "bool":
        if not isinstance(value, bool):
            raise ValueError(_expected(value, kind))
        return value
    elif isinstance(value, bool) or not isinstance(value, int | float):
        raise ValueError(_expected(value, kind))
    elif kind == "float":
        try:
            value = float(value)
        except OverflowError:  # a whole number of hundreds of digits
            raise ValueError("expected a finite number, got a number too large") from None
    elif isinstance(value, float):
        # 1500.0 in a file means 1500; the core takes whole numbers only as ints.
        if not math.isfinite(value) or value != int(value):
            raise ValueError(_expected(value, kind))
        value = int(value)
    if kind == "float":
        if not math.isfinite(value):
            raise ValueError(f"expected a finite number, got {value}")
        return value
    if kind == "count":
        if value < 0:
            raise ValueError(_expected(value, kind))
        return value
    if kind == "int" and not _INT32_MIN <= value <= _INT32_MAX:
        raise ValueError(f"expected a whole number from {_INT32_MIN} to {_INT32_MAX}, got {value}")
    return value


def _item_id(value: Any, from_text: bool, kind: Kind = "id") -> int | str:
    """An item id: whole numbers stay numbers (as they always were), anything else is text."""
    if isinstance(value, str):
        text = value.strip()
        # Length first: int() refuses thousands of digits with a message of its own.
        if (
            len(text) <= 11
            and _PLAIN_WHOLE.fullmatch(text)
            and _INT32_MIN <= int(text) <= _INT32_MAX
        ):
            return int(text)
        if not text or len(text) > MAX_ID_LENGTH or not text.isprintable():
            raise ValueError(_expected(value, kind))
        return text
    if from_text:
        try:
            return _item_id(str(value), from_text)
        except ValueError:
            raise ValueError(_expected(value, kind)) from None
    if isinstance(value, bool) or not isinstance(value, int | float):
        raise ValueError(_expected(value, kind))
    if isinstance(value, float) and (not math.isfinite(value) or value != int(value)):
        raise ValueError(_expected(value, kind))
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise ValueError(_expected(value, kind))
    return int(value)


def row_label(table: TableName, index: int, row_id: Any) -> str:
    """``item SKU-103 (row 3)``: a row named by its id and its place as submitted, from 1."""
    what = "item" if table == "itemTable" else "container"
    text = "" if row_id is None else " ".join(str(row_id).split())[:MAX_ID_LENGTH]
    return f"{what} {text} (row {index + 1})" if text else f"{what} row {index + 1}"


@dataclass
class RawTable:
    """Raw rows of one table, with their first lines, and how to find values in the file."""

    name: TableName
    rows: Sequence[tuple[Mapping[str, Any], int | None]]
    file: str
    locate: Locator
    from_text: bool
    # The rows' lines when they are kept apart from the rows (the compiled JSON reader counts
    # them in its one pass); None: the lines given with the rows.
    lines: Callable[[], Sequence[int | None]] | None = None
    line_word = "line"

    def label(self, index: int) -> str:
        """The row named as the planner knows it: its id (as written) and its row from 1."""
        row_id = self.rows[index][0].get("id") if index < len(self.rows) else None
        return row_label(self.name, index, row_id)

    def fail(self, index: int, key: str, message: str, keyed: bool = True) -> ShipmentError:
        """The error for ``key`` of row ``index``, placed in the file when the file can say;
        ``keyed`` starts the message with the key."""
        where = self.locate(self.name, index, key)
        text = f"{self.label(index)}: " + (f"{key}: {message}" if keyed else message)
        return fail(self.file, where, text)


def _check_container(
    part: RawTable, index: int, row: Mapping[str, Any], first: dict[Any, str]
) -> None:
    """Refuse a negative cost, and a container id given twice: a plan names containers by id,
    so the second row's size and limit would be reported as the first's."""
    cost = row.get("cost")
    if isinstance(cost, int) and cost < 0:
        raise part.fail(index, "cost", f"expected 0 or more, got {cost}")
    if "id" not in row:
        return
    if row["id"] in first:
        message = (
            f"the id is already given in {first[row['id']]}; give each container type its own id"
        )
        raise part.fail(index, "id", message, keyed=False)
    first[row["id"]] = f"row {index + 1}"


def _check_item(part: RawTable, index: int, row: Mapping[str, Any]) -> None:
    """Refuse a negative max_load: no item carries less than nothing."""
    limit = row.get("max_load")
    if limit is not None and limit < 0:
        raise part.fail(index, "max_load", f"expected 0 or more, got {limit:g}")


def _in_bulk(
    part: RawTable,
) -> tuple[list[dict[str, Any]], list[int], list[Any], list[str]] | None:
    """A JSON items table converted column by column: its rows, each row's quantity and id,
    and the keys no table knows. ``None`` when any row needs a closer look (a bad or missing value,
    rows with different keys); the row-by-row path then finds it and words its message.

    Every step runs over a whole column in compiled code (``map`` of builtins), no Python
    call per row: a long table costs little more than the parser's own work."""
    if part.from_text or part.name != "itemTable" or not part.rows:
        return None
    raws = list(map(operator.itemgetter(0), part.rows))
    keys = tuple(raws[0])
    # As many keys in every row, and each of the first row's in all: the same keys.
    if set(map(type, raws)) != {dict} or set(map(len, raws)) != {len(keys)}:
        return None
    columns = COLUMNS[part.name]
    changed: dict[str, list[Any]] = {}  # columns whose values convert to others
    counts: list[int] | None = None
    ids: list[Any] = [None] * len(raws)
    for key in keys:
        try:
            column = list(map(operator.itemgetter(key), raws))
        except KeyError:
            return None
        kind = columns.get(key)
        types = set(map(type, column))
        if kind is None:
            continue
        if kind == "float":
            if not types <= {int, float}:
                return None
            if types != {float}:
                try:
                    column = changed[key] = list(map(float, column))
                except OverflowError:
                    return None
            # A sum is finite only if every value is (one that overflows takes the slow path).
            if not math.isfinite(sum(column)) or (key in _OPTIONAL and min(column) < 0):
                return None
        elif kind in ("int", "count", "id") and types == {int}:
            low, high = (0, math.inf) if kind == "count" else (_INT32_MIN, _INT32_MAX)
            if min(column) < low or max(column) > high:
                return None
        elif kind == "id" and types <= {int, str}:
            try:
                changed[key] = [_item_id(value, False) for value in column]
            except ValueError:
                return None
        elif not (kind == "bool" and types == {bool}) and not (kind == "str" and types == {str}):
            return None
        if key == "quantity":
            counts = column
        elif key == "id":
            ids = changed.get(key, column)
    counts = counts if counts is not None else [1] * len(raws)
    if sum(counts) > MAX_ITEMS:
        return None
    rows = list(map(dict.copy, raws))  # a caller's rows are left as they were
    for key, column in changed.items():
        for row, value in zip(rows, column, strict=True):  # no call per row: a plain store
            row[key] = value
    unknown = [key for key in keys if key not in columns]
    for key in [*unknown, "quantity"] if "quantity" in keys else unknown:
        _each(map(dict.__delitem__, rows, itertools.repeat(key)))
    return rows, counts, ids, unknown


def _each(calls: Iterable[Any]) -> None:
    """Run a lazy ``map`` of calls for their effect, keeping none of the results."""
    collections.deque(calls, maxlen=0)


class RowSources(Sequence[RowSource]):
    """The sources of a table read in bulk, one per item: each row's source is made when first
    asked for, so a long shipment whose outputs name no row costs no line counting."""

    def __init__(
        self,
        part: RawTable,
        ids: Sequence[Any],
        counts: Sequence[int] | None,
    ) -> None:
        self._part, self._ids = part, ids
        # The row of each item; None when every row is one item.
        self._rows: list[int] | None = None
        if counts is not None:
            self._rows = list(
                itertools.chain.from_iterable(map(itertools.repeat, range(len(ids)), counts))
            )
        self._lines: Sequence[int | None] | None = None
        self._made: dict[int, RowSource] = {}
        self._every: list[RowSource] | None = None

    def __len__(self) -> int:
        return len(self._ids) if self._rows is None else len(self._rows)

    def _counted(self) -> Sequence[int | None]:
        if self._lines is None:
            part = self._part
            self._lines = part.lines() if part.lines else [line for _, line in part.rows]
        return self._lines

    def __getitem__(self, index: Any) -> Any:
        if isinstance(index, slice):
            return [self[at] for at in range(*index.indices(len(self)))]
        row = range(len(self._ids))[index] if self._rows is None else self._rows[index]
        if self._every is not None:
            return self._every[row]
        source = self._made.get(row)
        if source is None:
            part = self._part
            where = f"{part.name}[{row}]"
            source = RowSource(
                part.file, self._counted()[row], self._ids[row], where, part.line_word
            )
            self._made[row] = source  # the items of one row share it, as rows read one by one
        return source

    def __iter__(self) -> Iterator[RowSource]:
        # All wanted (an output naming every item): made in one pass, those handed out kept.
        if self._every is None:
            part = self._part
            every = list(
                map(
                    RowSource._make,
                    zip(
                        itertools.repeat(part.file),
                        self._counted(),
                        self._ids,
                        map(f"{part.name}[{{}}]".format, range(len(self._ids))),
                        itertools.repeat(part.line_word),
                    ),
                )
            )
            for row, source in self._made.items():
                every[row] = source
            self._every = every
        return iter(self._every) if self._rows is None else map(self._every.__getitem__, self._rows)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Sequence) and list(self) == list(other)

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self) -> tuple[Any, ...]:
        # Sent to another process (batch workers) as the plain list it stands for.
        return list, (list(self),)


def build_shipment(name: str, parts: Sequence[RawTable]) -> Shipment:
    """Convert and expand raw rows into a ``Shipment``."""
    warnings: list[str] = []
    tables: dict[str, list[dict[str, Any]]] = {"itemTable": [], "binTable": []}
    sources: dict[str, Sequence[RowSource]] = {"itemTable": [], "binTable": []}
    table_files = dict.fromkeys(COLUMNS, name)
    first_rows: dict[Any, str] = {}  # container id: where its row is
    for part in parts:
        table, file = part.name, part.file
        table_files[table] = file
        columns = COLUMNS[table]
        bulk = _in_bulk(part)
        if bulk is not None:
            rows, counts, ids, unknown = bulk
            found = tables[table]
            if counts.count(1) == len(counts):
                found.extend(rows)
                made = RowSources(part, ids, None)
            else:
                for row, count in zip(rows, counts, strict=True):
                    if count:
                        found.append(row)
                        found.extend([row.copy() for _ in range(count - 1)])
                made = RowSources(part, ids, counts)
            sources[table] = [*sources[table], *made] if sources[table] else made
            if unknown:
                warnings.append(ignored_keys(file, unknown, table))
            continue
        unknown: list[str] = []
        placed: list[RowSource] = []
        ids: list[Any] = []  # each row's id and items, for sources made when asked for
        counts = []
        for index, (raw, line) in enumerate(part.rows):
            if table == "binTable" and "quantity" in raw:
                raise part.fail(
                    index,
                    "quantity",
                    "containers take no quantity: every available type is used as often as needed",
                    keyed=False,
                )
            row: dict[str, Any] = {}
            for key, value in raw.items():
                kind = columns.get(key)
                if kind is None:
                    if key not in unknown:
                        unknown.append(key)
                    continue
                if key in _OPTIONAL and (
                    value is None or (isinstance(value, str) and not value.strip())
                ):
                    continue
                try:
                    row[key] = convert(value, kind, part.from_text)
                except ValueError as error:
                    raise part.fail(index, key, str(error)) from None
            if table == "binTable":
                _check_container(part, index, row, first_rows)
            else:
                _check_item(part, index, row)
            count = row.pop("quantity", 1)
            if table == "itemTable" and len(tables[table]) + count > MAX_ITEMS:
                message = f"more than {MAX_ITEMS} items in the shipment; split it into several"
                raise part.fail(index, "quantity", message, keyed=False)
            for _ in range(count):
                tables[table].append(dict(row))
            if part.lines is not None:
                ids.append(row.get("id"))
                counts.append(count)
                continue
            source = RowSource(file, line, row.get("id"), f"{table}[{index}]", part.line_word)
            placed.extend([source] * count)
        made = RowSources(part, ids, counts) if part.lines is not None else placed
        sources[table] = [*sources[table], *made] if sources[table] else made
        if unknown:
            warnings.append(ignored_keys(file, unknown, table))
    return Shipment(
        input=tables,
        item_sources=sources["itemTable"],
        bin_sources=sources["binTable"],
        name=name,
        warnings=warnings,
        table_files=table_files,
    )
