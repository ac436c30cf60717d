"""blocklevels: the expected level dynamics of a (mu, lambda) evolutionary
algorithm with truncation selection on a block-structured fitness function,
and simulations of the real algorithm, computed by the program's own core.

A chromosome is ``blocks`` blocks of ``block_length`` positions; the fitness
level is the number of complete blocks, 0 to ``blocks``. ``model()`` gives
the expected fraction of the offspring at each level or above, generation by
generation, ``simulate()`` the real algorithm's means over seeded runs, and
``study()`` sweeps: a table with the command line's CSV columns.

Every value is the command line's, bit for bit: the same core, the same
iteration, the same seeded runs. Values are read and refused as the command
line reads and refuses its options, in this package's names: a bad value
raises ValueError (``mu=20 is above lambda_=10``). A run that stops in its
arithmetic raises ``Stop``. Ctrl-C ends a long call with KeyboardInterrupt.
The computation runs without the interpreter's lock, so threads calling the
package compute side by side.

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


import dataclasses as _dataclasses
import inspect as _inspect
import typing as _typing

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
    "table_columns",
    "table_format",
]

_PARAMETERS = _core.parameters()
_SETTINGS = {s["name"]: s for s in _core.settings()}
#: The parameters' names in the table's order: the CSV's parameter columns.
parameter_names: tuple = tuple(p["name"] for p in _PARAMETERS)
#: The format of the tables this package and the command line write.
table_format: str = _core.table_format()


def table_columns(max_blocks: int) -> list:
    """The table's columns for a study whose largest point has ``max_blocks``
    blocks: source, the parameters, runs, seed, t, status, mean_level,
    X1..XL, then the answers' and shards' columns and format."""
    return list(_core.table_columns(int(max_blocks)))


class Stop(ArithmeticError):
    """A run stopped by its arithmetic, as the command line's point stops.

    ``status`` is the stop number the command line exits with: 205
    floating-point overflow, 200 division by zero, 207 invalid floating-point
    operation, 203 out of memory. The message says the same in words.
    """

    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status

    def __reduce__(self):
        # Picklable, so that a Stop crosses a multiprocessing pool.
        return (Stop, (self.status, str(self)))


@_dataclasses.dataclass(frozen=True)
class Range:
    """A range of values, as the command line's ``FROM:TO:COUNT`` (evenly
    spaced, both ends included, integers rounded) or ``FROM:TO:COUNT:log``
    (geometric, with ``log=True``). The ends are read as the command line
    reads their text: ``Range(0.001, 0.1, 5, log=True)`` for pmut is
    ``--pmut 0.001:0.1:5:log``, the ends read from the decimal text."""

    start: _typing.Union[int, float, str]
    stop: _typing.Union[int, float, str]
    count: int
    log: bool = False

    @property
    def text(self) -> str:
        """The range as the command line writes it."""
        return f"{_text(self.start)}:{_text(self.stop)}:{_text(self.count)}" + (
            ":log" if self.log else ""
        )


def _text(value) -> str:
    if isinstance(value, Range):
        return value.text
    if isinstance(value, float):
        return repr(value)
    return str(value)


def _items(parameter: dict, value) -> list:
    """A parameter's value as the core takes it: a list of texts, read as the
    option reads its text, and of floats (reals only) taken exactly."""
    import numpy as np

    if isinstance(value, (list, tuple, np.ndarray)):
        items = []
        for item in value:
            items.extend(_items(parameter, item))
        return items
    if parameter["kind"] == "real" and isinstance(value, (float, np.floating)):
        return [float(value)]
    return [_text(value)]


def _keywords(given: dict) -> dict:
    """Keyword arguments by the table's keywords: ``lambda`` is taken for
    ``lambda_``, but not both."""
    keywords = {p["keyword"] for p in _PARAMETERS}
    named = {}
    for key, value in given.items():
        name = "lambda_" if key == "lambda" else key
        if name not in keywords:
            raise TypeError(f"unknown parameter {key!r}; the parameters are "
                            + ", ".join(p["keyword"] for p in _PARAMETERS))
        if name in named:
            raise TypeError("lambda_ given twice (as lambda_ and as lambda); give it once")
        named[name] = value
    return named


def _setting_text(value) -> str:
    """A setting as the command line's text: a list or tuple (zip's names,
    mu_ratio's values) joined by commas."""
    if isinstance(value, (list, tuple)):
        return ",".join(_text(v) for v in value)
    return _text(value)


