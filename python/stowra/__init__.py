"""Plans how to load boxes into shipping containers."""

from __future__ import annotations

try:
    from stowra import _core
except ImportError as error:  # pragma: no cover - depends on the installation
    error.add_note(
        "stowra's compiled core could not be loaded: it is built for CPython 3.11 only. "
        "Reinstall with `pip install .` from the source tree in this interpreter."
    )
    raise

from stowra._core import optimize, pack
from stowra.batch import pack_many  # Dask is imported only when a batch runs
from stowra.plan_check import check_plan
from stowra.plotting import plot  # draws with matplotlib, imported only when called

__doc__ = _core.__doc__
__all__ = ["check_plan", "optimize", "pack", "pack_many", "plot"]
__version__: str = _core.__version__  # the build gives the core the package version
