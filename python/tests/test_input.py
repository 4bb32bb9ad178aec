"""Bad input raises a ValueError that says what is wrong, and leaves the
interpreter as it was: the next solve works."""

import math
import re

import numpy as np
import pytest

import atsp_solver
from conftest import random_costs

GOOD = random_costs(1, 5)


def still_usable():
    assert atsp_solver.solve(GOOD).optimal


@pytest.mark.parametrize(
    "costs, words",
    [
        ([[0, 1, 2], [1, 0, 2]], "square"),
        ([[0, 1], [1, 0, 5]], "rows differ"),
        (np.zeros((0, 0), dtype=np.int64), "empty"),
        ([], "square"),
        (np.zeros((3, 3, 3), dtype=np.int64), "square"),
        ([[0, math.nan], [1, 0]], "NaN at row 0, column 1"),
        ([[0, 1.5], [1, 0]], "np.rint(costs * 1000)"),
        ([[0, math.inf], [1, 0]], "forbidden="),
        (np.array([[0, 2**31], [1, 0]], dtype=np.int64), "row 0, column 1, 2147483648"),
        (np.array([[0, -(2**31) - 1], [1, 0]], dtype=np.int64), "32-bit range"),
        (np.array([[0, 2**63], [1, 0]], dtype=np.uint64), "32-bit range"),
        ([[0, 2**70], [1, 0]], "32-bit range"),
        ([["a", "b"], ["c", "d"]], "whole numbers"),
        (np.ones((2, 2), dtype=bool), "whole numbers"),
    ],
)
def test_bad_costs(costs, words):
    with pytest.raises(ValueError, match=re.escape(words)):
        atsp_solver.solve(costs)
    still_usable()


@pytest.mark.parametrize(
    "start_tour",
    [[0, 1, 2, 3], [0, 1, 2, 3, 3], [0, 1, 2, 3, 5], [0, 1, 2, 3, -4], [0, 1, 2, 3, 4, 0],
     [0, 1, 2, 3, 4.0]],
)
def test_a_start_tour_that_is_no_permutation(start_tour):
    with pytest.raises(ValueError):
        atsp_solver.solve(GOOD, start_tour=start_tour)
    still_usable()


def test_a_start_tour_over_a_forbidden_arc():
    forbidden = np.zeros((5, 5), dtype=bool)
    forbidden[1, 2] = True
    with pytest.raises(ValueError, match="lacks"):
        atsp_solver.solve(GOOD, start_tour=[0, 1, 2, 3, 4], forbidden=forbidden)
    still_usable()


def test_forbidden_arcs_that_leave_no_tour():
    forbidden = np.zeros((5, 5), dtype=bool)
    forbidden[:, 3] = True  # nothing enters city 3
    with pytest.raises(atsp_solver.NoTourError, match="no tour"):
        atsp_solver.solve(GOOD, forbidden=forbidden)
    assert issubclass(atsp_solver.NoTourError, ValueError)
    still_usable()


@pytest.mark.parametrize("forbidden", [np.zeros((4, 4), dtype=bool), [[True]], "x"])
def test_a_mask_of_the_wrong_shape(forbidden):
    with pytest.raises(ValueError, match="forbidden"):
        atsp_solver.solve(GOOD, forbidden=forbidden)
    still_usable()


@pytest.mark.parametrize(
    "options",
    [{"threads": -1}, {"threads": 1.5}, {"time_limit": 0}, {"time_limit": -1},
     {"time_limit": math.nan}, {"progress": 3}, {"progress_interval": 0}],
)
def test_bad_options(options):
    with pytest.raises(ValueError):
        atsp_solver.solve(GOOD, **options)
    still_usable()


def test_files(tmp_path):
    with pytest.raises(OSError, match="Couldn't open file"):
        atsp_solver.read_tsplib(tmp_path / "missing.atsp")
    malformed = tmp_path / "bad.tsp"
    malformed.write_text("NAME : bad\nTYPE : HCP\nDIMENSION : 3\n")
    with pytest.raises(atsp_solver.MalformedFileError, match="TYPE HCP") as raised:
        atsp_solver.read_tsplib(malformed)
    assert isinstance(raised.value, ValueError)
    good = tmp_path / "three.atsp"
    good.write_text(
        "NAME : three\nTYPE : ATSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\n"
        "EDGE_WEIGHT_FORMAT : FULL_MATRIX\nEDGE_WEIGHT_SECTION\n9 10 1\n1 9 10\n10 1 9\nEOF\n"
    )
    matrix = atsp_solver.read_tsplib(good)
    assert matrix.tolist() == [[0, 10, 1], [1, 0, 10], [10, 1, 0]]
    still_usable()
