"""The web page at ``/``, and the plotting script it loads from the installed plotly."""

from __future__ import annotations

import functools
from importlib import resources

from fastapi import APIRouter
from fastapi.responses import HTMLResponse, Response

from stowra.service.plans import ClientError

router = APIRouter(include_in_schema=False)


@functools.cache
def _page() -> str:
    return resources.files("stowra.service").joinpath("page.html").read_text(encoding="utf-8")


@functools.cache
def _plotly_js() -> bytes:
    try:
        from plotly.offline import get_plotlyjs
    except ImportError:
        raise ClientError(501, "the 3D views need plotly: pip install 'stowra[serve]'") from None
    script: str = get_plotlyjs()
    return script.encode("utf-8")


@router.get("/")
def index() -> HTMLResponse:
    return HTMLResponse(_page(), headers={"Cache-Control": "no-cache"})


@router.get("/static/plotly.min.js")
def plotly_js() -> Response:
    return Response(
        _plotly_js(),
        media_type="text/javascript",
        headers={"Cache-Control": "public, max-age=86400"},
    )
