# Types of the package blocklevels (see help(blocklevels) for the meaning).
# tests/python/test_signatures.py checks these against the parameter and
# settings tables the package is made from.
from typing import Optional, Sequence, Union

import numpy as np
import pandas as pd
from matplotlib.figure import Figure

parameter_names: tuple[str, ...]
table_format: str

def table_columns(max_blocks: int, run_column: bool = ...) -> list[str]: ...

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

class HittingResult:
    points: list[dict]  # parameters, status, t, final, runs, times (int64), never
    table: pd.DataFrame
    def to_pandas(self) -> pd.DataFrame: ...

Value = Union[int, float, str, Range, list[Union[int, float, str]]]

def model(
    lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int, final: int,
    step: Optional[int] = ..., two_option: Optional[int] = ..., model: Optional[str] = ...,
    arithmetic: Optional[str] = ...
) -> ModelResult: ...
def simulate(
    lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int, final: int,
    step: Optional[int] = ..., two_option: Optional[int] = ..., model: Optional[str] = ...,
    arithmetic: Optional[str] = ..., *, runs: Optional[int] = ..., seed: Optional[int] = ...,
    jobs: Optional[int] = ...
) -> SimulationResult: ...
def study(
    lambda_: Value, mu: Value, pmut: Value, block_length: Value, blocks: Value, final: Value,
    step: Optional[Value] = ..., two_option: Optional[Value] = ..., model: Optional[Value] = ...,
    arithmetic: Optional[Value] = ..., *, runs: Optional[int] = ..., seed: Optional[int] = ...,
    jobs: Optional[int] = ..., hitting: Optional[str] = ..., hitting_runs: Optional[bool] = ...,
    zip: Optional[Union[str, Sequence[str]]] = ..., mu_ratio: Optional[Value] = ...
) -> pd.DataFrame: ...
def find(
    *, lambda_: Optional[Value] = ..., mu: Optional[Value] = ..., pmut: Optional[Value] = ...,
    block_length: Optional[Value] = ..., two_option: Optional[Value] = ...,
    blocks: Optional[Value] = ..., final: Optional[Value] = ..., step: Optional[Value] = ...,
    model: Optional[Value] = ..., arithmetic: Optional[Value] = ...,
    find: Optional[Union[str, Sequence[Union[int, float, str]]]] = ...,
    where: Optional[str] = ..., grid: Optional[int] = ..., runs: Optional[int] = ...,
    seed: Optional[int] = ..., jobs: Optional[int] = ...,
    zip: Optional[Union[str, Sequence[str]]] = ..., mu_ratio: Optional[Value] = ...
) -> pd.DataFrame: ...
def hitting(
    lambda_: Value, mu: Value, pmut: Value, block_length: Value, blocks: Value, final: Value,
    step: Optional[Value] = ..., two_option: Optional[Value] = ..., model: Optional[Value] = ...,
    arithmetic: Optional[Value] = ..., *, hitting: Optional[str] = ...,
    hitting_runs: Optional[bool] = ..., runs: Optional[int] = ..., seed: Optional[int] = ...,
    jobs: Optional[int] = ...,
    zip: Optional[Union[str, Sequence[str]]] = ..., mu_ratio: Optional[Value] = ...
) -> HittingResult: ...
def tidy(table: Union[pd.DataFrame, ModelResult, SimulationResult, HittingResult]) -> pd.DataFrame: ...
def plot(
    result: Union[pd.DataFrame, ModelResult, SimulationResult, HittingResult],
    levels: Optional[Sequence[int]] = ...
) -> Figure: ...
