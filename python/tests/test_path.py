"""solve_path() against brute force over every order of the cities."""

import itertools

import numpy as np
import pytest

import atsp_solver
from conftest import random_costs


def path_cost(costs, path):
    return sum(int(costs[a][b]) for a, b in zip(path, path[1:]))


def brute_force(costs, start, end, forbidden=None):
    n = len(costs)
    best = None
    for order in itertools.permutations(range(n)):
        if (start is not None and order[0] != start) or (end is not None and order[-1] != end):
            continue
        if forbidden is not None and any(forbidden[a][b] for a, b in zip(order, order[1:])):
            continue
        cost = path_cost(costs, order)
        best = cost if best is None or cost < best else best
    return best


@pytest.mark.parametrize("n", [2, 3, 5, 7])
@pytest.mark.parametrize("ends", [(None, None), (0, None), (None, 1), (1, 0), (2, 1)])
def test_paths_match_brute_force(n, ends):
    start, end = ends
    if n == 2 and ends == (2, 1):
        pytest.skip("city 2 of 2")
    for seed in range(3):
        costs = random_costs(seed * 10 + n, n, -100, 1000)
        result = atsp_solver.solve_path(costs, start, end)
        assert result.optimal
        assert sorted(result.path) == list(range(n))
        if start is not None:
            assert result.path[0] == start
        if end is not None:
            assert result.path[-1] == end
        assert path_cost(costs, result.path) == result.cost
        assert result.cost == brute_force(costs, start, end)


def test_paths_respect_forbidden_arcs():
    generator = np.random.default_rng(3)
    for seed in range(10):
        costs = random_costs(seed, 6)
        forbidden = generator.random((6, 6)) < 0.3
        best = brute_force(costs, 0, 5, forbidden)
        if best is None:
            with pytest.raises(atsp_solver.NoTourError):
                atsp_solver.solve_path(costs, 0, 5, forbidden=forbidden)
            continue
        result = atsp_solver.solve_path(costs, 0, 5, forbidden=forbidden)
        assert result.cost == best


def test_one_city_is_its_own_path():
    assert atsp_solver.solve_path([[7]]).path == [0]


def test_bad_ends_are_value_errors():
    costs = random_costs(1, 4)
    for start, end in [(4, None), (None, -1), (2, 2), (0.5, None)]:
        with pytest.raises(ValueError):
            atsp_solver.solve_path(costs, start, end)
