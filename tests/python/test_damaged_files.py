"""Random and damaged shipment files given to ``stowra pack``: every one ends in a sound plan, or
in status 2 with one error line that names the file; never in another exception."""

from __future__ import annotations

import contextlib
import io
import json
import tempfile
import zipfile
from pathlib import Path
from typing import Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from plan_checks import check_plan
from problems import CONTAINER_40GP, container, item

from stowra import cli
from stowra.files import load_shipment
from stowra.files.excel import workbook_bytes
from stowra.files.rows import COLUMNS

TINY = ["--pop-size", "2", "--generations", "1", "--effort", "0", "--threads", "1", "-q"]
# Stackable and not, quantities, and a container type that is not available.
ITEMS = [item(1, quantity=3), item(2, l=120.0, w=80.0, h=110.0, weight=850.0, factory=2, stackable=False), item(3)]
BINS = [container(), container(CONTAINER_40GP, available=False)]


def _toml(tables: dict[str, list[dict[str, Any]]]) -> str:
    # JSON's numbers, strings and true/false are TOML's too.
    blocks = [
        f"[[{table}]]\n" + "".join(f"{key} = {json.dumps(v)}\n" for key, v in row.items())
        for table, rows in tables.items()
        for row in rows
    ]
    return "\n".join(blocks)


def _csv(rows: list[dict[str, Any]]) -> str:
    keys = list({key: None for row in rows for key in row})
    lines = [",".join(keys)] + [",".join(str(row.get(key, "")) for key in keys) for row in rows]
    return "\n".join(lines) + "\n"


TABLES = {"itemTable": ITEMS, "binTable": BINS}
# One well-formed shipment per format: the file that is damaged, and the files beside it.
VALID = {
    "s.json": json.dumps(TABLES, indent=1).encode(),
    "s.toml": _toml(TABLES).encode(),
    "items.csv": _csv(ITEMS).encode(),
    "containers.csv": _csv(BINS).encode(),
    "s.xlsx": workbook_bytes({table: (COLUMNS[table], rows) for table, rows in TABLES.items()}),
}
# The command's arguments for each damaged file: a CSV file needs its partner.
ARGUMENTS = {name: [name] if name.startswith("s.") else ["items.csv", "containers.csv"] for name in VALID}
# Pieces that reach the corners of the readers: huge and odd numbers, quotes, brackets, NULs.
TOKENS = [
    b"-1", b"0", b"1e309", b"-1e309", b"NaN", b"nan", b"inf", b"99999", b"2147483648",
    b"9" * 5000, b"0x10", b"1_000", b'"', b"'", b",", b";", b"\t", b"[", b"]", b"{", b"}",
    b"[[", b"[" * 3000, b"{" * 3000, b"\n", b"\r", b"\x00", b"\xef\xbb\xbf", b"\xff",
    b"true", b"false", b"null", b"=", b":", b'"quantity": ', b"quantity = ", b"items = ",
    b'"items": ', b'"id"', b"20GP", b"1.5",
]  # fmt: skip


@st.composite
def damaged(draw: st.DrawFn, original: bytes) -> bytes:
    """The bytes with a few spans cut, replaced by random bytes or by a token, or repeated."""
    data = bytearray(original)
    for _ in range(draw(st.integers(1, 4))):
        start = draw(st.integers(0, len(data)))
        end = draw(st.integers(start, min(len(data), start + 12)))
        data[start:end] = draw(
            st.binary(max_size=8) | st.sampled_from(TOKENS) | st.just(bytes(data[start:end]) * draw(st.integers(2, 4)))
        )
    return bytes(data)


@st.composite
def damaged_workbook(draw: st.DrawFn) -> bytes:
    """The workbook with one of its parts (a sheet, the workbook, its properties, ...) damaged."""
    with zipfile.ZipFile(io.BytesIO(VALID["s.xlsx"])) as book:
        parts = {info.filename: book.read(info) for info in book.infolist()}
    name = draw(st.sampled_from(sorted(parts)))
    parts[name] = draw(damaged(parts[name]))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as book:
        for part, data in parts.items():
            book.writestr(part, data)
    return out.getvalue()


JSON_VALUES = st.recursive(
    st.none()
    | st.booleans()
    | st.integers(-(2**70), 2**70)
    | st.floats()
    | st.text(max_size=8)
    | st.sampled_from(["items.csv", "", ".", "s.json"]),
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=6), inner, max_size=3),
    max_leaves=6,
)


@st.composite
def reshaped_json(draw: st.DrawFn) -> bytes:
    """The JSON shipment with a top-level key, a row or a cell set to a value of any kind."""
    document: dict[str, Any] = {table: [dict(row) for row in rows] for table, rows in TABLES.items()}
    table = draw(st.sampled_from(["itemTable", "binTable"]))
    rows, value = document[table], draw(JSON_VALUES)
    index = draw(st.integers(0, len(rows) - 1))
    where = draw(st.sampled_from(["top", "row", "cell"]))
    if where == "top":
        document[draw(st.sampled_from([table, "items", "containers", "extra"]))] = value
    elif where == "row":
        rows[index] = value
    else:
        rows[index][draw(st.sampled_from([*COLUMNS[table], "quantity"]))] = value
    return json.dumps(document).encode()


def run_pack(folder: Path, target: str, data: bytes) -> tuple[int, list[str]]:
    for name, original in VALID.items():
        (folder / name).write_bytes(data if name == target else original)
    (folder / "plan.json").unlink(missing_ok=True)
    err = io.StringIO()
    with contextlib.chdir(folder), contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
        status = cli.main(["pack", *ARGUMENTS[target], "-o", "plan.json", *TINY])
    return status, err.getvalue().splitlines()


def check_outcome(folder: Path, target: str, data: bytes) -> None:
    status, lines = run_pack(folder, target, data)
    if status == 0:
        with contextlib.chdir(folder):
            problem = load_shipment(ARGUMENTS[target]).input
        check_plan(problem, json.loads((folder / "plan.json").read_text()))
        assert not any(line.startswith("stowra: error") for line in lines), lines
        return
    assert status == 2, (status, lines)
    # Warnings about the file may come first; the error is the last line and names the file.
    *before, last = lines
    assert all(line.startswith(("stowra: warning: ", "stowra: note: ")) for line in before), lines
    assert last.startswith("stowra: error: ") and any(name in last for name in ARGUMENTS[target]), last
    assert not (folder / "plan.json").exists()


FUZZ = settings(max_examples=150)


# Random bytes and damaged copies of each format, values of every kind in the JSON tables, and
# a workbook with one part damaged inside its intact archive.
CASES = [pytest.param(t, st.binary(max_size=400), id=f"random-{t}") for t in VALID]
CASES += [pytest.param(t, damaged(VALID[t]), id=f"damaged-{t}") for t in VALID]
CASES += [pytest.param("s.json", reshaped_json(), id="values"), pytest.param("s.xlsx", damaged_workbook(), id="parts")]


@pytest.mark.parametrize(("target", "files"), CASES)
def test_every_file_ends_in_a_sound_plan_or_one_error_line(target: str, files: st.SearchStrategy[bytes]) -> None:
    @FUZZ
    @given(data=files)
    def attempt(data: bytes) -> None:
        with tempfile.TemporaryDirectory() as folder:
            check_outcome(Path(folder), target, data)

    attempt()
