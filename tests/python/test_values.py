# The package's values are the command line's CSV values, bit for bit.
import numpy as np
import pytest

import blocklevels
from conftest import assert_same_table, bits, cli_table, needs_allocation_failure, options

MODEL_CASES = [
    dict(lambda_=20, mu=5, pmut="0.1", block_length=3, blocks=2, final=6, step=2, two_option=1),
    dict(lambda_=10, mu=5, pmut="0.3", block_length=1, blocks=1, final=6),
    dict(lambda_=100, mu=10, pmut="1e-3", block_length=2, blocks=40, final=300, step=7),
    dict(lambda_=50, mu=50, pmut="0.5", block_length=4, blocks=5, final=3, step=5, two_option=4),
    dict(lambda_=7, mu=3, pmut="0", block_length=2, blocks=3, final=4),
    dict(lambda_=7, mu=3, pmut="1", block_length=2, blocks=3, final=4, two_option=1),
]


@pytest.mark.parametrize("case", MODEL_CASES)
def test_model_equals_command_line(case):
    status, header, rows = cli_table(options(**case))
    assert status == 0
    result = blocklevels.model(**case)
    assert_same_table(result.to_pandas(), header, rows)
    assert result.t.dtype == np.int64 and result.X.dtype == np.float64
    assert result.X.shape == (len(rows), case["blocks"])
    x = [header.index(f"X{j}") for j in range(1, case["blocks"] + 1)]
    assert [bits(v) for v in result.X.ravel()] == [bits(row[k]) for row in rows for k in x]
    assert [bits(v) for v in result.mean_level] == [
        bits(row[header.index("mean_level")]) for row in rows]
    assert result.t.tolist() == [int(row[header.index("t")]) for row in rows]


SIMULATION_CASES = [
    (dict(lambda_=20, mu=5, pmut="0.1", block_length=3, blocks=2, final=6, step=2, two_option=1),
     7, 3),
    (dict(lambda_=200, mu=100, pmut="0.05", block_length=1, blocks=3, final=8), 11, 12345),
    (dict(lambda_=30, mu=2, pmut="0.02", block_length=2, blocks=4, final=5), 1, 2**64 - 1),
]


@pytest.mark.parametrize("case,runs,seed", SIMULATION_CASES)
@pytest.mark.parametrize("jobs", [1, 3])
def test_simulation_equals_command_line(case, runs, seed, jobs):
    status, header, rows = cli_table(options(**case) + ["--simulate", str(runs), "--seed",
                                                        str(seed)])
    assert status == 0
    result = blocklevels.simulate(**case, runs=runs, seed=seed, jobs=jobs)
    simulated = [row for row in rows if row[0].startswith("simulation")]
    assert_same_table(result.to_pandas(), header, simulated)
    assert result.runs == runs
    x = [header.index(f"X{j}") for j in range(1, case["blocks"] + 1)]
    assert [bits(v) for v in result.mean.ravel()] == [
        bits(row[k]) for row in simulated[0::2] for k in x]
    # The exact sums as a shard's table writes them.
    status, _, sums = cli_table(options(**case) + ["--simulate", str(runs), "--seed", str(seed),
                                                   "--shard", "0/1"])
    values = [header.index("mean_level")] + x
    sum_rows = [[row[k] for k in values] for row in sums if row[0] == "simulation_sum"]
    square_rows = [[row[k] for k in values] for row in sums
                   if row[0] == "simulation_sum_of_squares"]
    assert [[str(v) for v in [level, *row]] for level, row in
            zip(result.sum_level, result.sum)] == sum_rows
    assert [[str(v) for v in [level, *row]] for level, row in
            zip(result.sum_level_of_squares, result.sum_of_squares)] == square_rows


STUDIES = [
    # A sweep over every kind of value: lists, ranges, a float pmut's text.
    (dict(lambda_=[10, 20], mu=5, pmut=blocklevels.Range("0.01", "0.1", 3, log=True),
          block_length=3, blocks=[2, 4], final=6, step=3),
     ["--lambda", "10,20", "--mu", "5", "--pmut", "0.01:0.1:3:log", "--block-length", "3",
      "--blocks", "2,4", "--final", "6", "--step", "3"]),
    (dict(lambda_="8:40:3", mu=blocklevels.Range(1, 8, 4), pmut=["0.2", "1e-2"], block_length=2,
          blocks=3, final=4, two_option="0,1"),
     ["--lambda", "8:40:3", "--mu", "1:8:4", "--pmut", "0.2,1e-2", "--block-length", "2",
      "--blocks", "3", "--final", "4", "--two-option", "0,1"]),
    # The second point stops: its populations cannot be held (203).
    pytest.param(
        dict(lambda_=1000, mu=1, pmut="0.1", block_length=[3, 2147483647], blocks=30, final=2,
             runs=2, seed=9),
        ["--lambda", "1000", "--mu", "1", "--pmut", "0.1", "--block-length", "3,2147483647",
         "--blocks", "30", "--final", "2", "--simulate", "2", "--seed", "9"],
        marks=needs_allocation_failure),
]


@pytest.mark.parametrize("parameters,args", STUDIES)
@pytest.mark.parametrize("jobs", [1, 2])
def test_study_equals_command_line(parameters, args, jobs):
    status, header, rows = cli_table(args)
    frame = blocklevels.study(**parameters, jobs=jobs)
    assert_same_table(frame, header, rows)
    assert (frame["source"] == "stopped").any() == (status != 0)
    assert (frame["source"] == "model").any()


def test_float_pmut_is_its_binary_value_and_text_is_read_as_typed():
    text = blocklevels.model(20, 5, "0.1", 3, 2, 6)
    binary = blocklevels.model(20, 5, 0.1, 3, 2, 6)
    exact = blocklevels.model(20, 5, "0.1000000000000000055511151231257827021181583404541015625",
                              3, 2, 6)
    assert text.to_pandas()["pmut"].tolist() == binary.to_pandas()["pmut"].tolist()
    assert not np.array_equal(text.X, binary.X)
    assert np.array_equal(exact.X, binary.X)
    np.testing.assert_allclose(text.X, binary.X, rtol=1e-14)
