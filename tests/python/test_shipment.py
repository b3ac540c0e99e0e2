"""Shipment files: values converted to what pack takes, rows traced to their file and line,
errors pointing at the spot."""

from __future__ import annotations

import functools
import json
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from stowra._core import read_json_shipment
from stowra.files import Shipment, ShipmentError, json_toml, load_shipment, parse_json_shipment

BINS_CSV = "id,l,w,h,cost,weight_limit,available\n20GP,590,234,239,1500,28000,true\n"


def load(tmp_path: Path, files: dict[str, str | bytes]) -> Shipment:
    """Writes the files and loads those at the top (an items CSV before the containers CSV)."""
    for name, data in files.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_bytes(data if isinstance(data, bytes) else data.encode())
    return load_shipment(tmp_path / name for name in files if "/" not in name)


@pytest.mark.parametrize(
    "name, text, expected",
    [
        ("s.json", "[1, 2]", "s.json:1:1: expected an object"),
        # A brace inside a string must not throw off the column.
        ("s.json", '{"itemTable":\n[{"n": "{", "l": "x"}]}', "s.json:2:18: item row 1: l: expected a number"),
        ("s.json", '{"itemTable": [{"stackable": "yes"}]}', "s.json:1:30: item row 1: stackable: expected"),
        ("s.json", '{"itemTable": [{"id": 1.5}]}', "s.json:1:23: item 1.5 (row 1): id: expected an item id (a whole"),
        ("s.json", '{"itemTable": [{"id": 4294967296}]}', "s.json:1:23: item 4294967296 (row 1): id: expected an"),
        ("s.json", '{"itemTable": [{"quantity": -2}]}', "s.json:1:29: item row 1: quantity: expected a whole"),
        ("s.json", '{"itemTable": [7]}', "s.json:1:15: itemTable[0] must be an object"),
        ("s.json", '{"itemTable": {}}', "s.json:1:15: itemTable must be a list"),
        ("s.json", '{"binTable": []}', "s.json:1:1: no items"),
        ("s.json", '{"itemTable": [], "binTable": [{"id": 20}]}', "s.json:1:39: container 20 (row 1): id: expected"),
        ("s.json", '{"items": "nowhere.csv"}', "nowhere.csv: no such file"),
        ("s.json", b'{"itemTable":\n \xff}', "s.json:2:2: not UTF-8 text"),
        ("s.txt", "id,l\n", "s.txt: cannot tell the format"),
        ("s.toml", "a = 1\nb = = 2\n", "s.toml:2:5: Invalid value"),
        ("s.toml", '[[itemTable]]\nid = 1\n\n[[itemTable]]\nl = "x"\n', "s.toml:5:5: item row 2: l: expected"),
        # Quoted fields hold commas; the column counts them.
        ("i.csv", 'id,note,w\n1,"a,b",x\n', "i.csv:2:9: item 1 (row 1): w: expected a number, got 'x'"),
        ("i.csv", "id,l\n\n1,2,3\n", "i.csv:3:1: 3 fields, but the header has 2"),
        ("i.csv", "id,l,id\n", "i.csv:1:6: header: 'id' repeated"),
        ("i.csv", "\n", "i.csv: empty file"),
        ("i.csv", 'id,l\n1,"2\n', "i.csv:2:1: CSV: unexpected end"),
        ("c.csv", "id,quantity\n20GP,2\n", "c.csv:2:6: container 20GP (row 1): containers take no quantity"),
        # Found by feeding damaged files to the command: parser limits, memory, long values.
        ("s.json", "[" * 5000, "s.json: lists or tables nested too deeply"),
        ("s.toml", "a = " + "[" * 5000, "s.toml: lists or tables nested too deeply"),
        ("s.json", '{"itemTable": [{"id": ' + "9" * 5000 + "}]}", "s.json:1:23: item inf (row 1): id: expected an"),
        ("s.toml", "a = " + "9" * 5000, "s.toml: a whole number has more than 4300 digits"),
        (
            "i.csv",
            "id\n" + "9" * 5000,
            f"i.csv:2:1: item {'9' * 64} (row 1): id: expected an item id (a whole number or text up to 64 characters), got '{'9' * 36}...",
        ),
        (
            "s.json",
            '{"itemTable": [{"quantity": 99999}, {"quantity": 2}]}',
            "s.json:1:50: item row 2: more than 100000",
        ),
        ("i.csv", "id,quantity\n7,1000000000000\n", "i.csv:2:3: item 7 (row 1): more than 100000 items"),
        # A quoted line break in the header; a form feed is not a line break to the CSV reader.
        ("i.csv", 'id,"a\nb",id\n', "i.csv:1:1: header: 'id' repeated"),
        ("i.csv", "id\x0cnote,w\n1,x\n", "i.csv:2:3: item row 1: w: expected a number, got 'x'"),
    ],
)
def test_malformed_files_are_reported_at_the_spot(tmp_path: Path, name: str, text: str | bytes, expected: str) -> None:
    files = {"i.csv": "id\n1\n", "c.csv": BINS_CSV} if name.endswith(".csv") else {}
    with pytest.raises(ShipmentError) as raised:
        load(tmp_path, {**files, name: text})
    message = str(raised.value).replace(f"{tmp_path}/", "")
    assert message.startswith(expected) and "\n" not in message