def _call(parameters: dict, settings: dict, mode: str) -> dict:
    by_keyword = {p["keyword"]: p for p in _PARAMETERS}
    items = {name: _items(by_keyword[name], value) for name, value in parameters.items()
             if value is not None}
    texts = {name: _setting_text(value) for name, value in settings.items() if value is not None}
    try:
        return _core.run(items, texts, mode)
    except _core.StopRefused as refused:
        # Refused before it ran, with a stop number: a simulation that
        # needs more memory than there is.
        status, words = refused.args
        raise Stop(status, f"stopped: {_core.stop_meaning(status)}: {words} (status {status})") \
            from None


def _stop(status: int) -> Stop:
    return Stop(status, f"stopped: {_core.stop_meaning(status)} (status {status})")


def _one_point(parameters: dict, settings: dict, mode: str) -> tuple:
    """The point of a call of one point, and the table of its results."""
    result = _call(parameters, settings, mode)
    points = result["points"]
    if len(points) != 1:
        raise ValueError(
            f"{len(points)} points: model() and simulate() take one value per parameter; "
            "study() sweeps"
        )
    point = points[0]
    if point["status"] != 0:
        raise _stop(point["status"])
    return point, lambda: _frame(result["table"], result["max_blocks"])


class ModelResult:
    """The model's expected level distribution at every report time.

    Attributes:
        parameters: the point's parameters by name (reals and choices as text).
        t: the report times, numpy int64 of shape (reports,): step, 2 step, ...
        X: numpy float64 of shape (reports, blocks); ``X[:, j-1]`` is the
            expected fraction of the offspring at level j or above.
        mean_level: numpy float64 of shape (reports,), the expected level (the
            sum of the row of X, added in extended precision).
    """

    def __init__(self, point: dict, frame):
        self.parameters = dict(point["parameters"])
        self.t = point["t"]
        self.X = point["tail"]
        self.mean_level = point["mean_level"]
        self._frame = frame

    def to_pandas(self):
        """The rows of the command line's table for this run (source
        "model"), with the table's columns."""
        return self._frame()

    def __repr__(self) -> str:
        return f"ModelResult({_describe(self.parameters)}, reports={len(self.t)})"


class SimulationResult:
    """Means over the simulated runs of the real algorithm at every report time.

    Attributes:
        parameters: the point's parameters by name (reals and choices as text).
        runs, seed: the number of runs and the seed.
        t: the report times, numpy int64 of shape (reports,).
        mean: numpy float64 of shape (reports, blocks); ``mean[:, j-1]`` is the
            mean over the runs of the fraction of the offspring at level j or
            above (the table's "simulation" rows).
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

    def __init__(self, point: dict, seed: int, frame):
        import numpy as np

        simulation = point["simulation"]
        self.parameters = dict(point["parameters"])
        self.runs = simulation["runs"]
        self.seed = seed
        self.t = point["t"]
        self.mean = simulation["mean"]
        self.ci95 = simulation["ci95"]
        self.mean_level = simulation["mean_level"]
        self.mean_level_ci95 = simulation["mean_level_ci95"]
        self.sum = np.array(simulation["sum"], dtype=object)
        self.sum_of_squares = np.array(simulation["sum_of_squares"], dtype=object)
        self.sum_level = np.array(simulation["sum_level"], dtype=object)
        self.sum_level_of_squares = np.array(simulation["sum_level_of_squares"], dtype=object)
        self._frame = frame

    def to_pandas(self):
        """The table's "simulation" and "simulation_ci95" rows, per report
        time, with the table's columns (runs and seed filled)."""
        return self._frame()

    def __repr__(self) -> str:
        return (
            f"SimulationResult({_describe(self.parameters)}, runs={self.runs}, "
            f"seed={self.seed}, reports={len(self.t)})"
        )


