"""The HTTP connection as the service runs it: bounded in number and in how long a client may
take to send a request, and quiet about faults that repeat.

Left alone, a connection that sends half a request head is held open for good; a few thousand
of them use up the process's file descriptors, and then nothing works, not even /healthz.
"""

from __future__ import annotations

import json
import logging
import time
from typing import Any

import h11
from uvicorn.protocols.http.h11_impl import H11Protocol

__all__ = ["QuietRepeats", "bounded_protocol"]

_WORDS = {"Invalid HTTP request received.": "the request line or a header is malformed"}


def bounded_protocol(header_seconds: float, body_seconds: float, max_connections: int) -> type:
    """An HTTP protocol closing connections past ``max_connections`` at once, and any whose
    request head (or body) has not arrived in ``header_seconds`` (``body_seconds``)."""

    class BoundedH11Protocol(H11Protocol):
        _timer: Any = None
        _waiting_for: Any = None

        def connection_made(self, transport: Any) -> None:
            super().connection_made(transport)
            if len(self.connections) > max_connections:
                transport.close()
                return
            self._watch()

        def connection_lost(self, exc: Exception | None) -> None:
            self._stop_timer()
            super().connection_lost(exc)

        def data_received(self, data: bytes) -> None:
            super().data_received(data)
            self._watch()

        def on_response_complete(self) -> None:
            super().on_response_complete()
            self._watch()

        def _watch(self) -> None:
            # While the client owes a head or a body it has a deadline; while the app works
            # on the request, none.
            state = self.conn.their_state
            if state is self._waiting_for:
                return
            self._stop_timer()
            self._waiting_for = state
            seconds = {h11.IDLE: header_seconds, h11.SEND_BODY: body_seconds}.get(state)
            if seconds is not None and not self.transport.is_closing():
                self._timer = self.loop.call_later(seconds, self._too_slow)

        def _stop_timer(self) -> None:
            if self._timer is not None:
                self._timer.cancel()
                self._timer = None

        def send_400_response(self, msg: str) -> None:
            # A request line or header the parser refuses is answered as every other error of
            # the service: JSON a client can read.
            body = json.dumps({"error": f"invalid HTTP request: {_WORDS.get(msg, msg)}"}).encode()
            headers = [
                (b"content-type", b"application/json"),
                (b"content-length", str(len(body)).encode()),
                (b"connection", b"close"),
            ]
            for event in (
                h11.Response(status_code=400, headers=headers, reason=b"Bad Request"),
                h11.Data(data=body),
                h11.EndOfMessage(),
            ):
                self.transport.write(self.conn.send(event))
            self.transport.close()

        def _too_slow(self) -> None:
            self._timer = None
            if not self.transport.is_closing():
                self.transport.close()

    return BoundedH11Protocol


class QuietRepeats(logging.Filter):
    """Lets each message through at most once per ``seconds``: a fault that repeats thousands
    of times a second must not fill the log (and the disk)."""

    def __init__(self, seconds: float = 30.0) -> None:
        super().__init__()
        self.seconds = seconds
        self._last: dict[tuple[str, Any], float] = {}

    def filter(self, record: logging.LogRecord) -> bool:
        key = (record.name, record.msg)
        now = time.monotonic()
        if now - self._last.get(key, -self.seconds) < self.seconds:
            return False
        if len(self._last) > 1000:
            self._last.clear()
        self._last[key] = now
        return True
