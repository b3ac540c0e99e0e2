"""The plan pack returns: its shape, its soundness and its reproducibility."""

from __future__ import annotations

import os
import re
import signal
import subprocess
import sys
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from plan_checks import check_plan
from problems import CONTAINER_20GP, CONTAINER_40GP, container, drawn_items, item, mixed_load, problem

import stowra


def without_time(result: dict) -> dict:
    return {key: value for key, value in result.items() if key != "elapsedSeconds"}


@pytest.mark.parametrize("pop_size", range(1, 10))
def test_small_populations_give_an_evaluated_plan(pop_size: int) -> None:
    load = mixed_load(25, seed=pop_size)
    result = stowra.pack(load, pop_size=pop_size, generations=4, time_limit=0.0)
    assert check_plan(load, result) == set(range(25))
    figures = result["cost"] * 100 - result["utilization"] * 1000 + result["centerPenalty"]
    assert result["fitness"] == figures + result["weightPenalty"]


@pytest.mark.parametrize("threads", [1, 2, 0])
def test_same_seed_same_plan_and_lines_for_any_thread_count(threads: int, capfd) -> None:
    load = mixed_load(60, seed=11)
    reference = stowra.pack(load, pop_size=12, generations=12, threads=1, seed=7)
    reference_lines = capfd.readouterr().out
    result = stowra.pack(load, pop_size=12, generations=12, threads=threads, seed=7)
    assert without_time(result) == without_time(reference)
    assert capfd.readouterr().out == reference_lines


@pytest.mark.parametrize(
    ("load", "arguments"),
    [
        # A square item has one rotation, so every candidate is the same plan and the first wins.
        (problem(items=[item(l=50.0, w=50.0)]), {"pop_size": 5, "generations": 10}),
        (problem(), {"pop_size": 1, "generations": 0}),  # the population is the seed alone
        (problem(), {"pop_size": 1, "generations": -4}),
    ],
)
def test_without_generations_the_plan_is_the_input_order_one(load, arguments, capfd) -> None:
    result = stowra.pack(load, **arguments)
    assert len(capfd.readouterr().out.splitlines()) == 2
    # Input order, unrotated: item 0 sits in the corner of container 1.
    first = result["packingTable"][0]["items"][0]
    assert [first[key] for key in ("itemIndex", "x", "y", "z", "rotation")] == [0, 0, 0, 0, 0]


# Passed before the first candidate, and while the initial population is built or decoded.
@pytest.mark.parametrize(("count", "time_limit"), [(80, 1e-9), (20_000, 2.0)])
def test_time_limit_stops_at_generation_zero(capfd, count: int, time_limit: float) -> None:
    load = mixed_load(count, seed=4)
    result = stowra.pack(load, generations=1000, time_limit=time_limit)
    lines = capfd.readouterr().out.splitlines()
    assert lines[-1] == "GA: Time limit reached at generation 0"
    assert check_plan(load, result) == set(range(count))
    # Generous, for a loaded machine: the limit plus a few decodes, not the whole population.
    assert time_limit < result["elapsedSeconds"] < time_limit + 60


LONG_SEARCH = """
import stowra, sys
sys.path.insert(0, {tests!r})
from problems import mixed_load
stowra.pack(mixed_load(150, seed=1), pop_size=200, generations=10_000, time_limit=120.0)
"""


@pytest.mark.parametrize("wait", [0.2, 2.0])  # early and later in the search
def test_ctrl_c_stops_a_long_search(wait: float) -> None:
    script = LONG_SEARCH.format(tests=os.path.dirname(__file__))
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "GA: Initializing population...\n"
        time.sleep(wait)
        child.send_signal(signal.SIGINT)
        _, errors = child.communicate(timeout=30)
    finally:
        child.kill()
    assert child.returncode != 0
    assert errors.rstrip().endswith("KeyboardInterrupt")


MEMORY_HUNGRY = """
import resource, stowra, sys
sys.path.insert(0, {tests!r})
from problems import item, problem
if {address_space}:
    resource.setrlimit(resource.RLIMIT_AS, ({address_space}, {address_space}))
try:
    result = stowra.pack(problem([item(0), item(1)]), pop_size={pop_size}, time_limit=5.0)
except MemoryError as error:
    print(f"MemoryError: {{error}}")
else:
    print(f"plan of {{result['totalBins']}} containers")
"""
REFUSED = r"MemoryError: pop_size \d+ with 2 items needs about [\d.]+ GB .*; lower pop_size"
RAN_OUT = "MemoryError: memory ran out during the search"


@pytest.mark.parametrize(
    ("pop_size", "address_space", "outcomes"),
    [
        # Refused up front where its estimate is over half the memory, else cut off in time.
        (10_000_000, 0, [REFUSED, r"plan of \d+ containers"]),
        # Under the estimate's limit, but the allocation fails.
        (5_000_000, 2 * 2**30, [REFUSED, RAN_OUT]),
    ],
)
def test_a_population_too_large_for_memory(pop_size: int, address_space: int, outcomes: list[str]) -> None:
    if address_space and "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer's runtime needs more address space than the cap")
    script = MEMORY_HUNGRY.format(tests=os.path.dirname(__file__), pop_size=pop_size, address_space=address_space)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert any(re.fullmatch(outcome, done.stdout.splitlines()[-1]) for outcome in outcomes), done.stdout


dimension = st.integers(min_value=5, max_value=150).map(float)


@st.composite
def small_problems(draw) -> dict:
    count = draw(st.integers(min_value=1, max_value=25))
    items = drawn_items(draw, count, dimension, st.integers(0, 3000), st.integers(0, 2))
    limit = float(draw(st.sampled_from([0, 2500, 28000])))
    bins = [container(CONTAINER_20GP, weight_limit=limit), container(CONTAINER_40GP)]
    return problem(items=items, bins=bins)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(load=small_problems(), seed=st.integers(min_value=-(2**31), max_value=2**31 - 1))
def test_any_plan_is_physically_sound(load: dict, seed: int) -> None:
    result = stowra.pack(load, pop_size=3, generations=2, seed=seed)
    placed = check_plan(load, result)
    # The 40GP has no weight limit, so every item fits somewhere.
    assert placed == set(range(len(load["itemTable"])))


def test_container_names_given_as_bytes_come_back_as_text() -> None:
    load = problem(items=[item()], bins=[container(id=b"K\xc3\xbchl")])
    row = stowra.pack(load, pop_size=1, generations=0)["packingTable"][0]
    # The golden plans pin every other key and type; JSON cannot tell a tuple from a list.
    assert row["binType"] == "Kühl" and type(row["centerOfGravity"]) is tuple


BROKEN_STDOUT = """
import os, sys
sys.path.insert(0, {tests!r})
import stowra
from problems import problem
if {broken_pipe}:
    reader, writer = os.pipe()
    os.dup2(writer, 1)
    os.close(reader)
    os.close(writer)
else:
    os.close(1)
result = stowra.pack(problem(), pop_size=6, generations=12)
print("placed", sum(row["itemCount"] for row in result["packingTable"]), file=sys.stderr)
"""


@pytest.mark.parametrize("broken_pipe", [True, False])
def test_unwritable_stdout_does_not_fail_the_search(broken_pipe: bool) -> None:
    # The progress lines are progress; the plan is the product.
    script = BROKEN_STDOUT.format(tests=os.path.dirname(__file__), broken_pipe=broken_pipe)
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (child.returncode, child.stderr) == (0, "placed 3\n")
