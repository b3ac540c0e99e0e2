"""Hypothesis draws the same examples on every run and keeps no database of earlier ones, so a
green or red run repeats as it was (`--hypothesis-profile=explore` searches afresh)."""

from hypothesis import HealthCheck, settings

settings.register_profile(
    "repeatable", derandomize=True, database=None, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.register_profile("explore", deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("repeatable")
