"""The planning service: a web page and a JSON API over plans kept in SQLite and searched in
worker processes (``pip install 'stowra[serve]'``).

``create_app`` is imported on first use so that ``stowra.service.settings`` needs no extra.
"""

from __future__ import annotations

from typing import Any

__all__ = ["Settings", "create_app"]

from stowra.service.settings import Settings


def __getattr__(name: str) -> Any:
    if name == "create_app":
        from stowra.service.app import create_app

        return create_app
    raise AttributeError(f"module 'stowra.service' has no attribute {name!r}")
