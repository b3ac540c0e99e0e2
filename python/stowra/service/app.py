"""The ASGI app: ``create_app(settings)`` builds it, its lifespan starts and stops the workers."""

from __future__ import annotations

import contextlib
import logging
import sqlite3
from collections.abc import AsyncIterator

from fastapi import FastAPI, Request
from fastapi.exceptions import RequestValidationError
from fastapi.responses import JSONResponse
from starlette.exceptions import HTTPException

from stowra import __version__
from stowra.service.guard import SameSiteGuard
from stowra.service.plans import ClientError
from stowra.service.routes import health, page, plans
from stowra.service.runtime import Service
from stowra.service.settings import Settings

__all__ = ["create_app"]

_log = logging.getLogger("stowra.service")


def _error(status: int, message: str, headers: dict[str, str] | None = None) -> JSONResponse:
    return JSONResponse({"error": message}, status_code=status, headers=headers)


def create_app(settings: Settings | None = None) -> FastAPI:
    """The service over ``settings.data``; workers run while the app's lifespan lasts."""
    service = Service(settings or Settings())

    @contextlib.asynccontextmanager
    async def lifespan(_app: FastAPI) -> AsyncIterator[None]:
        service.start()
        try:
            yield
        finally:
            service.stop()

    app = FastAPI(
        title="stowra",
        version=__version__,
        description="Plans how to load boxes into shipping containers. Submit a shipment, "
        "poll the plan until it is done, then fetch the plan, its report and downloads.",
        lifespan=lifespan,
    )
    app.state.service = service

    @app.exception_handler(ClientError)
    async def client_error(_request: Request, error: ClientError) -> JSONResponse:
        return _error(error.status, error.message, error.headers)

    @app.exception_handler(HTTPException)
    async def http_error(request: Request, error: HTTPException) -> JSONResponse:
        message = str(error.detail)
        if error.status_code == 404 and message == "Not Found":
            message = f"not found: {request.url.path}"
        elif error.status_code == 405:
            message = f"{request.method} is not allowed on {request.url.path}"
        return _error(error.status_code, message, getattr(error, "headers", None))

    @app.exception_handler(RequestValidationError)
    async def bad_parameter(_request: Request, error: RequestValidationError) -> JSONResponse:
        problems = []
        for problem in error.errors():
            where = ".".join(str(part) for part in problem.get("loc", ()) if part != "query")
            problems.append(f"{where}: {problem.get('msg', 'invalid')}")
        return _error(400, "; ".join(problems) or "invalid request")

    @app.exception_handler(sqlite3.Error)
    async def store_error(request: Request, error: sqlite3.Error) -> JSONResponse:
        _log.error("error answering %s %s: %s", request.method, request.url.path, error)
        return _error(503, f"the service cannot use its plan store: {error}")

    @app.exception_handler(Exception)
    async def unexpected(request: Request, error: Exception) -> JSONResponse:
        # The details go to the service's log; a client never sees a traceback.
        _log.error("error answering %s %s", request.method, request.url.path, exc_info=error)
        return _error(500, "the service failed to answer this request; its log has the details")

    for router in (health.router, plans.router, page.router):
        app.include_router(router)
    app.add_middleware(SameSiteGuard, allowed_hosts=service.settings.allowed_hosts)
    return app
