"""``stowra demo``: pack the built-in example shipment and draw it."""

from __future__ import annotations

import argparse
from typing import Any

from stowra.cli.common import PACK_DEFAULTS, SearchFn, add_run_options, check_outputs
from stowra.cli.pack import plan
from stowra.examples import DEMO_SEARCH, example_json
from stowra.files import parse_json_shipment

_EPILOG = (
    "The demo searches briefly (seed {seed}) so it finishes in seconds and gives the same plan "
    "every run. For a better plan search longer, for example: stowra demo --effort 6. "
    "To edit the shipment, write it out with: stowra example --format json DIR"
).format(**DEMO_SEARCH)


def add_parser(commands: Any) -> None:
    demo = commands.add_parser(
        "demo",
        help="pack the built-in example shipment and draw it",
        description="Pack the built-in example: about 300 cartons and pallets from three "
        "factories into 20GP and 40GP containers (cm, kg). Writes the plan and a picture.",
        epilog=_EPILOG,
    )
    add_run_options(
        demo,
        {
            **PACK_DEFAULTS,
            **DEMO_SEARCH,
            "output": "stowra-demo-plan.json",
            "png": "stowra-demo.png",
        },
    )


def command(args: argparse.Namespace, search_fn: SearchFn | None) -> int:
    check_outputs(args)
    return plan(args, parse_json_shipment(example_json(), "example shipment.json"), search_fn)
