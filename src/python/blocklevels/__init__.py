"""blocklevels: the expected level dynamics of a (mu, lambda) evolutionary
algorithm with truncation selection on a block-structured fitness function,
and simulations of the real algorithm, computed by the program's own core.

A chromosome is ``blocks`` blocks of ``block_length`` positions; the fitness
level is the number of complete blocks, 0 to ``blocks``. ``model()`` gives
the expected fraction of the offspring at each level or above, generation by
generation, ``simulate()`` the real algorithm's means over seeded runs, and
``study()`` sweeps: a table with the command line's CSV columns.

Every value is the command line's, bit for bit: the same transition matrix
in x87 extended precision, the same iteration, the same seeded runs. Values
are read and refused as the command line reads and refuses its options: a
bad value raises ValueError with the command line's message. A run that
stops in its arithmetic raises ``Stop``. Ctrl-C ends a long call with
KeyboardInterrupt. The computation runs without the interpreter's lock, so
threads calling the package compute side by side.

Pmut as text or as a float
--------------------------
``pmut="0.1"`` is read exactly as ``--pmut 0.1`` reads it: the decimal text
rounded once into the 64-bit significand of the extended format. ``pmut=0.1``
is the Python float, the double nearest to 0.1, widened to extended without
change. The two differ from the 54th significant bit on, so their results
agree to about 16 digits but not bit for bit; to get the command line's
numbers exactly, give pmut as the text typed on the command line. Tables
show a float pmut by its shortest text (``0.1``), whose value as a table
column is the same double either way.
"""

from __future__ import annotations

import dataclasses
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np

from . import _core

__all__ = [
    "Range",
    "Stop",
    "ModelResult",
    "SimulationResult",
    "model",
    "simulate",
    "study",
    "parameter_names",
    "csv_columns",
]

_PARAMETERS = _core.parameters()
#: The parameters' names in the table's order: the CSV's parameter columns.
parameter_names: tuple = tuple(p["name"] for p in _PARAMETERS)


def csv_columns(max_blocks: int) -> list:
    """The CSV's columns for a table whose largest point has ``max_blocks``
    blocks: source, the parameters, runs, seed, t, status, mean_level, X1..XL."""
    return list(_core.csv_columns(int(max_blocks)))


class Stop(ArithmeticError):
    """A run stopped by its arithmetic, as the command line's point stops.

    ``status`` is the stop number the command line exits with: 205
    floating-point overflow, 200 division by zero, 207 invalid floating-point
    operation, 203 out of memory. The message says the same in words.
    """

    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status


@dataclasses.dataclass(frozen=True)
class Range:
    """A range of values, as the command line's ``FROM:TO:COUNT`` (evenly
    spaced, both ends included, integers rounded) or ``FROM:TO:COUNT:log``
    (geometric, with ``log=True``). The ends are read as the command line
    reads their text: ``Range(0.001, 0.1, 5, log=True)`` for pmut is
    ``--pmut 0.001:0.1:5:log``, the ends read from the decimal text."""

    start: Union[int, float, str]
    stop: Union[int, float, str]
    count: int
    log: bool = False

    @property
    def text(self) -> str:
        """The range as the command line writes it."""
        return f"{_text(self.start)}:{_text(self.stop)}:{_text(self.count)}" + (
            ":log" if self.log else ""
        )


def _text(value: Any) -> str:
    if isinstance(value, Range):
        return value.text
    if isinstance(value, float):
        return repr(value)
    return str(value)


def _items(name: str, value: Any) -> list:
    """A parameter's value as the core takes it: a list of texts, read as the
    option reads its text, and of floats (pmut only) taken exactly."""
    if isinstance(value, (list, tuple, np.ndarray)):
        items = []
        for item in value:
            items.extend(_items(name, item))
        return items
    if name == "pmut" and isinstance(value, (float, np.floating)):
        return [float(value)]
    return [_text(value)]


def _items_by_parameter(parameters: Mapping[str, Any]) -> list:
    items_by_parameter = []
    for p in _PARAMETERS:
        name = p["name"]
        if name in parameters:
            items_by_parameter.append(_items(name, parameters[name]))
        elif p["default"]:
            items_by_parameter.append([p["default"]])
        else:
            raise TypeError(f"the parameter {name!r} is required")
    return items_by_parameter