def _describe(parameters: dict) -> str:
    return " ".join(f"{name}={value}" for name, value in parameters.items())


def _parameter_help(p: dict) -> str:
    """One parameter's line of a docstring, from the parameter table."""
    reading = ""
    if p["kind"] == "real":
        reading = (": a str is read exactly as the command line reads it; a float is taken "
                   "at its exact binary value")
    elif p["kind"] == "choice":
        reading = f" (one of {', '.join(repr(c) for c in p['choices'])})"
    default = f"; default {p['default']!r}" if p["default"] else ""
    return f"        {p['keyword']}: {p['meaning']}{reading}{default} (``{p['option']}``).\n"


def _setting_help(name: str) -> str:
    s = _SETTINGS[name]
    return f"        {name}: {s['meaning']} (``{s['option']}``).\n"


# Where the optional parameters stand after the required ones: step and
# two_option first, as they always have, so that positional calls keep
# their meaning; then the others in the table's order.
_OPTIONAL_FIRST = ("step", "two_option")


def _signature(settings: list) -> _inspect.Signature:
    """The parameters, required ones first, then the keyword-only settings."""
    required = [p for p in _PARAMETERS if not p["default"]]
    optional = sorted((p for p in _PARAMETERS if p["default"]),
                      key=lambda p: (_OPTIONAL_FIRST.index(p["keyword"])
                                     if p["keyword"] in _OPTIONAL_FIRST else len(_OPTIONAL_FIRST)))
    kind = _inspect.Parameter.POSITIONAL_OR_KEYWORD
    parameters = [_inspect.Parameter(p["keyword"], kind) for p in required]
    parameters += [_inspect.Parameter(p["keyword"], kind, default=None) for p in optional]
    parameters += [_inspect.Parameter(s, _inspect.Parameter.KEYWORD_ONLY, default=None)
                   for s in settings]
    return _inspect.Signature(parameters)


def _bind(call, args: tuple, kwargs: dict) -> tuple:
    """The parameters and settings of a call, by keyword."""
    if "lambda" in kwargs:
        if "lambda_" in kwargs or args:
            raise TypeError("lambda_ given twice (as lambda_ and as lambda); give it once")
        kwargs = {"lambda_": kwargs.pop("lambda"), **kwargs}
    bound = call.__signature__.bind(*args, **kwargs)
    keywords = {p["keyword"] for p in _PARAMETERS}
    parameters = {k: v for k, v in bound.arguments.items() if k in keywords}
    settings = {k: v for k, v in bound.arguments.items() if k not in keywords}
    return parameters, settings


def model(*args, **kwargs) -> ModelResult:
    """The model's expected level distribution, as ``blocklevels --csv`` gives it.

    Parameters (each refused as its command-line option refuses it, with
    ValueError and the refusal in this package's names):
{parameters}
    Returns a ModelResult: ``t`` (report times step, 2 step, ... up to
    final, at least one), ``X`` (shape (reports, blocks), ``X[:, j-1]`` the
    fraction at level j or above), ``mean_level`` and ``to_pandas()``.

    Raises Stop when the arithmetic stops (with ``status`` as the command
    line's), KeyboardInterrupt on Ctrl-C.
    """
    parameters, _ = _bind(model, args, kwargs)
    return ModelResult(*_one_point(parameters, {"jobs": 1}, "model"))


