"""``python -m stowra``: the same command line as ``stowra``."""

from stowra.cli import run

run()
