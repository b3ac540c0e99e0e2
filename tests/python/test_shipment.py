"""Shipment files: formats agree, quantities expand with their origin, errors point at the spot."""

from __future__ import annotations

from pathlib import Path

import pytest

from stowra.examples import EXAMPLE_ITEMS, example_csv, example_json, write_example
from stowra.shipment import ShipmentError, load_shipment, parse_csv_tables, parse_json_shipment

BINS_CSV = "id,l,w,h,cost,weight_limit,available\n20GP,590,234,239,1500,28000,true\n"
BIN_JSON = (
    '{"id": "20GP", "l": 590, "w": 234, "h": 239, "cost": 1500, "weight_limit": 28000,'
    ' "available": true}'
)


def write(directory: Path, files: dict[str, str | bytes]) -> list[Path]:
    for name, data in files.items():
        path = directory / name
        if isinstance(data, bytes):
            path.write_bytes(data)
        else:
            path.write_text(data, encoding="utf-8")
    return [directory / name for name in files]


def test_every_format_of_the_example_gives_the_same_tables(tmp_path: Path) -> None:
    json_dir, csv_dir = tmp_path / "json", tmp_path / "csv"
    write_example(json_dir, "json")
    write_example(csv_dir, "csv")
    from_json = load_shipment([json_dir / "shipment.json"])
    from_toml = load_shipment([csv_dir / "shipment.toml"])
    from_csv = load_shipment([csv_dir / "items.csv", csv_dir / "containers.csv"])

    assert from_json.input == from_toml.input == from_csv.input
    assert len(from_json.input["itemTable"]) == sum(row["quantity"] for row in EXAMPLE_ITEMS)
    assert all("quantity" not in row for row in from_json.input["itemTable"])
    first = from_json.input["itemTable"][0]
    assert first == {
        "id": 101,
        "l": 60.0,
        "w": 45.0,
        "h": 40.0,
        "weight": 16.0,
        "factory": 1,
        "stackable": True,
    }
    assert [type(first[key]) for key in ("id", "l", "factory", "stackable")] == [
        int,
        float,
        int,
        bool,
    ]
    assert from_csv.input["binTable"][2]["available"] is False


@pytest.mark.parametrize("file_format", ["json", "csv"])
def test_expanded_rows_keep_the_id_and_line_of_their_row(file_format: str) -> None:
    if file_format == "json":
        shipment = parse_json_shipment(example_json(), "s.json")
        first_line = 3  # '{' and '"itemTable": [' come first
    else:
        files = example_csv()
        shipment = parse_csv_tables(
            files["items.csv"], "items.csv", files["containers.csv"], "c.csv"
        )
        first_line = 2  # after the header
    index = 0
    for offset, row in enumerate(EXAMPLE_ITEMS):
        for _ in range(row["quantity"]):
            source = shipment.item_sources[index]
            assert shipment.input["itemTable"][index]["id"] == row["id"] == source.id
            assert source.line == first_line + offset
            index += 1
    assert index == len(shipment.input["itemTable"])


