"""``GET /healthz``: is the service up, which version, how busy."""

from __future__ import annotations

from typing import Any

from fastapi import APIRouter
from starlette.concurrency import run_in_threadpool

from stowra import __version__
from stowra.service.runtime import Running

router = APIRouter(tags=["health"])


@router.get("/healthz")
async def healthz(running: Running) -> dict[str, Any]:
    counts = await run_in_threadpool(running.store.counts)
    return {
        "status": "ok",
        "version": __version__,
        "workers": running.settings.workers,
        **counts,
    }
