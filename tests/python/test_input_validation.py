"""What a caller sees when the problem or the arguments are wrong."""

from __future__ import annotations

import pytest
from problems import CONTAINER_40GP, container, item, problem

import stowra

NAN = float("nan")
INF = float("inf")


def fail(input_: dict, exception: type[Exception], **arguments) -> str:
    with pytest.raises(exception) as caught:
        stowra.pack(input_, **arguments)
    return str(caught.value)


def fail_alike(input_: dict) -> str:
    """pack's ValueError message, after checking that optimize refuses the input in the same words."""
    with pytest.raises(ValueError) as caught:
        stowra.optimize(input_, effort=0)
    message = fail(input_, ValueError)
    assert str(caught.value) == message
    return message


def without(row: dict, *keys: str) -> dict:
    return {key: value for key, value in row.items() if key not in keys}


@pytest.mark.parametrize(
    ("items", "message"),
    [
        ([], "itemTable is empty"),
        # Keys are all checked before any value, in the order id, l, w, h, weight, ...
        (
            [item(), item(), without(item(l=0), "factory")],
            "Missing required key 'factory' in itemTable[2]",
        ),
        ([without(item(), "weight", "w")], "Missing required key 'w' in itemTable[0]"),
        ([item(h=-1, l=0)], "Item #0: l must be positive, got 0"),
        ([item(), item(w=-5)], "Item #1: w must be positive, got -5"),
        ([item(l=NAN)], "Item #0: l must be positive, got nan"),
        ([item(l=INF, w=0)], "Item #0: l must be finite, got inf"),
        ([item(weight=NAN)], "Item #0: weight must be finite, got nan"),
    ],
)
def test_item_table_errors(items: list, message: str) -> None:
    assert fail_alike(problem(items=items)) == message


@pytest.mark.parametrize(
    ("bins", "message"),
    [
        ([container(available=False)], "No available bins in binTable"),
        ([container(), without(container(), "cost")], "Missing required key 'cost' in binTable[1]"),
        (
            [container(id="P"), container(id="Q", available=False), container(id="R", w=0)],
            "Bin #2 ('R'): dimensions must be positive",
        ),
        ([container(h=NAN)], "Bin #0 ('20GP'): dimensions must be positive"),
        ([container(l=INF)], "Bin #0 ('20GP'): dimensions must be finite"),
        ([container(l=1e200, w=1e200)], "Bin #0 ('20GP'): volume must be positive and finite"),
        ([container(weight_limit=NAN)], "Bin #0 ('20GP'): weight_limit must be a number"),
        ([container(id=b"\xff20GP")], "Bin #0: id is not valid UTF-8"),
        ([container(id=b"20\xe2\x82")], "Bin #0: id is not valid UTF-8"),  # cut short
        ([container(id=b"\xc0\xaf")], "Bin #0: id is not valid UTF-8"),  # overlong "/"
    ],
)
def test_bin_table_errors(bins: list, message: str) -> None:
    assert fail_alike(problem(bins=bins)) == message


def test_items_are_read_and_reported_before_bins() -> None:
    assert fail({"itemTable": [item()]}, ValueError) == "No available bins in binTable"
    bad = problem(items=[item(w=0)], bins=[container(l=0)])
    assert fail(bad, ValueError) == "Item #0: w must be positive, got 0"


NOWHERE = "does not fit in any available bin type"
# An item too tall for the first two available types, which are all the search opens.
TALL, HIGH_CUBE, HIDDEN = item(id=7, l=100, w=80, h=300), container(id="HC", h=310), container(available=False)
ONLY_LATER = (
    "Item #7 (100x80x300) fits only bin types after the first two available ({}); the search opens only those two"
)


@pytest.mark.parametrize(
    ("items", "bins", "message"),
    [
        ([item(), item(id=9, l=700, w=50, h=50)], [container()], f"Item #9 (700x50x50) {NOWHERE}"),
        ([TALL], [container(), container(CONTAINER_40GP), HIGH_CUBE], ONLY_LATER.format("'20GP', '40GP'")),
        # Unavailable rows do not count among the first two.
        ([TALL], [container(id="A"), HIDDEN, container(id="B"), HIGH_CUBE], ONLY_LATER.format("'A', 'B'")),
    ],
)
def test_fit_pre_check(items: list, bins: list, message: str) -> None:
    input_ = problem(items=items, bins=bins)
    assert fail(input_, ValueError) == message
    if "only bin types after" in message:
        # optimize opens every type, so the item is accepted and placed.
        plan = stowra.optimize(input_, effort=0)
        assert [row["binType"] for row in plan["packingTable"]] == ["HC"]
    else:
        assert fail_alike(input_) == message


OVERFLOW = (
    "The plan's figures overflow (its fitness is not a finite number): sizes, weights or costs "
    "are too large to combine; give them in larger units"
)
HEAVY = problem(items=[item(0, weight=1e308), item(1)], bins=[container(weight_limit=0)])
HUGE_BOXES = [item(i, l=0.97e102, w=0.97e102, h=0.97e102, weight=1.0) for i in range(200)]
HUGE_CONTAINERS = [container(id=name, l=1e102, w=1e102, h=1e102, weight_limit=0) for name in "AB"]


