# The extension module's interface; the package blocklevels is the one to use.
from typing import Any, Sequence, Union

import numpy as np

def run(
    items_by_parameter: Sequence[Sequence[Union[str, float]]],
    model: bool,
    runs: str,
    seed: str,
    jobs: str,
) -> dict[str, Any]:
    """Runs the points of `items_by_parameter` (one list of texts and floats
    per parameter, in the table's order): {"swept", "max_blocks", "points"};
    each point a dict with "parameters", "status" and, when 0, "t", "tail",
    "mean_level", "simulation"."""

def run_unchecked(
    lambda_: int, mu: int, pmut: str, block_length: int, two_option: int, blocks: int,
    final: int, step: int
) -> dict[str, Any]:
    """For tests: the model of unchecked values, as the dialogue takes them."""

def floating_point_environment() -> tuple[int, int, int]:
    """For tests: the x87 control word, x87 status word and MXCSR of the caller."""

def parameters() -> list[dict[str, Any]]:
    """The parameter table: name, option, real, default, meaning."""

def csv_columns(max_blocks: int) -> list[str]:
    """The CSV header's columns."""

def stop_meaning(number: int) -> str:
    """A stop number's meaning in words."""
