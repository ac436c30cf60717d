# A stop in the arithmetic raises blocklevels.Stop with the dialogue's stop
# number, and leaves the interpreter as it was.
import signal
import warnings

import numpy as np
import pytest

import blocklevels
from blocklevels import _core
from conftest import needs_allocation_failure, run_program

# Values the dialogue takes unchecked: lambda, mu, pmut, b, acc, l, final, step.
STOPPING = [
    (10, 5, "1e300", 1, 0, 3, 6, 1),
    (0, 5, "0.3", 1, 0, 1, 6, 1),
    (0, 0, "0.3", 1, 0, 1, 6, 1),
    (10, 5, "0.1", 1, 0, 1760, 2, 1),
]


def dialogue_status(lam, mu, pmut, b, acc, l, final, step):
    answers = f"{lam}\n{pmut}\n{b}\n{acc}\n{l}\n{final}\n{step}\n{mu}\n\n"
    return run_program([], stdin=answers)[0]


def unchecked_model(*values):
    point = _core.run_unchecked(*values)
    if point["status"]:
        raise blocklevels._stop(point["status"])
    return point


@pytest.mark.parametrize("values", STOPPING)
def test_stop_raised_and_interpreter_unchanged(values):
    handlers = {s: signal.getsignal(s) for s in (signal.SIGINT, signal.SIGFPE, signal.SIGSEGV,
                                                 signal.SIGTERM, signal.SIGBUS)}
    environment = _core.floating_point_environment()
    with pytest.raises(blocklevels.Stop) as stop:
        unchecked_model(*values)
    status = dialogue_status(*values)
    assert stop.value.status == status
    assert str(stop.value) == f"stopped: {_core.stop_meaning(status)} (status {status})"
    assert _core.floating_point_environment() == environment
    assert {s: signal.getsignal(s) for s in handlers} == handlers
    with pytest.warns(RuntimeWarning, match="overflow"):
        assert np.float64(1e308) * np.float64(10) == np.inf
    good = blocklevels.model(20, 5, "0.1", 3, 2, 6, step=2, two_option=1, arithmetic="literal")
    assert np.array_equal(unchecked_model(20, 5, "0.1", 3, 1, 2, 6, 2)["tail"], good.X)


@needs_allocation_failure
def test_simulation_out_of_memory_is_stop_203():
    with pytest.raises(blocklevels.Stop) as stop:
        blocklevels.simulate(1000, 1, "0.1", 2**31 - 1, 30, 1, runs=1)
    assert stop.value.status == 203
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert blocklevels.simulate(10, 5, "0.1", 1, 2, 3, runs=2).runs == 2
