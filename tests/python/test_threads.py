# The computation runs without the interpreter's lock, and its values do not
# depend on threads: neither on Python threads calling side by side nor on
# the package's own jobs.
import concurrent.futures
import os
import signal
import threading
import time

import numpy as np
import pytest

import blocklevels

LONG_MODEL = dict(lambda_=100, mu=10, pmut="0.001", block_length=2, blocks=1754, final=2)
# A fifth of a second; under the sanitizers a matrix row of 1754 levels,
# between two checks of the stop, takes several times longer (measured: up
# to 0.23 s to react), so the promise is the plain build's.
REACTION = 1.0 if os.environ.get("BLOCKLEVELS_SANITIZED") == "1" else 0.2
LONG_SIMULATION = dict(lambda_=2000, mu=500, pmut="0.01", block_length=2, blocks=50, final=2000,
                       runs=1000, jobs=2)


def test_other_threads_run_during_a_call():
    ticks, done = [], threading.Event()

    def count():
        while not done.is_set():
            ticks.append(time.perf_counter())

    counter = threading.Thread(target=count)
    counter.start()
    start = time.perf_counter()
    blocklevels.model(**{**LONG_MODEL, "blocks": 1000})
    end = time.perf_counter()
    done.set()
    counter.join()
    margin = (end - start) / 10
    assert sum(start + margin < t < end - margin for t in ticks) > 1000


POINTS = [dict(lambda_=30 + k, mu=5, pmut=f"0.0{k + 1}", block_length=2, blocks=60, final=200)
          for k in range(8)]


def test_values_equal_whatever_the_interleaving():
    alone = [(blocklevels.model(**p).X, blocklevels.simulate(**p, runs=5, jobs=1).sum)
             for p in POINTS]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda p: (blocklevels.model(**p).X,
                                            blocklevels.simulate(**p, runs=5, jobs=3).sum),
                                 POINTS))
    for (x, sums), (y, other_sums) in zip(alone, together):
        assert np.array_equal(x, y) and np.array_equal(sums, other_sums)


def test_study_rows_equal_whatever_the_jobs():
    sweep = dict(lambda_=[20, 40], mu=5, pmut="0.01:0.1:4", block_length=2, blocks=30,
                 final=50, runs=3)
    one = blocklevels.study(**sweep, jobs=1)
    assert one.equals(blocklevels.study(**sweep, jobs=2))
    assert one.equals(blocklevels.study(**sweep, jobs=7))


@pytest.mark.parametrize("call", [
    lambda: blocklevels.model(**LONG_MODEL),
    lambda: blocklevels.simulate(**LONG_SIMULATION),
    lambda: blocklevels.study(**{**LONG_MODEL, "pmut": ["0.001", "0.002"]}, jobs=2),
], ids=["model", "simulate", "study"])
def test_ctrl_c_interrupts_within_a_fifth_of_a_second(call):
    before = blocklevels.model(20, 5, "0.1", 3, 2, 6)
    sent = []

    def interrupt():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.3, interrupt)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        call()
    caught = time.perf_counter()
    timer.join()
    assert sent and caught - sent[0] < REACTION
    assert np.array_equal(blocklevels.model(20, 5, "0.1", 3, 2, 6).X, before.X)
