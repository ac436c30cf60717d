# The extension module's interface; the package blocklevels is the one to use.
from typing import Any, Union

def run(
    items: dict[str, list[Union[str, float]]], settings: dict[str, str], mode: str
) -> dict[str, Any]:
    """Runs the points of `items` (each parameter's texts and floats, by
    keyword) with `settings` (by name), `mode` "model", "simulate" or
    "study": {"swept", "max_blocks", "points", "table"}."""

def run_unchecked(
    lambda_: int, mu: int, pmut: str, block_length: int, two_option: int, blocks: int,
    final: int, step: int
) -> dict[str, Any]:
    """For tests: the model of unchecked values, as the dialogue takes them."""

def floating_point_environment() -> tuple[int, int, int]:
    """For tests: the x87 control word, x87 status word and MXCSR of the caller."""

def parameters() -> list[dict[str, Any]]:
    """The parameter table: name, keyword, option, kind, default, meaning, choices."""

def settings() -> list[dict[str, Any]]:
    """The settings table: name, option, default, meaning."""

def table_columns(max_blocks: int, run_column: bool = ...) -> list[str]:
    """The table's columns."""

def table_format() -> str:
    """The table's format."""

def stop_meaning(number: int) -> str:
    """A stop number's meaning in words."""

class StopRefused(Exception):
    """A call refused before it ran, with a stop number: args are (status,
    words). The package raises it as its Stop."""
