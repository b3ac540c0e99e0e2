"""Requests a browser makes on behalf of some other site are refused before any route runs.

With no token (the default), the service trusts whoever can reach it; a web page open in the
planner's browser can reach it too. It could post plans (a form or a script sends a foreign
``Origin``), or, by pointing a name of its own at this address (DNS rebinding), read plans
through the browser with a ``Host`` that names that page's site.
"""

from __future__ import annotations

import ipaddress
import json
from collections.abc import Awaitable, Callable, Iterable
from typing import Any
from urllib.parse import urlsplit

__all__ = ["SameSiteGuard"]

Scope = dict[str, Any]
Receive = Callable[[], Awaitable[dict[str, Any]]]
Send = Callable[[dict[str, Any]], Awaitable[None]]
App = Callable[[Scope, Receive, Send], Awaitable[None]]

_CHANGES = {"POST", "PUT", "PATCH", "DELETE"}


def _host_name(authority: str) -> str:
    """The name in ``host:port`` or ``[v6]:port``, lower case."""
    name = urlsplit(f"//{authority}").hostname
    return (name or "").lower()


def _is_address(name: str) -> bool:
    try:
        ipaddress.ip_address(name)
    except ValueError:
        return False
    return True


class SameSiteGuard:
    """Refuses a ``Host`` naming a site not allowed (400) and a state-changing request that
    a browser sent from another origin (403)."""

    def __init__(self, app: App, allowed_hosts: Iterable[str]) -> None:
        self.app = app
        # An address cannot be rebound to another site, so any literal one is fine; a name
        # must be one the service was told it is reached by.
        self.names = {"localhost", *(name.lower() for name in allowed_hosts)}

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        headers = {key.decode("latin-1").lower(): value for key, value in scope["headers"]}
        host = headers.get("host", b"").decode("latin-1")
        name = _host_name(host)
        if not name or not (_is_address(name) or name in self.names):
            shown = host or "(none)"
            await _refuse(
                send,
                400,
                f"this service is not reached by the name {shown!r}; start it with "
                "--allow-host NAME to allow a name",
            )
            return
        if scope["method"] in _CHANGES:
            origin = headers.get("origin")
            site = headers.get("sec-fetch-site", b"").decode("latin-1")
            if origin is not None:
                given = urlsplit(origin.decode("latin-1"))
                if given.netloc.lower() != host.lower():
                    await _refuse(send, 403, "requests from another site's page are refused")
                    return
            elif site == "cross-site":
                await _refuse(send, 403, "requests from another site's page are refused")
                return
        await self.app(scope, receive, send)


async def _refuse(send: Send, status: int, message: str) -> None:
    body = json.dumps({"error": message}).encode()
    await send(
        {
            "type": "http.response.start",
            "status": status,
            "headers": [
                (b"content-type", b"application/json"),
                (b"content-length", str(len(body)).encode()),
            ],
        }
    )
    await send({"type": "http.response.body", "body": body})
