# find(), hitting(), tidy() and plot(): the command line's tables, value
# for value, its refusals in the package's names, and figures of the
# numbers they were given.
import numpy as np
import pandas as pd
import pytest

import blocklevels
from conftest import assert_same_table, cli_table, needs_allocation_failure, options, run_program

SEARCH = dict(lambda_=100, mu="5,70,95", block_length=4, blocks=30, final=300)
FIND = dict(find="pmut:0.0001:0.1", where="Xtop=0.1", grid=12)


def cli_settings(**settings):
    return [a for name, value in settings.items()
            for a in (f"--{'find-grid' if name == 'grid' else name}", str(value))]


@pytest.mark.parametrize("runs", [None, 3])
def test_find_is_the_command_lines_search(runs):
    simulated = {} if runs is None else dict(runs=runs, seed=7)
    status, header, rows = cli_table(options(**SEARCH) + cli_settings(**FIND) + (
        [] if runs is None else ["--simulate", str(runs), "--seed", "7"]))
    assert status == 0
    table = blocklevels.find(**SEARCH, **FIND, **simulated)
    assert_same_table(table, header, rows)
    # A crossing each at mu 5, two at 70, none at 95 (pmut NaN).
    assert table[table["source"] == "threshold"]["direction"].tolist() == [
        "falling", "rising", "falling", None]
    # The find setting as a tuple is the same search.
    again = blocklevels.find(**SEARCH, **{**FIND, "find": ("pmut", "0.0001", "0.1")},
                             **simulated)
    assert_same_table(again, header, rows)


def test_hitting_is_the_command_lines_and_each_runs_time():
    point = dict(lambda_=30, mu=6, pmut="0.05,0.3", block_length=2, blocks=3, final=20, step=5)
    status, header, rows = cli_table(options(**point) + ["--hitting", "X2=0.5", "--simulate",
                                                         "6", "--seed", "3"])
    assert status == 0
    result = blocklevels.hitting(**point, hitting="X2=0.5", runs=6, seed=3)
    mine = [row for row in rows if row[0] in ("hitting", "simulation_hitting")]
    assert_same_table(result.table, header, mine)
    answers = result.table[result.table["source"] == "simulation_hitting"]
    for p, (_, row) in zip(result.points, answers.iterrows()):
        times = p["times"]
        assert p["runs"] == 6 and len(times) == row["reached"] and p["never"] == 6 - len(times)
        assert list(times) == sorted(times) and all(1 <= t <= 20 for t in times)
        # The Kaplan-Meier median: the first t by which half the runs reached it.
        median = next((t for t in times if np.sum(times <= t) * 2 >= 6), pd.NA)
        assert str(median) == str(row["median_t"])
        censored = (times.sum() + p["never"] * 20) / 6
        assert censored == row["restricted_mean_t"]
    model_t = result.table[result.table["source"] == "hitting"]["t"].tolist()
    assert [p["t"] for p in result.points] == [None if t is pd.NA else t for t in model_t]
    model_only = blocklevels.hitting(**point, hitting="X2=0.5")
    assert model_only.points[0]["runs"] == 0 and len(model_only.table) == 2


def test_each_runs_own_hitting_time_is_the_command_lines_row():
    point = dict(lambda_=30, mu=6, pmut="0.05,0.3", block_length=2, blocks=3, final=20, step=5)
    status, header, rows = cli_table(options(**point) + [
        "--hitting", "X2=0.5", "--simulate", "7", "--seed", "3", "--hitting-runs"])
    assert status == 0 and "run" in header
    assert_same_table(blocklevels.study(**point, hitting="X2=0.5", runs=7, seed=3,
                                        hitting_runs=True), header, rows)
    result = blocklevels.hitting(**point, hitting="X2=0.5", runs=7, seed=3,
                                 hitting_runs=np.True_)
    own = result.table[result.table["source"] == "simulation_hitting_run"]
    assert len(own) == 14
    for n, p in enumerate(result.points):
        runs = own[own["pmut"] == float(point["pmut"].split(",")[n])]
        assert runs["run"].tolist() == list(range(7))
        assert [str(t) for t in p["run_times"]] == [str(t) for t in runs["t"]]
        reached = sorted(int(t) for t in p["run_times"] if t is not pd.NA)
        assert reached == list(p["times"]) and 7 - len(reached) == p["never"]
    # Long, a run's row is its number at its time.
    long = blocklevels.tidy(result.table)
    long = long[long["source"] == "simulation_hitting_run"]
    assert long["quantity"].unique().tolist() == ["run"]
    assert [str(t) for t in long["t"]] == [str(t) for t in own["t"]]
    assert long["value"].tolist() == [float(r) for r in own["run"]]
    # Without asking, the table has no run column, but the times are there.
    counted = blocklevels.hitting(**point, hitting="X2=0.5", runs=7, seed=3)
    assert "run" not in counted.table.columns
    assert [list(p["run_times"]) for p in counted.points] == [
        list(p["run_times"]) for p in result.points]