@pytest.mark.parametrize(
    ("files", "expected"),
    [
        ({"s.json": '{"itemTable": [}'}, "s.json:1:16: Expecting value"),
        ({"s.json": "[1, 2]"}, "s.json:1:1: expected an object"),
        (
            {"s.json": '{"itemTable": [\n  {"id": 1, "l": "abc"}\n]}'},
            "s.json:2:18: l: expected a number, got 'abc'",
        ),
        (
            {"s.json": '{"itemTable": [{"id": 1, "note": "a{b", "l": "x"}]}'},
            "s.json:1:46: l: expected a number, got 'x'",
        ),
        (
            {"s.json": '{"itemTable": [{"id": 1, "stackable": "yes"}]}'},
            "s.json:1:39: stackable: expected true or false, got 'yes'",
        ),
        (
            {"s.json": '{"itemTable": [{"id": 1.5}]}'},
            "s.json:1:23: id: expected a whole number, got 1.5",
        ),
        (
            {"s.json": '{"itemTable": [{"id": 4294967296}]}'},
            "s.json:1:23: id: expected a whole number from -2147483648 to 2147483647",
        ),
        (
            {"s.json": '{"itemTable": [{"id": 1, "quantity": -2}]}'},
            "s.json:1:38: quantity: expected a whole number of items (0 or more)",
        ),
        ({"s.json": '{"itemTable": [7]}'}, "s.json:1:15: itemTable[0] must be an object"),
        ({"s.json": '{"itemTable": {}}'}, "s.json:1:15: itemTable must be a list"),
        ({"s.json": '{"binTable": []}'}, "s.json:1:1: no items"),
        (
            {"s.json": '{"itemTable": [], "binTable": [{"id": 20}]}'},
            "s.json:1:39: id: expected text",
        ),
        (
            {"s.json": '{"itemTable": [], "binTable": [{"id": "20GP", "quantity": 2}]}'},
            "s.json:1:59: containers take no quantity",
        ),
        ({"s.json": '{"items": "nowhere.csv"}'}, "nowhere.csv: no such file"),
        ({"s.toml": "a = 1\nb = = 2\n"}, "s.toml:2:5: Invalid value"),
        (
            {"s.toml": '[[itemTable]]\nid = 1\n\n[[itemTable]]\nid = 2\nl = "x"\n'},
            "s.toml:6:5: l: expected a number, got 'x'",
        ),
        (
            {"i.csv": "id,l,w\n1,2,x\n", "c.csv": BINS_CSV},
            "i.csv:2:5: w: expected a number, got 'x'",
        ),
        (
            {"i.csv": "id,l,stackable\n1,2,maybe\n", "c.csv": BINS_CSV},
            "i.csv:2:5: stackable: expected true or false",
        ),
        (
            {"i.csv": 'id,l\n1,"2,5"\n', "c.csv": BINS_CSV},
            "i.csv:2:3: l: expected a number, got '2,5'",
        ),
        (
            {"i.csv": "id,l\n\n1,2,3\n", "c.csv": BINS_CSV},
            "i.csv:3:1: 3 fields, but the header has 2",
        ),
        ({"i.csv": "id,l,id\n", "c.csv": BINS_CSV}, "i.csv:1:6: header: 'id' repeated"),
        ({"i.csv": "\n", "c.csv": BINS_CSV}, "i.csv: empty file"),
        ({"i.csv": 'id,l\n1,"2\n', "c.csv": BINS_CSV}, "i.csv:2:1: CSV: unexpected end"),
        ({"i.csv": "id\n1\n", "c.csv": "id,quantity\n20GP,2\n"}, "c.csv:2:6: containers"),
        ({"i.csv": "id\n1\n"}, "CSV shipments are two files"),
        ({"s.txt": "id,l\n"}, "s.txt: cannot tell the format"),
        ({"s.json": b'{"itemTable":\n \xff}'}, "s.json:2:2: not UTF-8 text"),
    ],
)
def test_malformed_files_are_reported_at_the_spot(
    tmp_path: Path, files: dict[str, str | bytes], expected: str
) -> None:
    paths = write(tmp_path, files)
    with pytest.raises(ShipmentError) as raised:
        load_shipment(paths)
    message = str(raised.value).replace(str(tmp_path) + "/", "")
    assert message.startswith(expected), message
    assert "\n" not in message


def test_values_are_converted_to_what_pack_takes() -> None:
    shipment = parse_json_shipment(
        '{"itemTable": [{"id": 3.0, "l": 5, "quantity": 0}, {"id": 4, "weight": 2}],'
        f' "binTable": [{BIN_JSON}]}}',
        "s.json",
    )
    assert shipment.input["itemTable"] == [{"id": 4, "weight": 2.0}]
    assert type(shipment.input["binTable"][0]["cost"]) is int


def test_semicolon_csv_with_unknown_and_empty_cells(tmp_path: Path) -> None:
    paths = write(
        tmp_path,
        {
            "i.csv": "\ufeffid;l;w;h;weight;factory;stackable;colour\n7;10;20;30;;2;NO;red\n",
            "c.csv": BINS_CSV,
        },
    )
    shipment = load_shipment(paths)
    # The empty weight is left out, so pack itself reports the missing key.
    assert shipment.input["itemTable"] == [
        {"id": 7, "l": 10.0, "w": 20.0, "h": 30.0, "factory": 2, "stackable": False}
    ]
    assert len(shipment.warnings) == 1 and "'colour'" in shipment.warnings[0]


def test_a_shipment_file_may_mix_an_inline_table_with_a_csv_file(tmp_path: Path) -> None:
    (tmp_path / "sub").mkdir()
    write(tmp_path / "sub", {"items.csv": "id,l\n5,10\n"})
    paths = write(
        tmp_path,
        {"s.toml": 'items = "sub/items.csv"\n\n[[binTable]]\nid = "20GP"\nl = 590\n'},
    )
    shipment = load_shipment(paths)
    assert shipment.input == {
        "itemTable": [{"id": 5, "l": 10.0}],
        "binTable": [{"id": "20GP", "l": 590.0}],
    }
    assert shipment.item_sources[0].file.endswith("sub/items.csv")
    assert shipment.item_sources[0].line == 2
    assert shipment.bin_sources[0].line == 3
