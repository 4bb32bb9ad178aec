"""Shared helpers: an independent Held-Karp reference, seeded instances, and
the command-line solver to compare with."""

import itertools
import os
import random
import shutil
from pathlib import Path

import numpy as np
import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
# Beside the repository, as for the C++ tests; $ATSP_TSPLIB_DIR elsewhere.
TSPLIB = Path(os.environ.get("ATSP_TSPLIB_DIR", REPOSITORY.parent / "shared" / "tsplib"))


def held_karp(costs, forbidden=None):
    """The least tour cost by dynamic programming over subsets (city 0
    first); None when the allowed arcs hold no tour. Exponential: n <= 12."""
    n = len(costs)
    if n == 1:
        return 0

    def arc(i, j):
        if i == j or (forbidden is not None and forbidden[i][j]):
            return None
        return int(costs[i][j])

    best = {}
    for j in range(1, n):
        if arc(0, j) is not None:
            best[(1 << j, j)] = arc(0, j)
    for size in range(2, n):
        for subset in itertools.combinations(range(1, n), size):
            bits = sum(1 << city for city in subset)
            for j in subset:
                rest = bits & ~(1 << j)
                options = [
                    best[(rest, k)] + arc(k, j)
                    for k in subset
                    if k != j and (rest, k) in best and arc(k, j) is not None
                ]
                if options:
                    best[(bits, j)] = min(options)
    full = (1 << n) - 2
    closing = [best[(full, j)] + arc(j, 0) for j in range(1, n)
               if (full, j) in best and arc(j, 0) is not None]
    return min(closing) if closing else None


def tour_cost(costs, tour):
    n = len(tour)
    return sum(int(costs[tour[k]][tour[(k + 1) % n]]) for k in range(n)) if n > 1 else 0


def random_costs(seed, n, low=0, high=1000, dtype=np.int64):
    generator = np.random.default_rng(seed)
    return generator.integers(low, high + 1, size=(n, n)).astype(dtype)


def symmetric_costs(seed, n, high):
    """Symmetric costs: assignments full of 2-cycles, so the search trees
    are large."""
    generator = random.Random(seed)
    costs = np.zeros((n, n), dtype=np.int64)
    for i in range(n):
        for j in range(i + 1, n):
            costs[i, j] = costs[j, i] = generator.randint(0, high)
    return costs


def hard_costs():
    """A symmetric instance the solver does not finish in minutes (checked
    with the solver program: a gap of 35% left after 30 s)."""
    return symmetric_costs(7, 100, 1000000)


@pytest.fixture(scope="session")
def solver_program():
    """The command-line solver: $ATSP_SOLVER (make test sets it), else the
    Release build's; the test is skipped where there is none."""
    path = os.environ.get("ATSP_SOLVER") or str(REPOSITORY / "build" / "bin" / "solver")
    if not (os.path.isfile(path) and os.access(path, os.X_OK)) and not shutil.which(path):
        pytest.skip(f"no solver program at {path}")
    return path