def _stop(status: int) -> Stop:
    return Stop(status, f"stopped: {_core.stop_meaning(status)} (status {status})")


def _optional_text(value: Optional[int]) -> str:
    return "" if value is None else _text(value)


class ModelResult:
    """The model's expected level distribution at every report time.

    Attributes:
        parameters: the point's parameters by name (pmut as its text).
        t: the report times, numpy int64 of shape (reports,): step, 2 step, ...
        X: numpy float64 of shape (reports, blocks); ``X[:, j-1]`` is the
            expected fraction of the offspring at level j or above.
        mean_level: numpy float64 of shape (reports,), the expected level (the
            sum of the row of X, added in extended precision).
    """

    def __init__(self, point: dict):
        self.parameters = dict(point["parameters"])
        self.t = point["t"]
        self.X = point["tail"]
        self.mean_level = point["mean_level"]
        self._point = point

    def to_pandas(self):
        """The rows of the command line's CSV for this run (source "model"),
        with the CSV's columns: source, the parameters, runs, seed, t,
        status, mean_level, X1..XL. runs and seed are empty (<NA>)."""
        return _table([self._point], self.X.shape[1], model=True, simulation=None)

    def __repr__(self) -> str:
        return f"ModelResult({_describe(self.parameters)}, reports={len(self.t)})"


class SimulationResult:
    """Means over the simulated runs of the real algorithm at every report time.

    Attributes:
        parameters: the point's parameters by name (pmut as its text).
        runs, seed: the number of runs and the seed.
        t: the report times, numpy int64 of shape (reports,).
        mean: numpy float64 of shape (reports, blocks); ``mean[:, j-1]`` is the
            mean over the runs of the fraction of the offspring at level j or
            above (the CSV's "simulation" rows).
        ci95: the half-widths of their 95 % confidence intervals, same shape
            (Student's t; NaN for one run; the "simulation_ci95" rows).
        mean_level, mean_level_ci95: the mean level and its half-width,
            numpy float64 of shape (reports,).
        sum, sum_of_squares: the exact sums over the runs of the number of
            offspring at level j or above, and of its square, as numpy object
            arrays of Python ints, shape (reports, blocks).
        sum_level, sum_level_of_squares: the same for the level sum, shape
            (reports,).
    """

    def __init__(self, point: dict, seed: int):
        simulation = point["simulation"]
        self.parameters = dict(point["parameters"])
        self.runs = simulation["runs"]
        self.seed = seed
        self.t = point["t"]
        self.mean = simulation["mean"]
        self.ci95 = simulation["ci95"]
        self.mean_level = simulation["mean_level"]
        self.mean_level_ci95 = simulation["mean_level_ci95"]
        self.sum = _objects(simulation["sum"])
        self.sum_of_squares = _objects(simulation["sum_of_squares"])
        self.sum_level = _objects(simulation["sum_level"])
        self.sum_level_of_squares = _objects(simulation["sum_level_of_squares"])
        self._point = point

    def to_pandas(self):
        """The CSV's "simulation" and "simulation_ci95" rows, per report time,
        with the CSV's columns (runs and seed filled)."""
        return _table(
            [self._point], self.mean.shape[1], model=False, simulation=(self.runs, self.seed)
        )

    def __repr__(self) -> str:
        return (
            f"SimulationResult({_describe(self.parameters)}, runs={self.runs}, "
            f"seed={self.seed}, reports={len(self.t)})"
        )


def _objects(rows: list) -> np.ndarray:
    """Python ints (beyond 64 bits) as a numpy object array of the same shape."""
    return np.array(rows, dtype=object)


def _describe(parameters: Mapping[str, Any]) -> str:
    return " ".join(f"{name}={value}" for name, value in parameters.items())


def _one_point(parameters: Mapping[str, Any], model: bool, runs, seed, jobs) -> dict:
    result = _core.run(_items_by_parameter(parameters), model, _optional_text(runs), _text(seed),
                       _optional_text(jobs))
    points = result["points"]
    if len(points) != 1:
        raise ValueError(
            f"{len(points)} points: model() and simulate() take one value per parameter; "
            "study() sweeps"
        )
    point = points[0]
    if point["status"] != 0:
        raise _stop(point["status"])
    return point


