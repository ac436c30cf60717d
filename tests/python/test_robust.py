# The package under attack: a Stop crosses process pools; a refusal shows a
# NUL of an argument instead of ending there; an empty list, lambda given
# twice and a value a quantity never reaches are refused; a simulation too
# big for memory is a Stop 203 with its figures, or, in a study, its point's
# stopped row.
import concurrent.futures
import multiprocessing
import os
import pickle
import subprocess
import sys

import pytest

import blocklevels
from blocklevels import _core

OVERFLOWING = (10, 5, "1e300", 1, 0, 3, 6, 1)


def overflowing_model(_):
    point = _core.run_unchecked(*OVERFLOWING)
    raise blocklevels._stop(point["status"])


def test_a_stop_crosses_process_pools():
    with pytest.raises(blocklevels.Stop) as here:
        overflowing_model(0)
    again = pickle.loads(pickle.dumps(here.value))
    assert (again.status, str(again)) == (here.value.status, str(here.value))
    context = multiprocessing.get_context("spawn")
    with context.Pool(1) as pool, pytest.raises(blocklevels.Stop) as pooled:
        pool.map(overflowing_model, [0])
    assert (pooled.value.status, str(pooled.value)) == (here.value.status, str(here.value))
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as executor:
        with pytest.raises(blocklevels.Stop) as executed:
            executor.submit(overflowing_model, 0).result()
    assert (executed.value.status, str(executed.value)) == (here.value.status, str(here.value))


@pytest.mark.parametrize("call, error, says", [
    (lambda: blocklevels.model(20, 5, "0.1\x00junk", 3, 2, 6), ValueError, "0.1\\x00junk"),
    (lambda: blocklevels.study(lambda_=20, mu=[], pmut="0.1", block_length=3, blocks=2, final=6),
     ValueError, "mu=[] gives no value"),
    (lambda: blocklevels.study(**{"lambda": 20, "lambda_": 30}, mu=5, pmut="0.1", block_length=3,
                               blocks=2, final=6),
     TypeError, "lambda_ given twice"),
    (lambda: blocklevels.study(lambda_=20, mu=5, pmut="0.1", block_length=3, blocks=2, final=6,
                               hitting="Xtop=2"),
     ValueError, "hitting: Xtop=2 asks for a value Xtop never takes: a fraction is 0 to 1"),
    (lambda: blocklevels.study(lambda_=20, mu=5, pmut="0.1", block_length=3, blocks=2, final=6,
                               hitting="X3=0.5"),
     ValueError, "hitting: X3 but a point has 2 blocks"),
    (lambda: blocklevels.model(20, 5, 0.1, 3, blocks=2, final=6, model="block-state",
                               arithmetic="literal"),
     ValueError, "arithmetic: literal is the level model's evaluation"),
])
def test_arguments_refused_in_words(call, error, says):
    with pytest.raises(error) as refused:
        call()
    assert says in str(refused.value)


BIG = dict(mu=10, pmut="0.001", block_length=4, blocks=300, final=10, runs=1)


@pytest.mark.skipif(os.environ.get("BLOCKLEVELS_SANITIZED") == "1",
                    reason="AddressSanitizer reserves more address space than the limit")
def test_a_simulation_too_big_for_memory_is_stopped_before_it_runs():
    # Under a 2 GB address-space limit, in a process of its own.
    script = f"""
import resource, blocklevels
resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
try:
    blocklevels.simulate(2000000000, **{BIG!r})
except blocklevels.Stop as stop:
    print(stop.status, stop)
table = blocklevels.study(lambda_=[20, 2000000000], **{BIG!r})
print(table.source.iloc[-1], table.status.iloc[-1], (table.source == "simulation").sum())
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=300, env=os.environ)
    assert run.returncode == 0, run.stderr
    stop, table = run.stdout.splitlines()
    assert stop.startswith("203 stopped: out of memory: runs: lambda=2000000000 mu=10 ")
    assert ": a simulated run needs " in stop
    assert "are available (the address-space limit (RLIMIT_AS)) (status 203)" in stop
    # The point that fits has its rows; the other its stopped row.
    assert table == "stopped 203 10"
