# study() takes zip= and mu_ratio= as the command line takes --zip and
# --mu-ratio: the same points and the same values, and the refusals in
# Python's names.
import io

import pandas as pd
import pytest

import blocklevels
from conftest import run_program

BASE = dict(pmut="0.01,0.02", block_length=2, blocks=4, final=6, step=3, jobs=1)


def test_zipped_lists_are_the_command_lines_table():
    frame = blocklevels.study(lambda_=[10, 100, 1000], mu=[2, 20, 200], zip=("lambda_", "mu"),
                              **BASE)
    status, out, _ = run_program(["--lambda", "10,100,1000", "--mu", "2,20,200", "--zip",
                                  "lambda,mu", "--pmut", "0.01,0.02", "--block-length", "2",
                                  "--blocks", "4", "--final", "6", "--step", "3", "--jobs", "1",
                                  "--csv", "-", "--quiet"])
    assert status == 0
    table = pd.read_csv(io.StringIO(out), float_precision="round_trip")
    assert list(frame["lambda"]) == list(table["lambda"])
    assert list(frame["mu"]) == list(table["mu"])
    assert frame["X4"].tolist() == table["X4"].tolist()
    # Six points of two reports, not 18.
    assert len(frame) == 12
    assert list(frame["lambda"])[::2] == [10, 10, 100, 100, 1000, 1000]


def test_mu_ratio_holds_the_selection_pressure():
    frame = blocklevels.study(lambda_=[10, 100], mu=None, mu_ratio=0.2, **BASE)
    assert list(frame["mu"])[::2] == [2, 2, 20, 20]


@pytest.mark.parametrize("kwargs, message", [
    (dict(lambda_=[10, 100], mu=[2, 3, 4], zip="lambda_,mu"),
     "zip: lambda_ has 2 values and mu 3; zipped lists advance together and need equal lengths"),
    (dict(lambda_=10, mu=[2, 3], zip=["lambda_", "mu"]),
     "zip: lambda_ has one value; a zip names parameters that take lists"),
    (dict(lambda_=3, mu=None, mu_ratio="0.1"),
     "mu_ratio: 0.1 gives mu 0 at lambda_ 3; it must be at least 1"),
    (dict(lambda_=10, mu="0.5"), "mu: '0.5' is not an integer from 1 to lambda_"),
])
def test_refusals_in_pythons_names(kwargs, message):
    with pytest.raises(ValueError) as error:
        blocklevels.study(**{**BASE, **kwargs})
    assert str(error.value) == message
