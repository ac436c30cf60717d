# A value the command line refuses raises ValueError with its message.
import pytest

import blocklevels
from conftest import options, run_program

GOOD = dict(lambda_=10, mu=5, pmut="0.1", block_length=2, blocks=3, final=4)

# A change to GOOD, the command line's refusal and the package's, which
# says the same in Python's names.
REFUSED = [
    (dict(lambda_=0), "--lambda: 0 is below 1", "lambda_=0 is below 1"),
    (dict(mu=11), "--mu: 11 is above --lambda 10", "mu=11 is above lambda_=10"),
    (dict(mu=0), "--mu: 0 is below 1", "mu=0 is below 1"),
    (dict(pmut="abc"), "--pmut: 'abc' is not a number", "pmut: 'abc' is not a number"),
    (dict(pmut="2"), "--pmut: 2 is outside 0..1", "pmut=2 is outside 0..1"),
    (dict(pmut="-0.5"), "--pmut: -0.5 is outside 0..1", "pmut=-0.5 is outside 0..1"),
    (dict(pmut="1e99999"), "--pmut: '1e99999' is beyond the extended range (about 1.19e4932)",
     "pmut: '1e99999' is beyond the extended range (about 1.19e4932)"),
    (dict(pmut=".e5"), "--pmut: '.e5' is not a number", "pmut: '.e5' is not a number"),
    (dict(pmut="0.1:0.2:0"), "--pmut: the count '0' of a range must be 1 to 100000",
     "pmut: the count '0' of a range must be 1 to 100000"),
    (dict(block_length=0), "--block-length: 0 is below 1", "block_length=0 is below 1"),
    (dict(blocks=1755), "--blocks: 1755 is above 1754: from 1755 blocks on the model's "
     "factorials (1755! > 1.19e4932) are beyond the extended range",
     "blocks=1755 is above 1754: from 1755 blocks on the model's factorials (1755! > "
     "1.19e4932) are beyond the extended range"),
    (dict(final=0), "--final: 0 is below 1", "final=0 is below 1"),
    (dict(two_option=3), "--two-option: 3 is above --block-length 2",
     "two_option=3 is above block_length=2"),
    (dict(model="levels"), "--model: 'levels' is not one of level, block-state",
     "model='levels' is not one of level, block-state"),
    (dict(arithmetic="exact"), "--arithmetic: 'exact' is not one of accurate, literal",
     "arithmetic='exact' is not one of accurate, literal"),
]


def command_line_message(args):
    status, _, err = run_program(args)
    assert status == 2 and err.startswith("blocklevels: ")
    return err[len("blocklevels: "):].rstrip("\n")


@pytest.mark.parametrize("change,command_line,python", REFUSED,
                         ids=[str(c[0]) for c in REFUSED])
def test_refused_as_on_command_line_in_pythons_names(change, command_line, python):
    parameters = {**GOOD, **change}
    assert command_line_message(options(**parameters)) == command_line
    with pytest.raises(ValueError) as model_error:
        blocklevels.model(**parameters)
    with pytest.raises(ValueError) as study_error:
        blocklevels.study(**parameters)
    assert str(model_error.value) == python == str(study_error.value)


@pytest.mark.parametrize("pmut", [float("nan"), float("inf"), 1.5, -1e-300])
def test_float_pmut_outside_range(pmut):
    with pytest.raises(ValueError, match=r"^pmut=.* is outside 0\.\.1$"):
        blocklevels.model(**{**GOOD, "pmut": pmut})


@pytest.mark.parametrize("own,args,python", [
    (dict(runs=0), ["--simulate", "0"], "runs=0 is below 1"),
    (dict(runs=3, seed=-1), ["--simulate", "3", "--seed", "-1"],
     "seed='-1' is not a seed from 0 to 18446744073709551615"),
    (dict(runs=3, seed=2**64), ["--simulate", "3", "--seed", str(2**64)],
     "seed='18446744073709551616' is not a seed from 0 to 18446744073709551615"),
    (dict(runs=3, jobs=0), ["--simulate", "3", "--jobs", "0"], "jobs=0 is below 1"),
])
def test_simulation_settings_refused_as_on_command_line(own, args, python):
    command_line_message(options(**GOOD) + args)
    with pytest.raises(ValueError) as error:
        blocklevels.simulate(**GOOD, **own)
    assert str(error.value) == python


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