CONVERTED = '{"itemTable": [{"id": 3.0, "quantity": 0}, {"id": 4.0, "weight": 2}], "binTable": [{"cost": 9}]}'
SPREADSHEET = {"i.csv": "\ufeffid;l;stackable;weight\n7;10;NO;\n", "c.csv": "id;l\n20GP;590\n"}


@pytest.mark.parametrize(
    "files, items, bins",
    [
        # Whole numbers stay whole, sizes become floats, a quantity of 0 drops the row.
        ({"s.json": CONVERTED}, [{"id": 4, "weight": 2.0}], [{"cost": 9}]),
        # A spreadsheet's CSV: byte order mark, semicolons, "NO"; an empty cell is left for pack to report.
        (SPREADSHEET, [{"id": 7, "l": 10.0, "stackable": False}], [{"id": "20GP", "l": 590.0}]),
    ],
)
def test_values_are_converted_to_what_pack_takes(
    tmp_path: Path, files: dict[str, str], items: list[object], bins: list[object]
) -> None:
    # repr tells 4 from 4.0 and True from 1.
    assert repr(load(tmp_path, files).input) == repr({"itemTable": items, "binTable": bins})


def test_rows_that_share_their_keys_read_as_rows_read_one_by_one() -> None:
    # Rows with the same keys are checked a column at a time; one row with a key of its own
    # sends the table row by row. Both must give the same input and sources.
    keys = ("id", "l", "w", "h", "weight", "factory", "stackable", "quantity", "max_load")
    rows = [
        dict(zip(keys, ("SKU-1", 60, 40.5, 40, 10, 2, True, 3, 0), strict=True)),
        dict(zip(keys, (17, 9007199254740993, 40, 1.5, 0, -1, False, 0, 2.5), strict=True)),
        dict(zip(keys, (" 42 ", 1e300, 40, 40, 10, 1, True, 1, 7), strict=True)),
    ]
    bins = [{"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000, "available": True}]
    together = parse_json_shipment(json.dumps({"itemTable": rows, "binTable": bins}, indent=1), "s.json")
    apart = [*rows[:2], {**rows[2], "note": "x"}]
    alone = parse_json_shipment(json.dumps({"itemTable": apart, "binTable": bins}, indent=1), "s.json")
    assert repr(together.input) == repr(alone.input)
    assert together.item_sources == alone.item_sources and len(together.item_sources) == 4
    assert (together.warnings, len(alone.warnings)) == ([], 1)


def test_a_toml_file_may_name_a_csv_file_beside_an_inline_table(tmp_path: Path) -> None:
    files = {
        "s.toml": 'items = "sub/i.csv"\n\n[[binTable]]\nid = "20GP"\n',
        "sub/i.csv": "id,colour\n5,red\n",
    }
    shipment = load(tmp_path, files)
    assert shipment.input == {"itemTable": [{"id": 5}], "binTable": [{"id": "20GP"}]}
    assert len(shipment.warnings) == 1 and "'colour'" in shipment.warnings[0]
    assert shipment.item_sources[0].where() == f"{tmp_path}/sub/i.csv line 2"
    assert shipment.bin_sources[0].line == 3


class ScannedText(str):
    """A text that adds up how many characters its searches were asked to look through."""

    scanned = 0


def _scanning(name: str) -> Callable[..., int]:
    def search(self: ScannedText, sub: str, start: int | None = None, end: int | None = None) -> int:
        begin, stop, _ = slice(start, end).indices(len(self))
        ScannedText.scanned += max(0, stop - begin)
        return getattr(str, name)(self, sub, start, end)

    return search


for _name in ("count", "find", "rfind"):
    setattr(ScannedText, _name, _scanning(_name))


def test_rows_deep_in_a_long_json_file_are_placed_on_their_lines_in_one_pass() -> None:
    row = '{"id": %d, "l": 60, "w": 40, "h": 40, "weight": 10, "factory": 1, "stackable": true}'
    pieces = ['{"binTable": [{"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500,\n']
    pieces.append('"weight_limit": 28000, "available": true}],\n"itemTable": [\n')
    lines, line = [], 1 + sum(piece.count("\n") for piece in pieces)
    for n in range(3000):
        # Rows alone on a line, two on one line, and rows broken over lines.
        lines.append(line)
        piece = row % n if n % 3 else (row % n).replace(", ", ",\n")
        piece += "\n]}" if n == 2999 else ",\n" if n % 5 else ", "
        pieces.append(piece)
        line += piece.count("\n")
    text = ScannedText("".join(pieces))
    ScannedText.scanned = 0
    shipment = parse_json_shipment(text, "long.json")
    assert [source.line for source in shipment.item_sources] == lines
    # Each character looked at a bounded number of times, not once per row before it.
    assert ScannedText.scanned <= 3 * len(text), (ScannedText.scanned, len(text))
    bad = ScannedText(text.replace('"id": 2998, "l": 60', '"id": 2998, "l": "x"'))
    with pytest.raises(
        ShipmentError, match=rf"^long.json:{lines[2998]}:\d+: item 2998 \(row 2999\): l: expected a number"
    ):
        parse_json_shipment(bad, "long.json")


ROW = '{"id": %s, "l": 60, "w": 40, "h": 40, "weight": 10, "factory": 1, "stackable": true%s}'
BIN_ROW = '{"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000, "available": true}'


def read_both(text: str) -> tuple[object, object]:
    """What the reader gives (compiled reader first) and what the scanner path alone gives:
    the shipment (values, rows' lines, warnings) or the message."""

    def read(reader: Callable[[str], Shipment]) -> object:
        try:
            shipment = reader(text)
        except ShipmentError as error:
            return str(error)
        sources = shipment.item_sources
        # Asked for one by one (last first), then all at once.
        one_by_one = [sources[index] for index in reversed(range(len(sources)))]
        every = [*sources, *shipment.bin_sources]
        return repr(shipment.input), one_by_one, every, shipment.warnings, shipment.table_files

    scanned = functools.partial(json_toml._read_scanned, name="s.json", base=None, confined=False)
    return read(lambda text: parse_json_shipment(text, "s.json")), read(scanned)


def shipment_text(items: list[str], bins: str = BIN_ROW) -> str:
    return '{"binTable": [\n' + bins + '],\n"itemTable": [\n' + ",\n".join(items) + "\n]}"


# Right shipments of the usual shape: long shipments rely on the compiled reader taking them.
USUAL = [
    shipment_text([ROW % (1, ""), ROW % ('"SKU-2"', ', "quantity": 3'), ROW % ('" 42 "', ', "quantity": 0')]),
    shipment_text([ROW % (n, ', "quantity": 2, "note": "x"') for n in range(5)]),
    shipment_text([ROW % (1, ""), ROW % (2, ', "max_load": null, "note": true')]),  # keys that differ
    shipment_text([ROW % (1, ', "max_load": 2.5e1')], BIN_ROW.replace('"20GP"', '"20GP \\u00e9\\ud83d\\ude00"')),
    '{"itemTable": [], "x": null}',
    '{"itemTable": [' + ROW % (1, "") + "]}",  # no containers
]
# Values the compiled reader may leave to the scanner path, read or refused there; the declines
# its own tests pin (a repeated key, NaN, a row that is no object) are not repeated.
UNUSUAL = [
    [ROW % ('"SKU-\u00e9"', "")],
    [ROW % (1, ', "note": "\\udc80"')],
    [ROW % (1, ', "max_load": 1e400')],
    [ROW % (1, ', "note": 18446744073709551616')],
    [ROW % (1, ', "note": 1' + "0" * 5000 + "}")],
    [ROW % (1, ', "quantity": 18446744073709551616')],
    [ROW % (18446744073709551616, "")],
    [ROW % (1, ', "weight": -1e-400')],
    [ROW % (1, ', "factory": 1500.0')],
    [ROW % (1, ', "note": ' + "[" * 3000 + "]" * 3000)],
    [ROW % (1, ""), ROW % (2, ', "note": ' + "[" * 1010 + "]" * 1010)],
    [ROW % (1, ""), ROW % (2, '}], "note": ' + "[" * 1010 + "]" * 1010 + ', "x": [{"id": 3')],
    [ROW % (1, ', "quantity": -1')],
    [ROW % (1, ""), ROW % (2, ', "id": 2')],
]


@pytest.mark.parametrize("text", USUAL + [shipment_text(items) for items in UNUSUAL])
def test_the_compiled_reader_reads_as_the_scanner_path(text: str) -> None:
    if text in USUAL:  # not handed on to the scanner path
        assert read_json_shipment(text) is not None
    fast, scanned = read_both(text)
    assert fast == scanned


def long_text(row: Callable[[int], str], bins: str = BIN_ROW) -> str:
    """12000 item rows, well over the size the compiled reader reads on a thread of its own."""
    return '{"itemTable": [\n' + ",\n".join(map(row, range(12000))) + '\n], "binTable": [' + bins + "]}"


def varied(n: int) -> str:
    # Rows alike and not, text ids, quantities from some row on, a load limit and an unknown key
    # now and then.
    extra = f', "quantity": {n % 3}' if n > 6000 else ""
    extra += ', "max_load": 2.5, "note": null' if n % 97 == 0 else ""
    return ROW % (f'"SKU-{n}"' if n % 7 == 3 else n, extra)


def rotated(n: int) -> str:
    # The same columns in another order every row, the ids repeating.
    members = [f'"id": "S{n % 4}"', '"l": 60', f'"w": {40 + n % 2}', '"h": 40', '"stackable": true']
    return "{" + ", ".join(members[n % 5 :] + members[: n % 5]) + "}"


def wrong_at(at: int) -> Callable[[int], str]:
    return lambda n: ROW % (n, ', "w": "x"' if n == at else "")


LONG = [
    (varied, BIN_ROW, True),
    (rotated, BIN_ROW, True),
    (lambda n: ROW % (n % 5, ', "quantity": 0'), BIN_ROW, True),
    (lambda n: ROW % (n, ', "zz": 1' if n == 11999 else ""), BIN_ROW, True),  # unknown key seen last
    # Found wrong after many rows were built: the first, a middle and the last row, a container
    # id given twice after the items, the item limit passed in the last row.
    *[(wrong_at(at), BIN_ROW, False) for at in (0, 6000, 11999)],
    (lambda n: ROW % (n, ""), BIN_ROW + ", " + BIN_ROW, False),
    (lambda n: ROW % (n, f', "quantity": {8 if n < 11999 else 9000}'), BIN_ROW, False),
]


@pytest.mark.parametrize("row, bins, taken", LONG)
def test_a_long_shipment_read_beside_the_building_of_its_rows_reads_as_the_scanner_path(
    row: Callable[[int], str], bins: str, taken: bool
) -> None:
    text = long_text(row, bins)
    assert (read_json_shipment(text) is not None) == taken
    fast, scanned = read_both(text)
    assert fast == scanned


def test_long_shipments_read_on_several_threads_at_once_read_as_one_at_a_time() -> None:
    # As the service reads uploads: each read's own reading thread, none waiting on another's.
    texts = [long_text(varied), long_text(rotated), long_text(wrong_at(6000))]
    alone = [read_json_shipment(text) for text in texts]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(read_json_shipment, texts * 4))
    assert together == alone * 4


@pytest.mark.parametrize("column", ["id", "l", "factory", "quantity", "max_load"])
@pytest.mark.parametrize(
    "number",
    # Around what the compiled reader converts as it scans (whole, up to 15 digits) and what it
    # leaves to its general steps: 16+ digits, 2**53 + 1, fractions, exponents, signs, zeros.
    ["0", "-0", "7", "-12", "30000", "999999999999999", "-999999999999999", "1000000000000000",
     "9007199254740993", "123456789012345678", "12345678901234567890", "2147483647", "2147483648",
     "-2147483648", "-2147483649", "100000", "100001", "-0.0", "0.5", "12.0", "1e2", "1E+2", "5e-1",
     "00", "-01"],
)  # fmt: skip
def test_json_numbers_read_as_the_standard_parser_reads_them(column: str, number: str) -> None:
    cells = {"id": "1", "l": "60", "w": "40", "h": "40", "weight": "10", "factory": "1"}
    cells[column] = number
    text = shipment_text(["{" + ", ".join(f'"{key}": {value}' for key, value in cells.items()) + "}"])
    fast, scanned = read_both(text)
    assert fast == scanned
    if column == "quantity" or isinstance(fast, str):  # refused alike, or counted: as above
        return
    try:
        value = json.loads(number)
    except json.JSONDecodeError:
        raise AssertionError(f"{number} is not JSON, yet was read") from None
    # Whole-number columns take a whole-valued float as the int it is (12.0, -0.0, 1e2).
    expected = int(value) if column in ("id", "factory") else float(value)
    read = parse_json_shipment(text, "s.json").input["itemTable"][0][column]
    assert (type(read), repr(read)) == (type(expected), repr(expected))


def _cell(valid: st.SearchStrategy[object]) -> st.SearchStrategy[object]:
    """Mostly a right value (so that whole shipments are often right), sometimes any JSON value."""
    anything = st.one_of(
        st.none(),
        st.booleans(),
        st.integers(-(2**65), 2**65),
        st.floats(),
        st.text(max_size=6),
        st.sampled_from([" 42 ", "+7", "-0", "00012345678901", "\u00e9", "a" * 65, "", []]),
    )
    return st.one_of(*[valid] * 11, anything)


_SIZE = st.one_of(st.integers(0, 10**4), st.floats(0, 1e4), st.integers(2**53 - 2, 2**53 + 2))
_ITEM_CELLS = {
    "id": _cell(st.one_of(st.integers(-(2**31), 2**31 - 1), st.text("SKU- 0123456789", min_size=1, max_size=8))),
    "l": _cell(_SIZE),
    "w": _cell(_SIZE),
    "h": _cell(_SIZE),
    "weight": _cell(_SIZE),
    "factory": _cell(st.integers(-(2**31) - 1, 2**31)),
    "stackable": _cell(st.booleans()),
    "quantity": _cell(st.integers(0, 30)),
    "max_load": _cell(st.one_of(st.none(), _SIZE, st.just(-1))),
    "note": _cell(st.text(max_size=4)),
}
_BIN_CELLS = {
    "id": _cell(st.text("GP4 0HC", min_size=1, max_size=6)),
    **{key: _ITEM_CELLS[key] for key in ("l", "w", "h", "note")},
    "cost": _cell(st.integers(-1, 5000)),
    "weight_limit": _cell(_SIZE),
    "available": _cell(st.booleans()),
    "quantity": _cell(st.integers(0, 2)),
}


def _rows(cells: dict[str, st.SearchStrategy[object]], most: int) -> st.SearchStrategy[list[object]]:
    row = st.fixed_dictionaries({}, optional=cells)  # type: ignore[arg-type]
    return st.lists(row, max_size=most)


@settings(max_examples=300)
@given(
    items=_rows(_ITEM_CELLS, 6),
    bins=st.one_of(st.none(), _rows(_BIN_CELLS, 3)),
    extra=st.dictionaries(
        st.sampled_from(["units", "note", "x"]), st.one_of(st.none(), st.text(max_size=3)), max_size=2
    ),
    indent=st.sampled_from([None, 0, 1, "\t"]),
)
def test_generated_shipments_read_as_by_the_scanner_path(
    items: list[object], bins: list[object] | None, extra: dict[str, object], indent: int | str | None
) -> None:
    document = {"itemTable": items, **({} if bins is None else {"binTable": bins}), **extra}
    fast, scanned = read_both(json.dumps(document, indent=indent, ensure_ascii=False))
    assert fast == scanned
