"""blocklevels: the expected level dynamics of a (mu, lambda) evolutionary
algorithm with truncation selection on a block-structured fitness function,
and simulations of the real algorithm, computed by the program's own core.

A chromosome is ``blocks`` blocks of ``block_length`` positions; the fitness
level is the number of complete blocks, 0 to ``blocks``. ``model()`` gives
the expected fraction of the offspring at each level or above, generation by
generation, ``simulate()`` the real algorithm's means over seeded runs, and
``study()`` sweeps: a table with the command line's CSV columns. ``find()``
searches a threshold (``--find``), ``hitting()`` gives hitting times
(``--hitting``) with the runs' own, ``tidy()`` makes a table long (one value
a row) and ``plot()`` draws a result or a table with matplotlib.

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
    "HittingResult",
    "model",
    "simulate",
    "study",
    "find",
    "hitting",
    "tidy",
    "plot",
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


def table_columns(max_blocks: int, run_column: bool = False) -> list:
    """The table's columns for a study whose largest point has ``max_blocks``
    blocks: source, the parameters, runs, seed, (with ``run_column``, as a
    study with ``hitting_runs=True`` has it: run,) t, status, mean_level,
    X1..XL, then the answers' and shards' columns and format."""
    return list(_core.table_columns(int(max_blocks), bool(run_column)))


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


def _setting_text(value, separator: str = ",") -> str:
    """A setting as the command line's text: a list or tuple (zip's names,
    mu_ratio's values; find's parameter and ends, with ``separator`` ":")
    joined; a flag's True or False (numpy's too) as "true" or "false"."""
    import numpy as np

    if isinstance(value, (bool, np.bool_)):
        return "true" if value else "false"
    if isinstance(value, (list, tuple)):
        return separator.join(_text(v) for v in value)
    return _text(value)


def _call(parameters: dict, settings: dict, mode: str) -> dict:
    by_keyword = {p["keyword"]: p for p in _PARAMETERS}
    items = {name: _items(by_keyword[name], value) for name, value in parameters.items()
             if value is not None}
    texts = {name: _setting_text(value, ":" if name == "find" else ",")
             for name, value in settings.items() if value is not None}
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
    return point, lambda: _frame(result["table"])


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


def _signature(settings: list, searched: bool = False) -> _inspect.Signature:
    """The parameters, required ones first, then the keyword-only settings.
    A search's (``searched``) are all keyword-only and optional: its
    searched parameter is not given, and another's absence is refused as
    the command line refuses a missing option."""
    keyword_only = _inspect.Parameter.KEYWORD_ONLY
    if searched:
        return _inspect.Signature(
            [_inspect.Parameter(p["keyword"], keyword_only, default=None) for p in _PARAMETERS]
            + [_inspect.Parameter(s, keyword_only, default=None) for s in settings])
    required = [p for p in _PARAMETERS if not p["default"]]
    optional = sorted((p for p in _PARAMETERS if p["default"]),
                      key=lambda p: (_OPTIONAL_FIRST.index(p["keyword"])
                                     if p["keyword"] in _OPTIONAL_FIRST else len(_OPTIONAL_FIRST)))
    kind = _inspect.Parameter.POSITIONAL_OR_KEYWORD
    parameters = [_inspect.Parameter(p["keyword"], kind) for p in required]
    parameters += [_inspect.Parameter(p["keyword"], kind, default=None) for p in optional]
    parameters += [_inspect.Parameter(s, keyword_only, default=None) for s in settings]
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
    return _frame(result["table"])


def find(**kwargs):
    """Searches where a quantity crosses a value, as ``blocklevels --find
    PARAM:LOW:HIGH --where Q=V`` does, and returns the search's table.

    ``find`` is ``"pmut:0.0001:0.1"`` or ``("pmut", "0.0001", "0.1")`` (the
    ends read as the command line reads their text), ``where`` is ``"Xtop=0.1"``
    (``X<j>``, ``Xtop`` or ``mean_level``). The searched parameter is not
    given; every other may be swept as in study(), each point one search.
{parameters}{settings}
    Returns a pandas DataFrame with exactly the command line's table: per
    point its "threshold" rows, one per crossing in increasing order (the
    searched parameter's column the value found, ``t`` the final generation,
    the model's values there, ``direction``, ``lower`` and ``upper`` the
    bracket), or one with the searched column NaN and ``t`` <NA> when there
    is none; with ``runs``, after each crossing its "simulation" and
    "simulation_ci95" rows at the final generation, then the simulated
    search's "simulated_threshold" rows: the searched column the estimate
    (where the runs' mean crosses the value), ``lower`` and ``upper`` the
    interval in which the runs' 95 % band contains it, ``direction``; each
    followed by the runs at the estimate (or one row with the searched
    column NaN when the simulated quantity does not cross).

    Raises TypeError without ``find`` or ``where``, ValueError with the
    command line's refusal, Stop when a search of one point stops (a sweep's
    point that stops is its "stopped" row), KeyboardInterrupt on Ctrl-C.
    """
    parameters, settings = _bind(find, (), kwargs)
    if settings.get("find") is None or settings.get("where") is None:
        raise TypeError("find() needs find and where")
    result = _call(parameters, settings, "study")
    _raise_single_stop(result)
    return _frame(result["table"])


def _raise_single_stop(result: dict) -> None:
    """A search or hitting time of one point that stopped raises its Stop,
    as model() does; a sweep's stopped points are its table's rows."""
    points = result["points"]
    if len(points) == 1 and points[0]["status"] != 0:
        raise _stop(points[0]["status"])


class HittingResult:
    """The hitting times of a study's points: the model's and the simulated runs'.

    Attributes:
        table: a pandas DataFrame, the command line's table's "hitting" rows
            (the model's first generation at which the quantity reached the
            value: ``t``, <NA> when never) and, with runs, its
            "simulation_hitting" rows (``reached`` of ``runs``,
            ``success_rate`` and its 95 % interval ``success_low`` ..
            ``success_high``, the Kaplan-Meier quartiles ``lower_quartile_t``,
            ``median_t``, ``upper_quartile_t`` with the runs that never reached
            it censored at the final generation, ``restricted_mean_t`` and
            ``evaluations``), in the points' order.
        points: one dict per point: ``parameters``, ``status`` (0, or the
            stop number of a point that stopped, whose table row is
            "stopped"), ``t`` (the model's hitting time, or None), ``final``,
            ``runs``, ``times`` (numpy int64, the hitting times of the runs
            that reached the value, in increasing order), ``never`` (the
            runs that did not by the final generation) and ``run_times``
            (pandas Int64, run r's own hitting time at [r], <NA> when it did
            not reach the value by the final generation; the table's
            "simulation_hitting_run" rows with ``hitting_runs=True``).
    """

    def __init__(self, points: list, table):
        self.points = points
        self.table = table

    def to_pandas(self):
        """The table's rows of the hitting times (``table``)."""
        return self.table

    def __repr__(self) -> str:
        return f"HittingResult(points={len(self.points)})"


def hitting(*args, **kwargs) -> HittingResult:
    """The first generation at which a quantity reaches a value, as
    ``blocklevels --hitting Q=V [--simulate RUNS]`` gives it, the model's at
    every generation whatever the step, and each simulated run's.

    ``hitting`` is ``"X2=0.5"`` (``X<j>``, ``Xtop`` or ``mean_level``; reached
    when the quantity is at least the value). The parameters may be swept
    as in study().
{parameters}{settings}
    Returns a HittingResult: ``table`` (the command line's "hitting" and
    "simulation_hitting" rows, value for value, with ``hitting_runs=True``
    its "simulation_hitting_run" rows, and "stopped" rows) and ``points``
    (each point's model hitting time and its runs' own times).

    Raises TypeError without ``hitting``, ValueError with the command line's
    refusal, Stop when a study of one point stops (203 when its populations
    do not fit in memory), KeyboardInterrupt on Ctrl-C.
    """
    import numpy as np
    import pandas as pd

    parameters, settings = _bind(hitting, args, kwargs)
    if settings.get("hitting") is None:
        raise TypeError("hitting() needs hitting")
    result = _call(parameters, settings, "hitting")
    _raise_single_stop(result)
    table = _frame(result["table"])
    table = table[table["source"].isin(
        ["hitting", "simulation_hitting", "simulation_hitting_run", "stopped"])]
    points = []
    for point in result["points"]:
        first = point.get("hitting_first", [])
        times = np.repeat(np.array([t for t, _ in first], dtype=np.int64),
                          [count for _, count in first])
        never = int(point.get("hitting_never", 0))
        points.append({
            "parameters": dict(point["parameters"]),
            "status": point["status"],
            "t": point.get("hitting_t"),
            "final": int(point["parameters"]["final"]),
            "runs": len(times) + never,
            "times": times,
            "never": never,
            "run_times": pd.array(point.get("hitting_runs", []), dtype="Int64"),
        })
    return HittingResult(points, table.reset_index(drop=True))


# The table's columns of values a long table holds, beside mean_level and
# X1..XL: the answers of searches and hitting times.
_ANSWER_COLUMNS = ("lower", "upper", "reached", "success_rate", "success_low", "success_high",
                   "lower_quartile_t", "median_t", "upper_quartile_t", "restricted_mean_t",
                   "evaluations")


def tidy(table):
    """A table (study(), find(), a result's to_pandas(), or the command
    line's CSV read by pandas) as a long DataFrame, one value a row:
    the point's parameters, ``source``, ``t``, ``quantity`` (``mean_level``,
    ``X1`` .. ``XL``, or an answer's column such as ``median_t``) and
    ``value`` (float64); a run's own hitting time (``hitting_runs=True``)
    is a row of quantity ``run``, its number, at ``t`` its hitting time.
    Empty cells give no row; the rows keep the table's order, and within a
    row its columns' order."""
    import numpy as np
    import pandas as pd

    if isinstance(table, (HittingResult, ModelResult, SimulationResult)):
        table = table.to_pandas()
    levels = [c for c in table.columns if c[:1] == "X" and c[1:].isdigit()]
    quantities = ["mean_level"] + levels + [c for c in _ANSWER_COLUMNS + ("run",)
                                            if c in table.columns]
    keys = [c for c in parameter_names if c in table.columns] + ["source", "t"]
    long = table[keys + quantities].melt(id_vars=keys, value_vars=quantities,
                                         var_name="quantity", value_name="value",
                                         ignore_index=False)
    long["value"] = pd.to_numeric(long["value"], errors="coerce").astype(np.float64)
    long = long[long["value"].notna()]
    order = {q: n for n, q in enumerate(quantities)}
    long = long.assign(_row=long.index, _column=long["quantity"].map(order))
    long = long.sort_values(["_row", "_column"], kind="stable")
    return long.drop(columns=["_row", "_column"]).reset_index(drop=True)


def _swept(table, leave_out=()) -> str:
    """The parameter with the most values in a table (the first of equals)."""
    candidates = [c for c in parameter_names if c in table.columns and c not in leave_out]
    return max(candidates, key=lambda c: (table[c].nunique(), -candidates.index(c)))


def _wrapped(text: str) -> str:
    import textwrap

    return "\n".join(textwrap.wrap(text, 90))


def _new_figure(width: float, height: float):
    # A Figure of its own, without pyplot's global state: a notebook shows
    # it, and nothing else holds it.
    from matplotlib.figure import Figure

    return Figure(figsize=(width, height), layout="constrained")


def _plot_hitting(result: HittingResult):
    """Each point's share of runs that reached the value by t (the
    Kaplan-Meier estimate, every run censored at the final generation), and
    the model's hitting time as a dashed line of the same colour."""
    import numpy as np

    figure = _new_figure(7, 4.5)
    ax = figure.add_subplot()
    every = [point["parameters"] for point in result.points]
    varying = [name for name in parameter_names if len({str(p[name]) for p in every}) > 1]
    for n, point in enumerate(result.points):
        colour = f"C{n % 10}"
        label = " ".join(f"{name}={point['parameters'][name]}" for name in varying) or None
        if point["runs"] > 0:
            steps = np.arange(0, point["final"] + 1)
            share = np.searchsorted(point["times"], steps, side="right") / point["runs"]
            ax.step(steps, share, where="post", color=colour, label=label)
        if point["t"] is not None:
            ax.axvline(point["t"], color=colour, linestyle="--", linewidth=1)
    ax.set_ylim(-0.02, 1.02)
    ax.set_xlabel("generation t")
    ax.set_ylabel("share of runs that reached it by t")
    condition = result.table["condition"].dropna()
    ax.set_title(f"hitting {condition.iloc[0] if len(condition) else ''}; dashed: the model")
    if varying:
        ax.legend(fontsize="small")
    return figure


def _plot_thresholds(table):
    """A search's crossings against the swept parameter: the value found of
    each direction."""
    import numpy as np

    found = table[table["source"] == "threshold"]
    condition = found["condition"].dropna().iloc[0]
    search = found["search"].dropna().iloc[0]
    searched = search.split(":")[0]
    x = _swept(found, leave_out=(searched,))
    figure = _new_figure(7, 4.5)
    ax = figure.add_subplot()
    for direction, marker in (("falling", "o"), ("rising", "s")):
        rows = found[found["direction"] == direction]
        ax.plot(rows[x], rows[searched], marker=marker, linestyle="-" if x != searched else "",
                label=f"{condition} crossed {direction}")
    high = np.nanmax(found[searched]) / max(np.nanmin(found[searched]), 1e-300)
    if high >= 100:
        ax.set_yscale("log")
    ax.set_xlabel(x)
    ax.set_ylabel(searched)
    ax.set_title(f"{searched} where {condition} in {search}")
    ax.legend(fontsize="small")
    return figure


def _plot_curves(table, levels):
    """One point over the generations: the fractions at the levels and the
    mean level; the simulated means with their 95 % intervals as bars."""
    model_rows = table[table["source"] == "model"]
    mean = table[table["source"] == "simulation"]
    half = table[table["source"] == "simulation_ci95"]
    blocks = int(table["blocks"].iloc[0])
    figure = _new_figure(11, 4.5)
    left, right = figure.subplots(1, 2)
    chosen = levels or [j for j in (blocks, blocks - 1, blocks - 2) if j >= 1]
    for n, (ax, columns) in enumerate(((left, [f"X{j}" for j in chosen]), (right, ["mean_level"]))):
        for k, column in enumerate(columns):
            colour = f"C{k}" if n == 0 else "black"
            label = f"level {column[1:]} or above" if n == 0 else "mean level"
            ax.plot(model_rows["t"], model_rows[column], color=colour, label=label)
            if len(mean):
                ax.errorbar(mean["t"], mean[column], yerr=half[column].to_numpy(), fmt="o",
                            markersize=3, color=colour, capsize=2)
        ax.set_xlabel("generation t")
    left.set_ylabel("fraction of the offspring")
    right.set_ylabel("level")
    figure.suptitle(_wrapped(_describe({c: table[c].iloc[0] for c in parameter_names})),
                    fontsize="small")
    left.legend(fontsize="small")
    return figure


def _plot_final(table, levels):
    """A sweep: the values at each point's last report against the swept
    parameter, one curve per combination of the others."""
    model_rows = table[table["source"] == "model"]
    last = model_rows.groupby(list(parameter_names), sort=False, dropna=False).tail(1)
    x = _swept(last)
    others = [c for c in parameter_names if c != x and last[c].nunique() > 1]
    figure = _new_figure(11, 4.5)
    left, right = figure.subplots(1, 2)
    groups = last.groupby(others[0] if len(others) == 1 else others, sort=False) \
        if others else [((), last)]
    for key, rows in groups:
        key = key if isinstance(key, tuple) else (key,)
        label = " ".join(f"{c}={v}" for c, v in zip(others, key))
        top = [rows[f"X{levels[0] if levels else j}"].iloc[i]
               for i, j in enumerate(rows["blocks"])]
        left.plot(rows[x], top, marker="o", markersize=3, label=label or None)
        right.plot(rows[x], rows["mean_level"], marker="o", markersize=3, label=label or None)
    for ax in (left, right):
        ax.set_xlabel(x)
        if x == "pmut" and last[x].min() > 0 and last[x].max() / last[x].min() >= 100:
            ax.set_xscale("log")
    left.set_ylabel(f"X{levels[0]}" if levels else "fraction at the top level")
    right.set_ylabel("mean level")
    if others:
        left.legend(fontsize="small")
    return figure


def plot(result, levels=None):
    """A matplotlib Figure of a result or a table, made without pyplot:
    a notebook shows it; ``figure.savefig(name)`` writes it.

    ``result`` is a ModelResult or SimulationResult (the levels over the
    generations and the mean level, the simulated means with their 95 %
    intervals as bars), a HittingResult (each point's share of runs that
    reached the value by t, and the model's hitting time), or a table from
    study() or find() (or the command line's CSV read by pandas): one
    point's curves over the generations, a sweep's values at the last
    report against the parameter with the most values, or a search's
    crossings against it. ``levels``: the levels j whose fractions are drawn
    (default: the three highest for one point, the top level for a sweep).
    """
    import pandas as pd

    if isinstance(result, HittingResult):
        return _plot_hitting(result)
    if isinstance(result, (ModelResult, SimulationResult)):
        result = result.to_pandas()
    if not isinstance(result, pd.DataFrame):
        raise TypeError("plot() takes a result of this package or a table (a DataFrame)")
    levels = list(levels) if levels is not None else None
    if (result["source"] == "threshold").any():
        return _plot_thresholds(result)
    if not (result["source"].isin(["model", "simulation"])).any():
        raise ValueError("plot(): the table holds no model or simulation rows")
    if result["source"].eq("simulation").any() and not result["source"].eq("model").any():
        # A simulation alone: its means drawn where the model's lines go.
        means = result[result["source"] == "simulation"].assign(source="model")
        result = pd.concat([means, result], ignore_index=True)
    points = result[result["source"] == "model"][list(parameter_names)].drop_duplicates()
    if len(points) == 1:
        return _plot_curves(result, levels)
    return _plot_final(result, levels)


_STUDY_SETTINGS = ["runs", "seed", "jobs", "hitting", "hitting_runs", "zip", "mu_ratio"]
model.__signature__ = _signature([])
simulate.__signature__ = _signature(["runs", "seed", "jobs"])
study.__signature__ = _signature(_STUDY_SETTINGS)
_FIND_SETTINGS = ["find", "where", "grid", "runs", "seed", "jobs", "zip", "mu_ratio"]
_HITTING_SETTINGS = ["hitting", "hitting_runs", "runs", "seed", "jobs", "zip", "mu_ratio"]
find.__signature__ = _signature(_FIND_SETTINGS, searched=True)
hitting.__signature__ = _signature(_HITTING_SETTINGS)
_PARAMETER_HELP = "".join(_parameter_help(p) for p in _PARAMETERS)
model.__doc__ = model.__doc__.format(parameters=_PARAMETER_HELP)
simulate.__doc__ = simulate.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in ["runs", "seed", "jobs"]))
study.__doc__ = study.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in _STUDY_SETTINGS))
find.__doc__ = find.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in _FIND_SETTINGS))
hitting.__doc__ = hitting.__doc__.format(
    parameters=_PARAMETER_HELP, settings="".join(_setting_help(s) for s in _HITTING_SETTINGS))


