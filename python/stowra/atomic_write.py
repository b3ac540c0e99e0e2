"""Output files appear whole or not at all: each is written under a temporary name in its
own folder, then renamed over the real name, so a crash or Ctrl-C never leaves half a file."""

from __future__ import annotations

import contextlib
import os
import secrets
from collections.abc import Iterator
from pathlib import Path

__all__ = ["TEMPORARY_MARK", "replacing", "write_text"]

# Part of every temporary name, so a leftover from a killed process is easy to recognise.
TEMPORARY_MARK = ".partial"


@contextlib.contextmanager
def replacing(path: Path) -> Iterator[Path]:
    """Yield a temporary path beside ``path``; it becomes ``path`` when the block succeeds.

    The temporary name keeps the suffix, so writers that choose a format by it still work.
    If the block raises, the temporary file is removed and ``path`` is left as it was.
    """
    path = Path(path)
    temporary = path.with_name(f".{path.stem}.{secrets.token_hex(4)}{TEMPORARY_MARK}{path.suffix}")
    try:
        yield temporary
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def write_text(path: Path, text: str) -> None:
    """Write ``text`` as UTF-8 to ``path`` through a temporary file."""
    with replacing(path) as temporary:
        temporary.write_text(text, encoding="utf-8")
