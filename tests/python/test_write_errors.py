"""``stowra pack`` on disks that cannot take its files: each error names the file, and a
folder that cannot be written is refused before the search."""

from __future__ import annotations

from pathlib import Path

import pytest
from service_helpers import fill, small_disk

from stowra import cli
from stowra.examples import write_example


@pytest.mark.parametrize("disk", ["read-only", "full"])
def test_pack_names_the_file_it_cannot_write(tmp_path: Path, capsys: pytest.CaptureFixture[str], disk: str) -> None:
    write_example(tmp_path, "json")
    shipment = str(tmp_path / "shipment.json")
    with small_disk(tmp_path / "out", size="1m", read_only=disk == "read-only") as out:
        if disk == "full":  # an old plan, and one page left free: the new one fails midway
            (out / "plan.json").write_text("old plan\n")
            (out / "spare").write_bytes(b"\0" * 4096)
            fill(out)
            (out / "spare").unlink()
        argv = ["pack", shipment, "-o", str(out / "plan.json"), "--search", "exact", "--generations", "1"]
        status = cli.main([*argv, "--pop-size", "2"])
        after = {path.name: path.read_bytes() for path in out.iterdir()}
    error = capsys.readouterr().err
    assert status == 2
    if disk == "read-only":  # before any search: no progress line was printed
        assert error == f"stowra: error: --output: cannot write in {str(out)!r}: Read-only file system\n"
    else:
        assert error.splitlines()[-1] == f"stowra: error: cannot write {out / 'plan.json'}: No space left on device"
        assert after == {"filler": after["filler"], "plan.json": b"old plan\n"}  # and no partial file
