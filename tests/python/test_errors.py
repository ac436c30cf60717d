# A value the command line refuses raises ValueError with its message.
import pytest

import blocklevels
from conftest import options, run_program

GOOD = dict(lambda_=10, mu=5, pmut="0.1", block_length=2, blocks=3, final=4)

REFUSED = [
    dict(lambda_=0),
    dict(mu=11),
    dict(mu=0),
    dict(pmut="abc"),
    dict(pmut="2"),
    dict(pmut="-0.5"),
    dict(pmut="1e99999"),
    dict(pmut=".e5"),
    dict(pmut="0.1:0.2:0"),
    dict(block_length=0),
    dict(blocks=1755),
    dict(blocks=0),
    dict(final=0),
    dict(step=-1),
    dict(two_option=3),
    dict(lambda_=2**31),
    dict(lambda_="10,x"),
    dict(mu="1:5:3:lin"),
]


def command_line_message(args):
    status, _, err = run_program(args)
    assert status == 2 and err.startswith("blocklevels: ")
    return err[len("blocklevels: "):].rstrip("\n")


@pytest.mark.parametrize("change", REFUSED, ids=[str(c) for c in REFUSED])
def test_refused_as_on_command_line(change):
    parameters = {**GOOD, **change}
    expected = command_line_message(options(**parameters))
    with pytest.raises(ValueError) as model_error:
        blocklevels.model(**parameters)
    with pytest.raises(ValueError) as study_error:
        blocklevels.study(**parameters)
    assert str(model_error.value) == expected == str(study_error.value)


@pytest.mark.parametrize("pmut", [float("nan"), float("inf"), 1.5, -1e-300])
def test_float_pmut_outside_range(pmut):
    with pytest.raises(ValueError, match=r"^--pmut: .* is outside 0\.\.1$"):
        blocklevels.model(**{**GOOD, "pmut": pmut})


@pytest.mark.parametrize("own,args", [
    (dict(runs=0), ["--simulate", "0"]),
    (dict(runs=3, seed=-1), ["--simulate", "3", "--seed", "-1"]),
    (dict(runs=3, seed=2**64), ["--simulate", "3", "--seed", str(2**64)]),
    (dict(runs=3, jobs=0), ["--simulate", "3", "--jobs", "0"]),
])
def test_simulation_options_refused_as_on_command_line(own, args):
    expected = command_line_message(options(**GOOD) + args)
    with pytest.raises(ValueError) as error:
        blocklevels.simulate(**GOOD, **own)
    assert str(error.value) == expected


def test_one_point_only_and_names_checked():
    with pytest.raises(ValueError, match="study"):
        blocklevels.model(**{**GOOD, "pmut": ["0.1", "0.2"]})
    with pytest.raises(TypeError):
        blocklevels.study(**GOOD, colour=3)


def test_help_explains_every_parameter_and_the_result():
    import inspect
    for call in (blocklevels.model, blocklevels.simulate):
        for name in inspect.signature(call).parameters:
            assert f"\n        {name}:" in call.__doc__, (call.__name__, name)
    assert all(word in blocklevels.model.__doc__ for word in ("Returns", "mean_level", "Stop"))