@pytest.mark.parametrize(
    ("input_", "arguments", "message"),
    [
        (problem(), {"pop_size": 0}, "pop_size must be at least 1, got 0"),
        (problem(), {"pop_size": 429496731}, "pop_size must be at most 429496730, got 429496731"),
        (problem(), {"time_limit": NAN}, "time_limit must not be NaN"),
        (problem(items=[item(i, weight=1.5e308) for i in range(2)]), {}, "Total item weight must be finite, got inf"),
        # The fit pre-check comes before the argument checks.
        (problem(items=[item(id=3, l=1300)]), {"pop_size": 0}, f"Item #3 (1300x40x30) {NOWHERE}"),
        # Weight times position overflows the centre of gravity.
        (HEAVY, {"threads": 1}, OVERFLOW),
        # Each container's volume is finite, the volume of 200 of them is not.
        (problem(items=HUGE_BOXES, bins=HUGE_CONTAINERS), {"pop_size": 4, "generations": 2}, OVERFLOW),
    ],
)
def test_problems_that_cannot_be_searched(input_: dict, arguments: dict, message: str) -> None:
    assert fail(input_, ValueError, **{"pop_size": 4, "generations": 2, **arguments}) == message


def index(value: int) -> object:
    """Not an int, but usable as one."""
    return type("Index", (), {"__index__": lambda _: value})()


class ShrinkingRow:
    """A mapping row whose conversion empties the table being read."""

    def __init__(self, table: list, row: dict) -> None:
        self.table, self.row = table, row

    def keys(self):
        self.table.clear()
        return self.row.keys()

    def __getitem__(self, key):
        return self.row[key]


def shrinking_table() -> list:
    table: list = []
    table.extend(ShrinkingRow(table, item(i)) for i in range(5))
    return table


# Reaching the argument check proves both tables were accepted.
@pytest.mark.parametrize(
    ("input_", "threads"),
    [
        (problem(items=[item(id=index(5), factory=True, stackable=None)]), 0),
        (problem(items=[item(l=60, w=index(40), stackable=0.0)]), 0),
        (problem(items=[item(id=-(2**31), factory=2**31 - 1, stackable=2)]), 0),
        (problem(items=[item(weight=-3, stackable=False)]), 0),
        ({"itemTable": (item(i) for i in range(2)), "binTable": [container()]}, 0),
        ({"itemTable": [list(item().items())], "binTable": (container(),), "comment": "ignored"}, 0),
        (problem(bins=[container(id=bytearray(b"K\xc3\xbchl \xe2\x82\xac \xf0\x9f\x93\xa6"))]), 0),
        # An unavailable row is skipped unread, but still needs every key.
        (problem(bins=[container(), container(available=False, l=-1)]), 0),
        ({"itemTable": shrinking_table(), "binTable": [container()]}, 0),  # must not crash
        (problem(), 2**31 - 1),  # a huge count used to end the process in the threading runtime
    ],
)
def test_accepted_inputs_reach_the_argument_check(input_: dict, threads: int) -> None:
    assert fail(input_, ValueError, pop_size=0, threads=threads) == "pop_size must be at least 1, got 0"


CAST = "Unable to cast Python instance of type "


@pytest.mark.parametrize(
    ("input_", "message"),
    [
        # Values of a refused kind.
        (problem(items=[item(stackable="yes")]), CAST),
        (problem(items=[item(id=2**31)]), CAST),
        (problem(items=[item(factory=1.0)]), CAST),
        (problem(items=[item(l="60")]), CAST),
        (problem(bins=[container(id=20)]), CAST),
        # Python's own errors while reading, wrapped.
        ({"binTable": [container()]}, "C++ exception: KeyError: 'itemTable'"),
        ({"itemTable": 5}, "C++ exception: TypeError: 'int' object is not iterable"),
        ({"itemTable": [42]}, "C++ exception: TypeError: 'int' object is not iterable"),
    ],
)
def test_unreadable_tables_are_runtime_errors(input_: dict, message: str) -> None:
    assert fail(input_, RuntimeError).startswith(message)


def raising_rows(error: BaseException):
    yield item()
    raise error


@pytest.mark.parametrize("error", [ValueError("boom"), KeyboardInterrupt(), SystemExit(3)])
def test_errors_raised_while_reading_reach_the_caller(error: BaseException) -> None:
    # Python's own errors keep their type and text and are chained; interrupts come out unchanged.
    wrapped = isinstance(error, Exception)
    with pytest.raises(RuntimeError if wrapped else type(error)) as caught:
        stowra.pack({"itemTable": raising_rows(error), "binTable": [container()]})
    if wrapped:
        assert str(caught.value) == "C++ exception: ValueError: boom"  # no traceback appended
    assert (caught.value.__cause__ if wrapped else caught.value) is error


def test_argument_types() -> None:
    with pytest.raises(TypeError, match="incompatible function arguments"):
        stowra.pack(problem(), pop_size=100.0)
