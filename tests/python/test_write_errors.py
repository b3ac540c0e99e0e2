"""``stowra pack`` and ``batch`` on disks that cannot take their files: each error names the
file, and a folder that cannot be written is refused before the search."""

from __future__ import annotations

from pathlib import Path

import pytest
from service_helpers import fill, small_disk

from stowra import cli
from stowra.examples import write_example


@pytest.mark.parametrize(
    "command, disk, error",
    [
        ("pack", "read-only", "--output: cannot write in {out!r}: Read-only file system"),
        ("batch", "read-only", "cannot write in the output folder {out}: Read-only file system"),
        ("pack", "full", "cannot write {out}/plan.json: No space left on device"),
    ],
)
def test_pack_and_batch_name_the_file_they_cannot_write(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], command: str, disk: str, error: str
) -> None:
    write_example(tmp_path, "json")
    shipment = str(tmp_path / "shipment.json")
    with small_disk(tmp_path / "out", size="1m", read_only=disk == "read-only") as out:
        if disk == "full":  # an old plan, and one page left free: the new one fails midway
            (out / "plan.json").write_text("old plan\n")
            (out / "spare").write_bytes(b"\0" * 4096)
            fill(out)
            (out / "spare").unlink()
        argv = [command, shipment, "-o", str(out / "plan.json") if command == "pack" else str(out)]
        status = cli.main([*argv, "--search", "exact", "--generations", "1", "--pop-size", "2"])
        after = {path.name: path.read_bytes() for path in out.iterdir()}
    output = capsys.readouterr()
    assert (status, output.err.splitlines()[-1]) == (2, "stowra: error: " + error.format(out=str(out)))
    if disk == "read-only":  # refused before any search: nothing else printed
        assert output.out == "" and output.err.count("\n") == 1
    else:
        assert after == {"filler": after["filler"], "plan.json": b"old plan\n"}  # and no partial file
