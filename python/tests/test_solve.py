"""solve() against the command-line solver and a Held-Karp reference, and
what its options do."""

import subprocess
import threading
import tracemalloc

import numpy as np
import pytest

import atsp_solver
from conftest import TSPLIB, hard_costs, held_karp, random_costs, symmetric_costs, tour_cost


def check_tour(costs, result):
    n = len(costs)
    assert sorted(result.tour) == list(range(n))
    assert result.tour[0] == 0
    assert tour_cost(costs, result.tour) == result.cost


@pytest.mark.parametrize("n", range(1, 10))
def test_optimum_matches_held_karp(n):
    for seed in range(3):
        costs = random_costs(seed * 100 + n, n, -20, 1000)
        result = atsp_solver.solve(costs)
        check_tour(costs, result)
        assert result.optimal and not result.stopped
        assert result.cost == held_karp(costs)
        assert result.lower_bound == result.cost


def test_negative_costs_are_searched_too():
    # The tour 0, 1, ..., n-1 costs less than zero: the library does not
    # search from such a tour, so the module searches on lifted costs.
    costs = random_costs(5, 8, -1000, -10)
    result = atsp_solver.solve(costs)
    check_tour(costs, result)
    assert result.optimal
    assert result.cost == held_karp(costs)


@pytest.mark.parametrize("seed", range(4))
def test_cost_matches_the_command_line(tmp_path, solver_program, seed):
    costs = random_costs(seed, 40 + 20 * seed, 0, 1000000, dtype=np.int32)
    n = len(costs)
    matrix_file = tmp_path / "costs.txt"
    matrix_file.write_text(f"{n}\n" + "\n".join(" ".join(map(str, row)) for row in costs) + "\n")
    program = subprocess.run([solver_program, str(matrix_file)], capture_output=True, text=True)
    assert program.returncode == 0, program.stdout
    result = atsp_solver.solve(costs)
    check_tour(costs, result)
    assert result.cost == int(program.stdout.splitlines()[0])


@pytest.mark.parametrize("name", ["br17", "ftv33", "ftv44", "ry48p"])
def test_tsplib_instances_match_the_command_line_and_the_optimum(solver_program, name):
    path = TSPLIB / f"{name}.mat"
    if not path.exists():
        pytest.skip(f"{path} is absent")
    costs = atsp_solver.read_tsplib(path)
    assert costs.dtype == np.int32 and costs.shape[0] == costs.shape[1]
    program = subprocess.run([solver_program, str(path)], capture_output=True, text=True)
    result = atsp_solver.solve(costs, threads=2)
    check_tour(costs, result)
    assert result.cost == int(program.stdout.splitlines()[0])
    optima = dict(
        line.split("\t")[::2] for line in (TSPLIB / "optima.tsv").read_text().splitlines()[1:]
    )
    assert result.cost == int(optima[name])


def test_lists_fortran_arrays_and_whole_floats_give_the_same_answer():
    costs = random_costs(7, 9)
    expected = atsp_solver.solve(costs)
    for variant in (
        costs.tolist(),
        np.asfortranarray(costs),
        costs.astype(np.int16),
        costs.astype(np.uint32),
        costs.astype(np.float64),
        costs[::-1, ::-1][::-1, ::-1],
    ):
        result = atsp_solver.solve(variant)
        assert (result.tour, result.cost) == (expected.tour, expected.cost)


def test_the_diagonal_is_ignored_even_when_not_a_number():
    costs = random_costs(8, 7).astype(np.float64)
    expected = atsp_solver.solve(costs).cost
    np.fill_diagonal(costs, np.nan)
    assert atsp_solver.solve(costs).cost == expected
    np.fill_diagonal(costs, np.inf)
    assert atsp_solver.solve(costs).cost == expected


@pytest.mark.parametrize("dtype", [np.int32, np.int64])
def test_contiguous_int32_and_int64_are_read_in_place(dtype):
    # numpy reports its allocations to tracemalloc; the library's graph is
    # C++'s and is not counted. A copy of the matrix would be.
    costs = random_costs(9, 400, 0, 1000000, dtype=dtype)
    tracemalloc.start()
    try:
        result = atsp_solver.solve(costs)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert result.optimal
    assert peak < costs.nbytes / 4, f"{peak} bytes allocated for a {costs.nbytes}-byte matrix"


def test_forbidden_arcs_are_never_used():
    generator = np.random.default_rng(10)
    checked = 0
    for seed in range(30):
        n = 4 + seed % 6
        costs = random_costs(seed, n)
        forbidden = generator.random((n, n)) < 0.3
        optimum = held_karp(costs, forbidden)
        if optimum is None:
            with pytest.raises(atsp_solver.NoTourError):
                atsp_solver.solve(costs, forbidden=forbidden)
            continue
        result = atsp_solver.solve(costs, forbidden=forbidden)
        check_tour(costs, result)
        assert not any(forbidden[a][b] for a, b in zip(result.tour, result.tour[1:] + [0]))
        assert result.cost == optimum
        checked += 1
    assert checked > 10


def test_time_limit_returns_the_best_tour_with_a_bound():
    costs = hard_costs()
    result = atsp_solver.solve(costs, time_limit=0.3)
    assert result.stopped and not result.optimal
    check_tour(costs, result)
    assert result.lower_bound <= result.cost


def test_a_start_tour_is_kept_unless_beaten():
    costs = symmetric_costs(2, 60, 1000000)
    first = atsp_solver.solve(costs, time_limit=0.2)
    rotated = first.tour[5:] + first.tour[:5]
    again = atsp_solver.solve(costs, time_limit=0.2, start_tour=rotated)
    check_tour(costs, again)
    assert again.cost <= first.cost


def test_progress_reports_arrive_and_end_with_the_answer():
    costs = random_costs(11, 12)
    reports = []
    result = atsp_solver.solve(costs, progress=reports.append)
    assert reports
    assert all(isinstance(report, atsp_solver.Progress) for report in reports)
    assert reports[-1].best_cost == result.cost
    assert reports[-1].lower_bound == result.cost


def test_an_exception_in_progress_stops_the_search_and_is_raised():
    class Enough(Exception):
        pass

    def progress(report):
        raise Enough()

    costs = symmetric_costs(3, 60, 1000000)
    with pytest.raises(Enough):
        atsp_solver.solve(costs, progress=progress, progress_interval=0.05)


def test_other_python_threads_run_during_a_solve():
    counted = [0]
    running = threading.Event()
    finished = threading.Event()

    def count():
        running.set()
        while not finished.is_set():
            counted[0] += 1

    counter = threading.Thread(target=count)
    counter.start()
    running.wait()
    try:
        before = counted[0]
        atsp_solver.solve(hard_costs(), time_limit=0.5)
        during = counted[0] - before
    finally:
        finished.set()
        counter.join()
    assert during > 1000


def test_statistics_are_filled():
    costs = random_costs(12, 30)
    statistics = atsp_solver.solve(costs).statistics
    assert statistics.arcs_given == 30 * 29
    assert 0 < statistics.arcs_searched <= statistics.arcs_given
    assert statistics.nodes_created >= 1
    assert statistics.search_seconds >= 0


def test_threads_zero_means_all_and_gives_the_optimum():
    costs = random_costs(13, 11)
    assert atsp_solver.solve(costs, threads=0).cost == held_karp(costs)
