#!/usr/bin/env python3
"""The Python package's speed targets, measured as ratios in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [build/blocklevels]

1. model() at l = 300 over 1000 generations against the same run's
   computation in the command line: the program's time for the run minus
   its time for a trivial run (process start, fork of the point's process),
   both with --quiet and no output file. Target: at most 1.10.
2. Two threads computing two models at l = 300 against the same two models
   one after the other. Target: at most 0.65 (on two cores).
3. study() of 8 points with jobs=2 against jobs=1. Target: at most 0.65.

Every time is the median of REPS (default 9) repetitions, and each ratio is
given of the medians and of the minima; the machine may be shared, so read
the spread (min..max) before trusting a ratio: on a loaded machine the
minima are the closer to the undisturbed cost.
"""
import os
import statistics
import subprocess
import sys
import threading
import time

import blocklevels

REPS = int(os.environ.get("REPS", "9"))
PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "build/blocklevels"
RUN = dict(lambda_=100, mu=10, pmut="0.001", block_length=2, blocks=300, final=1000)


def timed(action):
    times = []
    for _ in range(REPS):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times), max(times)


def program(**parameters):
    args = [PROGRAM, "--quiet"]
    for key, value in parameters.items():
        args += ["--" + key.rstrip("_").replace("_", "-"), str(value)]
    return lambda: subprocess.run(args, check=True)


def show(name, seconds):
    median, low, high = seconds
    print(f"  {name:<46} {median * 1e3:9.2f} ms  ({low * 1e3:.2f}..{high * 1e3:.2f})")
    return seconds


def report(name, ratio, target):
    """ratio(k) for k = 0 (medians) and k = 1 (minima)."""
    for k, which in ((0, "medians"), (1, "minima")):
        value = ratio(k)
        verdict = "met" if value <= target else "NOT met"
        print(f"{name}, {which}: {value:.3f} (target <= {target})  {verdict}")


print(f"REPS={REPS}, {os.cpu_count()} cores")
print("1. model() against the command line's computation")
python = show("model(), l = 300, 1000 generations", timed(lambda: blocklevels.model(**RUN)))
whole = show("command line, the same run", timed(program(**RUN)))
start = show("command line, a trivial run (l = 1, final 1)",
             timed(program(**{**RUN, "blocks": 1, "final": 1})))
report("model() / command line's computation", lambda k: python[k] / (whole[k] - start[k]), 1.10)

print("2. two threads, two models at l = 300")
SECOND = {**RUN, "pmut": "0.002"}
REPEAT = 10  # models per thread, so that a thread's start is noise


def models(parameters):
    for _ in range(REPEAT):
        blocklevels.model(**parameters)


def in_threads():
    workers = [threading.Thread(target=models, args=(p,)) for p in (RUN, SECOND)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()


sequential = show("one after the other", timed(lambda: (models(RUN), models(SECOND))))
parallel = show("two threads", timed(in_threads))
report("two threads / one after the other", lambda k: parallel[k] / sequential[k], 0.65)

print("3. study() of 8 points")
SWEEP = dict(lambda_=[100, 200], mu=10, pmut=["0.001", "0.002", "0.003", "0.004"],
             block_length=2, blocks=300, final=1000)
one = show("jobs=1", timed(lambda: blocklevels.study(**SWEEP, jobs=1)))
two = show("jobs=2", timed(lambda: blocklevels.study(**SWEEP, jobs=2)))
report("jobs=2 / jobs=1", lambda k: two[k] / one[k], 0.65)
