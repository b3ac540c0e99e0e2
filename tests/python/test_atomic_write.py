"""Output files are replaced whole: a failed write leaves the old file and no debris."""

from __future__ import annotations

from pathlib import Path

import pytest

from stowra.atomic_write import replacing, write_text


@pytest.mark.parametrize("existing", [None, "old plan\n"])
def test_a_write_that_fails_leaves_the_folder_as_it_was(tmp_path: Path, existing: str | None) -> None:
    target = tmp_path / "plan.json"
    if existing is not None:
        target.write_text(existing)
    with pytest.raises(KeyboardInterrupt), replacing(target) as temporary:
        temporary.write_text("half a pl")
        raise KeyboardInterrupt
    assert [path.name for path in tmp_path.iterdir()] == ([] if existing is None else ["plan.json"])
    if existing is not None:
        assert target.read_text() == existing


def test_a_finished_write_replaces_the_file_and_leaves_nothing_else(tmp_path: Path) -> None:
    target = tmp_path / "plan.json"
    target.write_text("old")
    write_text(target, "new plan\n")
    assert target.read_text() == "new plan\n"
    assert [path.name for path in tmp_path.iterdir()] == ["plan.json"]