_POINT_PARAMETERS = """        lambda_: offspring per generation, at least 1 (``--lambda``).
        mu: selected parents, 1 to lambda (``--mu``).
        pmut: allele mutation probability, 0 to 1 (``--pmut``): a str is read
            exactly as the command line reads it; a float is taken at its exact
            binary value (see the package's help on how the two differ).
        block_length: positions per block, at least 1 (``--block-length``).
        blocks: number of blocks l, 1 to 1754 (``--blocks``).
        final: last generation, at least 1 (``--final``).
        step: generations between reports, at least 1 (``--step``).
        two_option: positions per block with two acceptable alleles, 0 to
            block_length (``--two-option``).
"""


def model(lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int,
          final: int, step: int = 1, two_option: int = 0) -> ModelResult:
    """The model's expected level distribution, as ``blocklevels --csv`` gives it.

    Parameters (each refused as its command-line option refuses it, with
    ValueError and the option's message):
{point}
    Returns a ModelResult: ``t`` (report times step, 2 step, ... up to
    final, at least one), ``X`` (shape (reports, blocks), ``X[:, j-1]`` the
    fraction at level j or above), ``mean_level`` and ``to_pandas()``.

    Raises Stop when the arithmetic stops (with ``status`` as the command
    line's), KeyboardInterrupt on Ctrl-C.
    """
    parameters = dict(lambda_=lambda_, mu=mu, pmut=pmut, block_length=block_length,
                      blocks=blocks, final=final, step=step, two_option=two_option)
    return ModelResult(_one_point(_table_names(parameters), True, None, 1, 1))


def simulate(lambda_: int, mu: int, pmut: Union[str, float], block_length: int, blocks: int,
             final: int, step: int = 1, two_option: int = 0, *, runs: int, seed: int = 1,
             jobs: Optional[int] = None) -> SimulationResult:
    """Simulates the real (mu, lambda) algorithm ``runs`` times, as
    ``blocklevels --simulate RUNS --seed SEED`` does.

    Parameters (each refused as its command-line option refuses it):
{point}        runs: the number of runs, at least 1 (``--simulate``).
        seed: the seed, 0 to 2**64 - 1 (``--seed``). Run r draws only from
            its own stream of (seed, r), so the result depends on the seed
            alone.
        jobs: threads for the runs (default: all cores); the values do not
            depend on it.

    Returns a SimulationResult: ``t``, ``mean`` and ``ci95`` (shape
    (reports, blocks), the CSV's "simulation" and "simulation_ci95" rows),
    ``mean_level`` and ``mean_level_ci95``, ``runs``, the exact integer sums
    ``sum`` and ``sum_of_squares`` (object arrays of Python ints), and
    ``to_pandas()``.

    Raises Stop (203 when the populations do not fit in memory),
    KeyboardInterrupt on Ctrl-C.
    """
    parameters = dict(lambda_=lambda_, mu=mu, pmut=pmut, block_length=block_length,
                      blocks=blocks, final=final, step=step, two_option=two_option)
    point = _one_point(_table_names(parameters), False, runs, seed, jobs)
    return SimulationResult(point, int(_text(seed)))


model.__doc__ = model.__doc__.format(point=_POINT_PARAMETERS)
simulate.__doc__ = simulate.__doc__.format(point=_POINT_PARAMETERS)


def _table_names(parameters: Mapping[str, Any]) -> dict:
    """Keyword names to the table's: ``lambda_`` (or ``lambda``) is lambda."""
    names = {}
    for key, value in parameters.items():
        name = "lambda" if key == "lambda_" else key
        if name not in parameter_names:
            raise TypeError(f"unknown parameter {key!r}; the parameters are "
                            + ", ".join(parameter_names))
        if name in names:
            raise TypeError("lambda given twice")
        names[name] = value
    return names


