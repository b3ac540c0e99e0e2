"""Shipment readers against files that are not shipments: devices, pipes, huge or lying files."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

from stowra.files import ShipmentError, load_shipment

MAX_FILE_BYTES = 64 * 1024 * 1024


def named(tmp_path: Path, kind: str) -> Path:
    if kind == "device":
        return Path("/dev/zero")
    if kind == "pipe":
        os.mkfifo(tmp_path / "items.csv")  # no writer: reading it would wait for ever
    elif kind == "folder":
        (tmp_path / "items.csv").mkdir()
    else:
        with (tmp_path / "items.csv").open("wb") as out:
            out.truncate(MAX_FILE_BYTES + 1)
    return tmp_path / "items.csv"


@pytest.mark.parametrize(
    "kind, words",
    [
        ("device", "not a regular file (a device, pipe or socket)"),
        ("pipe", "not a regular file (a device, pipe or socket)"),
        ("folder", "is a directory, expected a file"),
        ("huge", "larger than 67,108,864 bytes; not a shipment"),
    ],
)
def test_a_shipment_naming_what_is_not_a_shipment_file_is_refused(tmp_path: Path, kind: str, words: str) -> None:
    path = named(tmp_path, kind)
    (tmp_path / "shipment.toml").write_text(f'items = "{path}"\n')
    with pytest.raises(ShipmentError) as refused:
        load_shipment([tmp_path / "shipment.toml"])
    assert str(refused.value) == f"{path}: {words}"
