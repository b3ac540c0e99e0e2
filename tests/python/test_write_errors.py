"""``stowra pack`` and ``batch`` on disks that cannot take their files: each error names the
file, and a folder that cannot be written is refused before the search."""

from __future__ import annotations

from pathlib import Path

import pytest
from service_helpers import fill, small_disk

from stowra import cli
from stowra.examples import write_example


@pytest.mark.parametrize("command, disk", [("pack", "read-only"), ("pack", "full"), ("batch", "read-only")])
def test_pack_and_batch_name_the_file_they_cannot_write(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], command: str, disk: str
) -> None:
    write_example(tmp_path, "json")
    shipment = str(tmp_path / "shipment.json")
    with small_disk(tmp_path / "out", size="1m", read_only=disk == "read-only") as out:
        if disk == "full":  # an old plan, and one page left free: the new one fails midway
            (out / "plan.json").write_text("old plan\n")
            (out / "spare").write_bytes(b"\0" * 4096)
            fill(out)
            (out / "spare").unlink()
        target = out / "plan.json" if command == "pack" else out
        status = cli.main(
            [command, shipment, "-o", str(target), "--search", "exact", "--generations", "1", "--pop-size", "2"]
        )
        after = {path.name: path.read_bytes() for path in out.iterdir()}
    output = capsys.readouterr()
    assert status == 2
    if disk == "read-only":  # refused before any search: nothing else printed
        refused = {
            "pack": f"--output: cannot write in {str(out)!r}",
            "batch": f"cannot write in the output folder {out}",
        }
        assert (output.out, output.err) == ("", f"stowra: error: {refused[command]}: Read-only file system\n")
    else:
        last = output.err.splitlines()[-1]
        assert last == f"stowra: error: cannot write {out / 'plan.json'}: No space left on device"
        assert after == {"filler": after["filler"], "plan.json": b"old plan\n"}  # and no partial file