# A call, the package's refusal and the command line's, in their names.
REFUSED = [
    (blocklevels.find, dict(SEARCH, pmut="0.01", **FIND), "pmut: find searches it",
     "--pmut: --find pmut takes its place"),
    (blocklevels.find, dict(SEARCH, find="pmut:0.1:0.0001", where="Xtop=0.1"),
     "find='pmut:0.1:0.0001' needs LOW below HIGH", "--find: 'pmut:0.1:0.0001' needs LOW"),
    (blocklevels.find, dict(SEARCH, find="pmut:0.0001:0.1", where="X31=0.1"),
     "where: X31 but a point has 30 blocks", "--where: X31 but a point has 30 blocks"),
    (blocklevels.hitting, dict(SEARCH, pmut="0.01", hitting="X2=2"),
     "hitting: X2=2 asks for a value X2 never takes", "--hitting: X2=2 asks for a value"),
]
SETTINGS = ("find", "where", "grid", "hitting")


@pytest.mark.parametrize("call, arguments, words, cli_words", REFUSED)
def test_refusals_are_the_command_lines(call, arguments, words, cli_words):
    with pytest.raises(ValueError, match=words):
        call(**arguments)
    args = options(**{k: v for k, v in arguments.items() if k not in SETTINGS})
    args += cli_settings(**{k: v for k, v in arguments.items() if k in SETTINGS})
    status, _, err = run_program(args)
    assert status == 2 and cli_words in err
    with pytest.raises(TypeError, match="needs"):
        call(**{k: v for k, v in arguments.items() if k not in ("find", "hitting")})


@needs_allocation_failure
def test_a_single_points_stop_is_raised():
    with pytest.raises(blocklevels.Stop) as stop:
        blocklevels.hitting(1000, 1, "0.1", 2**31 - 1, 30, 1, hitting="X1=0.5", runs=1)
    assert stop.value.status == 203


def test_tidy_holds_every_value_once():
    table = blocklevels.study(lambda_=40, mu=8, pmut="0.05", block_length=2, blocks=3, final=6,
                              step=2, runs=4, hitting="X1=0.5")
    long = blocklevels.tidy(table)
    assert list(long.columns) == [*blocklevels.parameter_names, "source", "t", "quantity",
                                  "value"]
    assert len(long) == sum(pd.to_numeric(table[q], errors="coerce").notna().sum()
                            for q in long["quantity"].unique())
    wide = long[long["source"] == "simulation"].pivot(index="t", columns="quantity",
                                                      values="value")
    rows = table[table["source"] == "simulation"].set_index("t")
    for q in ("mean_level", "X1", "X2", "X3"):
        assert wide[q].tolist() == rows[q].tolist()
    assert long[long["quantity"] == "success_rate"]["source"].tolist() == ["simulation_hitting"]


def test_plot_draws_the_numbers_it_is_given():
    from matplotlib.figure import Figure

    point = dict(lambda_=30, mu=6, pmut="0.05", block_length=2, blocks=3, final=20, step=5)
    result = blocklevels.hitting(**point, hitting="X2=0.5", runs=6)
    figure = blocklevels.plot(result)
    assert isinstance(figure, Figure)
    line = figure.axes[0].lines[0]
    times = result.points[0]["times"]
    assert list(line.get_ydata()) == [np.sum(times <= t) / 6 for t in range(21)]
    found = blocklevels.find(**SEARCH, **FIND)
    drawn = blocklevels.plot(found).axes[0].lines
    falling = found[found["direction"] == "falling"]
    assert list(drawn[0].get_ydata()) == falling["pmut"].tolist()
    sweep = blocklevels.study(**{**point, "pmut": "0.05,0.1,0.2"})
    top = blocklevels.plot(sweep).axes[0].lines[0]
    assert list(top.get_ydata()) == sweep[sweep["t"] == 20]["X3"].tolist()
    curves = blocklevels.plot(blocklevels.model(**point)).axes[0].lines
    assert list(curves[0].get_ydata()) == blocklevels.model(**point).X[:, 2].tolist()