def _frame(table: dict):
    """The table's columns as a DataFrame, in the table's order (the core
    gives them in that order)."""
    import numpy as np
    import pandas as pd

    kinds = {p["name"]: p["kind"] for p in _PARAMETERS}
    data = {}
    for name, (kind, values, given) in table.items():
        # A search without a crossing leaves its searched parameter empty:
        # NaN, or <NA> in an integer column then nullable.
        if kinds.get(name) == "real":
            data[name] = np.array([float(v) if g else np.nan for v, g in zip(values, given)],
                                  dtype=np.float64)
        elif kinds.get(name) == "integer" and all(given):
            data[name] = np.asarray(values, dtype=np.int64)
        elif kinds.get(name) == "integer":
            data[name] = pd.arrays.IntegerArray(np.asarray(values, dtype=np.int64), ~given)
        elif kind == "text":
            data[name] = np.array([v if g else None for v, g in zip(values, given)],
                                  dtype=object)
        elif kind == "real":
            data[name] = values
        elif kind == "count":
            data[name] = pd.arrays.IntegerArray(np.asarray(values).astype(np.uint64), ~given)
        else:
            data[name] = pd.arrays.IntegerArray(np.asarray(values, dtype=np.int64), ~given)
    return pd.DataFrame(data, columns=list(table))
