"""Ctrl-C during a long solve: the call returns promptly and raises
KeyboardInterrupt in the caller, and the interpreter goes on."""

import _thread
import os
import signal
import threading
import time

import pytest

import atsp_solver
from conftest import hard_costs

HARD = hard_costs()
# Generous: the search notices the stop flag within one node expansion.
RETURNS_WITHIN = 5.0


@pytest.fixture(autouse=True)
def python_handles_sigint():
    """Python raises KeyboardInterrupt only where it handles SIGINT itself: a
    test run started in the background (`cmd &`, nohup) inherits SIGINT
    ignored, and then neither Ctrl-C nor interrupt_main reaches the caller."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


def interrupted_solve(interrupt, threads):
    timer = threading.Timer(0.3, interrupt)
    timer.start()
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            atsp_solver.solve(HARD, threads=threads)
    finally:
        timer.cancel()
    return time.monotonic() - started


@pytest.mark.parametrize("threads", [1, 2])
def test_interrupt_main_stops_the_search(threads):
    assert interrupted_solve(_thread.interrupt_main, threads) < RETURNS_WITHIN
    assert atsp_solver.solve(HARD[:8, :8]).optimal


def test_sigint_stops_the_search():
    assert interrupted_solve(lambda: os.kill(os.getpid(), signal.SIGINT), 1) < RETURNS_WITHIN
    assert atsp_solver.solve(HARD[:8, :8]).optimal