def simulate(*args, **kwargs) -> SimulationResult:
    """Simulates the real (mu, lambda) algorithm ``runs`` times, as
    ``blocklevels --simulate RUNS --seed SEED`` does.

    Parameters (each refused as its command-line option refuses it):
{parameters}{settings}
    Run r draws only from its own stream of (seed, r), so the result depends
    on the seed alone, not on jobs.

    Returns a SimulationResult: ``t``, ``mean`` and ``ci95`` (shape
    (reports, blocks), the table's "simulation" and "simulation_ci95" rows),
    ``mean_level`` and ``mean_level_ci95``, ``runs``, the exact integer sums
    ``sum`` and ``sum_of_squares`` (object arrays of Python ints), and
    ``to_pandas()``.

    Raises Stop (203 when the populations do not fit in memory),
    KeyboardInterrupt on Ctrl-C.
    """
    parameters, settings = _bind(simulate, args, kwargs)
    if settings.get("runs") is None:
        raise TypeError("simulate() needs runs")
    point, frame = _one_point(parameters, settings, "simulate")
    seed = settings.get("seed")
    return SimulationResult(point, int(_text(1 if seed is None else seed)), frame)


def study(**kwargs):
    """Runs a sweep as the command line does, and returns its table as a DataFrame.

    Parameters: model()'s, each a value, a list of values, a Range (the
    command line's FROM:TO:COUNT[:log]) or the command line's own text
    ("0.001,0.01", "0.001:0.1:8:log"); ``lambda`` may be given for
    ``lambda_``. The points are their Cartesian product in the command
    line's order (lambda slowest), but the parameters ``zip`` names (a list
    such as ``("lambda_", "mu")``), whose lists advance together;
    ``mu_ratio`` gives mu as a ratio of lambda (with ``mu=None``). A value
    or point the command line refuses raises ValueError with its refusal
    before anything runs.
{parameters}{settings}
    Returns a pandas DataFrame with exactly the table's columns and rows: per
    point its "model" rows, then (with runs) per report time its
    "simulation" and "simulation_ci95" rows; a point that stops has one
    "stopped" row with its stop number in ``status``. Integer columns other
    than the parameters are nullable (<NA> where the table's field is
    empty); a real parameter is the number its text names.
    """
    parameters, settings = _bind(study, (), kwargs)
    result = _call(parameters, settings, "study")
    return _frame(result["table"], result["max_blocks"])


_STUDY_SETTINGS = ["runs", "seed", "jobs", "hitting", "zip", "mu_ratio"]
model.__signature__ = _signature([])
simulate.__signature__ = _signature(["runs", "seed", "jobs"])
study.__signature__ = _signature(_STUDY_SETTINGS)
_PARAMETER_HELP = "".join(_parameter_help(p) for p in _PARAMETERS)
model.__doc__ = model.__doc__.format(parameters=_PARAMETER_HELP)
simulate.__doc__ = simulate.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in ["runs", "seed", "jobs"]))
study.__doc__ = study.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in _STUDY_SETTINGS))


def _frame(table: dict, max_blocks: int):
    """The table's columns as a DataFrame, in the table's order."""
    import numpy as np
    import pandas as pd

    kinds = {p["name"]: p["kind"] for p in _PARAMETERS}
    data = {}
    for name in table_columns(max_blocks):
        kind, values, given = table[name]
        if kinds.get(name) == "real":
            data[name] = np.array([float(v) for v in values], dtype=np.float64)
        elif kinds.get(name) == "integer":
            data[name] = np.asarray(values, dtype=np.int64)
        elif kind == "text":
            data[name] = np.array([v if g else None for v, g in zip(values, given)],
                                  dtype=object)
        elif kind == "real":
            data[name] = values
        elif kind == "count":
            data[name] = pd.arrays.IntegerArray(np.asarray(values).astype(np.uint64), ~given)
        else:
            data[name] = pd.arrays.IntegerArray(np.asarray(values, dtype=np.int64), ~given)
    return pd.DataFrame(data, columns=table_columns(max_blocks))
