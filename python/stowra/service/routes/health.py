"""``GET /healthz``: is the service up, which version, how busy; 503 while it cannot store."""

from __future__ import annotations

import sqlite3
from typing import Any

from fastapi import APIRouter
from fastapi.responses import JSONResponse
from starlette.concurrency import run_in_threadpool

from stowra import __version__
from stowra.service.runtime import Running

router = APIRouter(tags=["health"])


@router.get("/healthz")
async def healthz(running: Running) -> JSONResponse:
    about: dict[str, Any] = {"version": __version__, "workers": running.settings.workers}
    problem: str | None = None
    try:
        about.update(await run_in_threadpool(running.store.counts))
    except sqlite3.Error as error:
        problem = f"the plan store cannot be read: {error}"
    if running.store.write_error is not None:
        problem = f"the plan store cannot be written: {running.store.write_error}"
    unsaved = running.pool.unsaved()
    if unsaved:
        waits = "s wait" if unsaved != 1 else " waits"
        problem = f"{unsaved} finished plan{waits} to be stored"
    if problem is not None:
        return JSONResponse({"status": "unhealthy", "error": problem, **about}, status_code=503)
    return JSONResponse({"status": "ok", **about})
