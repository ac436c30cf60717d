# Types of the package blocklevels (see help(blocklevels) for the meaning).
from typing import Any, Optional, Union

import numpy as np
import pandas as pd

parameter_names: tuple[str, ...]

def csv_columns(max_blocks: int) -> list[str]: ...

class Stop(ArithmeticError):
    status: int
    def __init__(self, status: int, message: str) -> None: ...

class Range:
    start: Union[int, float, str]
    stop: Union[int, float, str]
    count: int
    log: bool
    def __init__(
        self, start: Union[int, float, str], stop: Union[int, float, str], count: int,
        log: bool = ...
    ) -> None: ...
    @property
    def text(self) -> str: ...

class ModelResult:
    parameters: dict[str, Union[int, str]]
    t: np.ndarray  # int64, (reports,)
    X: np.ndarray  # float64, (reports, blocks)
    mean_level: np.ndarray  # float64, (reports,)
    def to_pandas(self) -> pd.DataFrame: ...

class SimulationResult:
    parameters: dict[str, Union[int, str]]
    runs: int
    seed: int
    t: np.ndarray  # int64, (reports,)
    mean: np.ndarray  # float64, (reports, blocks)
    ci95: np.ndarray  # float64, (reports, blocks)
    mean_level: np.ndarray  # float64, (reports,)
    mean_level_ci95: np.ndarray  # float64, (reports,)
    sum: np.ndarray  # object (Python int), (reports, blocks)
    sum_of_squares: np.ndarray  # object (Python int), (reports, blocks)
    sum_level: np.ndarray  # object (Python int), (reports,)
    sum_level_of_squares: np.ndarray  # object (Python int), (reports,)
    def to_pandas(self) -> pd.DataFrame: ...

Value = Union[int, float, str, Range, list[Union[int, float, str]]]

def model(
    lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int, final: int,
    step: int = ..., two_option: int = ...
) -> ModelResult: ...
def simulate(
    lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int, final: int,
    step: int = ..., two_option: int = ..., *, runs: int, seed: int = ...,
    jobs: Optional[int] = ...
) -> SimulationResult: ...
def study(
    *, runs: Optional[int] = ..., seed: int = ..., jobs: Optional[int] = ..., **parameters: Value
) -> pd.DataFrame: ...