def study(*, runs: Optional[int] = None, seed: int = 1, jobs: Optional[int] = None,
          **parameters: Any):
    """Runs a sweep as the command line does, and returns its CSV as a DataFrame.

    Parameters: model()'s (``lambda_`` or ``lambda``, mu, pmut, block_length,
    blocks, final, step, two_option), each a value, a list of values, a
    Range (the command line's FROM:TO:COUNT[:log]) or the command line's
    own text ("0.001,0.01", "0.001:0.1:8:log"). The points are their
    Cartesian product in the command line's order (lambda slowest, step
    fastest); a value or point the command line refuses raises ValueError
    with its message before anything runs.
        runs, seed: also simulate every point ``runs`` times with the seed
            (the command line's ``--simulate`` and ``--seed``).
        jobs: points (and simulated runs) at a time (default: all cores); the
            values do not depend on it.

    Returns a pandas DataFrame with exactly the CSV's columns and rows: per
    point its "model" rows, then (with runs) per report time its
    "simulation" and "simulation_ci95" rows; a point that stops has one row
    with its stop number in ``status`` and ``t`` and the values empty. The
    integer columns runs, seed and t are nullable (<NA> where the CSV's field
    is empty); pmut is the number its text names.
    """
    named = _table_names(parameters)
    result = _core.run(_items_by_parameter(named), True, _optional_text(runs), _text(seed),
                       _optional_text(jobs))
    simulation = None if runs is None else (int(_text(runs)), int(_text(seed)))
    return _table(result["points"], result["max_blocks"], model=True, simulation=simulation)


def _table(points: Sequence[dict], max_blocks: int, model: bool, simulation):
    """The CSV's rows of ``points`` as a DataFrame, in the CSV's order.
    ``simulation`` is (runs, seed) when the points were simulated."""
    import pandas as pd

    columns = csv_columns(max_blocks)
    sources, params, times, statuses, values, simulated = [], [], [], [], [], []

    # Rows of one point: their sources, times (-1: empty), the mean level's
    # and X1..Xl's values (None: empty).
    def add(point, source, t, status, matrix, is_simulation):
        n = len(t)
        sources.extend(source if isinstance(source, list) else [source] * n)
        params.extend([point["parameters"]] * n)
        times.append(t)
        statuses.append(np.full(n, status, dtype=np.int64))
        block = np.full((n, max_blocks + 1), np.nan)
        if matrix is not None:
            block[:, : matrix.shape[1]] = matrix
        values.append(block)
        simulated.append(np.full(n, is_simulation))

    for point in points:
        if point["status"] != 0:
            add(point, "model", np.array([-1], dtype=np.int64), point["status"], None, False)
            continue
        t = point["t"]
        if model:
            add(point, "model", t, 0, np.column_stack([point["mean_level"], point["tail"]]), False)
        if simulation is not None:
            s = point["simulation"]
            both = np.empty((2 * len(t), s["mean"].shape[1] + 1))
            both[0::2] = np.column_stack([s["mean_level"], s["mean"]])
            both[1::2] = np.column_stack([s["mean_level_ci95"], s["ci95"]])
            add(point, ["simulation", "simulation_ci95"] * len(t), np.repeat(t, 2), 0, both, True)

    data = {"source": np.array(sources, dtype=object)}
    for p in _PARAMETERS:
        name = p["name"]
        kind = np.float64 if p["real"] else np.int64
        data[name] = np.array([kind(q[name]) for q in params], dtype=kind)
    empty = ~np.concatenate(simulated) if simulated else np.empty(0, dtype=bool)
    runs, seed = simulation if simulation is not None else (0, 0)
    data["runs"] = _nullable(np.full(len(sources), runs, dtype=np.int64), empty)
    data["seed"] = _nullable(np.full(len(sources), seed, dtype=np.uint64), empty)
    t = np.concatenate(times) if times else np.empty(0, dtype=np.int64)
    data["t"] = _nullable(t, t < 0)
    data["status"] = np.concatenate(statuses) if statuses else np.empty(0, dtype=np.int64)
    matrix = np.vstack(values) if values else np.empty((0, max_blocks + 1))
    for k, name in enumerate(columns[len(columns) - max_blocks - 1 :]):
        data[name] = matrix[:, k]
    return pd.DataFrame(data, columns=columns)


def _nullable(values: np.ndarray, empty: np.ndarray):
    """A nullable integer column (Int64 from int64, UInt64 from uint64):
    <NA> where the CSV's field is empty."""
    import pandas as pd

    return pd.arrays.IntegerArray(values, empty.copy())
