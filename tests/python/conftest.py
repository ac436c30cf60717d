# Shared by the Python package's tests: the built program, and its CSV as
# raw text fields, which the package's tables are compared with bit for bit.
import csv
import io
import os
import struct
import subprocess

import numpy as np
import pandas as pd
import pytest

PROGRAM = os.environ.get("BLOCKLEVELS_BINARY", "build/blocklevels")
SOURCE_DIR = os.environ.get("BLOCKLEVELS_SOURCE_DIR", ".")
# Under AddressSanitizer a failed operator new aborts the process instead of
# throwing std::bad_alloc, so a run that cannot have its memory is not a stop.
needs_allocation_failure = pytest.mark.skipif(
    os.environ.get("BLOCKLEVELS_SANITIZED") == "1",
    reason="AddressSanitizer aborts on a failed allocation instead of throwing bad_alloc")


def run_program(args, stdin=None):
    """The program's run: (exit status, standard output, standard error)."""
    run = subprocess.run([PROGRAM, *args], input=stdin, capture_output=True, text=True,
                         timeout=600)
    return run.returncode, run.stdout, run.stderr


def cli_table(args):
    """The CSV the command line writes for `args`, as a header and rows of text."""
    status, out, err = run_program([*args, "--csv", "-", "--quiet"])
    rows = list(csv.reader(io.StringIO(out)))
    return status, rows[0], rows[1:]


def bits(value):
    """A double's 64 bits; an empty field or NaN as the NaN the tables use."""
    if value is pd.NA or value == "" or value != value:
        value = float("nan")
    return struct.unpack("<Q", struct.pack("<d", float(value)))[0]


def assert_same_table(frame, header, rows):
    """The DataFrame holds the CSV's columns and, field for field, its values:
    doubles by their bits, integers and sources as the text says."""
    assert list(frame.columns) == header
    assert len(frame) == len(rows)
    for column, name in enumerate(header):
        ours = frame[name].tolist()
        theirs = [row[column] for row in rows]
        if frame[name].dtype == np.float64:
            assert [bits(v) for v in ours] == [bits(v) for v in theirs], name
        else:
            assert ["" if v is pd.NA or v is None else str(v) for v in ours] == theirs, name


def options(**parameters):
    """Command-line options for keyword parameters (lambda_ is --lambda)."""
    args = []
    for key, value in parameters.items():
        args += ["--" + key.rstrip("_").replace("_", "-"), str(value)]
    return args


@pytest.fixture(autouse=True)
def _no_stray_state():
    """No test leaves a signal handler or floating-point mode behind."""
    import signal
    import blocklevels
    handlers = {s: signal.getsignal(s) for s in signal.valid_signals()
                if s not in (signal.SIGKILL, signal.SIGSTOP)}
    environment = blocklevels._core.floating_point_environment()
    yield
    assert {s: signal.getsignal(s) for s in handlers} == handlers
    after = blocklevels._core.floating_point_environment()
    # The x87 control word, and MXCSR's control bits (its low six are flags).
    assert (after[0], after[2] & ~0x3F) == (environment[0], environment[2] & ~0x3F)
