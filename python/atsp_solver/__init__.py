"""Exact solver for the asymmetric travelling salesman problem.

    >>> import numpy as np, atsp_solver
    >>> costs = np.array([[0, 10, 1], [1, 0, 10], [10, 1, 0]])
    >>> result = atsp_solver.solve(costs, time_limit=60)
    >>> result.tour, result.cost, result.optimal
    ([0, 2, 1], 3, True)

``costs[i][j]`` is the cost of the arc from city ``i`` to city ``j``, a whole
number in the signed 32-bit range; the diagonal is ignored. A C-contiguous
int32 or int64 numpy array is read in place; anything else square (lists,
other integer types, floats that are all whole numbers) is converted first.
Costs with fractions are refused rather than truncated: scale them to
integers, for example ``np.rint(costs * 1000).astype(np.int64)`` for three
decimals (the tour found is then optimal for the rounded costs).

The search runs with the GIL released; Ctrl-C (KeyboardInterrupt) stops it
within a fraction of a second and is raised in the caller. Bad input raises
ValueError (or a subclass of it: NoTourError, MalformedFileError).
"""

from __future__ import annotations

import math
import operator
from dataclasses import dataclass
from typing import Callable, Optional, Sequence

import numpy as np

from . import _core

__all__ = [
    "solve",
    "solve_path",
    "read_tsplib",
    "Result",
    "PathResult",
    "Statistics",
    "Progress",
    "NoTourError",
    "MalformedFileError",
]

MalformedFileError = _core.MalformedFileError
MalformedFileError.__doc__ = "A problem file whose text is not a problem (a ValueError)."


class NoTourError(ValueError):
    """The forbidden arcs leave no tour (or, for solve_path, no path)."""


@dataclass(frozen=True)
class Statistics:
    nodes_created: int  # search-tree nodes made, the root included
    nodes_expanded: int  # times a node was taken up and branched on
    most_open_nodes: int  # most nodes waiting at one moment
    arcs_given: int  # arcs of the problem
    arcs_searched: int  # arcs left once those no cheaper tour can use are dropped
    search_seconds: float  # wall clock of the search alone


@dataclass(frozen=True)
class Progress:
    """What a progress callback receives, about once a second and at the end."""

    elapsed_seconds: float
    nodes_created: int
    open_nodes: int
    best_cost: Optional[int]  # None while no tour is known
    lower_bound: Optional[int]  # no tour costs less


@dataclass(frozen=True)
class Result:
    """A solve's answer.

    ``tour`` lists the cities in visiting order from city 0 (the arc from the
    last back to 0 closes it); ``cost`` is the sum of its arcs. ``optimal``:
    the tour is proven cheapest. ``stopped``: the time limit or an interrupt
    ended the search first; ``tour`` is then the best one found (None if it
    found none yet) and no tour costs less than ``lower_bound``.
    """

    tour: Optional[list]
    cost: Optional[int]
    lower_bound: Optional[int]
    optimal: bool
    stopped: bool
    statistics: Statistics


@dataclass(frozen=True)
class PathResult:
    """solve_path's answer: ``path`` runs from its first city to its last,
    through every city once, and ``cost`` is the sum of its arcs; the rest
    as in Result."""

    path: Optional[list]
    cost: Optional[int]
    lower_bound: Optional[int]
    optimal: bool
    stopped: bool
    statistics: Statistics


_INT32 = np.iinfo(np.int32)
_INT64 = np.iinfo(np.int64)

_SCALING_HINT = (
    "scale them to whole numbers first, for example "
    "np.rint(costs * 1000).astype(np.int64) keeps three decimals "
    "(the tour found is then optimal for the rounded costs)"
)


def _off_diagonal(array: np.ndarray) -> np.ndarray:
    return ~np.eye(array.shape[0], dtype=bool)


def _first_cell(where: np.ndarray) -> tuple:
    row, column = np.argwhere(where)[0]
    return int(row), int(column)


def _cost_matrix(costs) -> np.ndarray:
    """costs as a square C-contiguous int32 or int64 array: the array itself
    when it is one already, else a converted copy."""
    if isinstance(costs, np.ndarray):
        array = costs
    else:
        try:
            array = np.asarray(costs)
        except (ValueError, TypeError) as error:
            raise ValueError(
                "costs must be a square matrix of numbers: its rows differ in length "
                f"or hold something else ({error})"
            ) from None
    if array.ndim != 2 or array.shape[0] != array.shape[1]:
        raise ValueError(f"costs must be a square n x n matrix, not one of shape {array.shape}")
    if array.shape[0] == 0:
        raise ValueError("costs is empty: a problem has at least one city")
    kind = array.dtype.kind
    if array.dtype in (np.int32, np.int64):
        return array if array.flags.c_contiguous else np.ascontiguousarray(array)
    if kind in "iu":
        if kind == "u" and array.dtype.itemsize == 8 and array.size and array.max() > _INT64.max:
            row, column = _first_cell(array > _INT64.max)
            raise ValueError(
                f"the cost at row {row}, column {column}, {int(array[row, column])}, "
                "lies outside the signed 32-bit range"
            )
        return np.ascontiguousarray(array, dtype=np.int64)
    if kind == "f":
        return _whole_floats(array)
    if kind == "O":
        # Python ints too large for numpy, or mixed objects.
        try:
            return _cost_matrix(np.array(array.tolist(), dtype=np.int64))
        except (OverflowError, TypeError, ValueError):
            raise ValueError(
                "costs must be whole numbers in the signed 32-bit range"
            ) from None
    raise ValueError(f"costs must be whole numbers, not of dtype {array.dtype}")


def _whole_floats(array: np.ndarray) -> np.ndarray:
    """A float matrix whose off-diagonal cells are all whole numbers, as
    int64; anything else is refused, never rounded or truncated."""
    values = np.array(array, dtype=np.float64)  # a copy: the diagonal is cleared
    np.fill_diagonal(values, 0.0)
    if np.isnan(values).any():
        row, column = _first_cell(np.isnan(values))
        raise ValueError(f"costs hold NaN at row {row}, column {column}")
    if np.isinf(values).any():
        row, column = _first_cell(np.isinf(values))
        raise ValueError(
            f"costs hold infinity at row {row}, column {column}: "
            "leave missing arcs out with forbidden= instead"
        )
    fractional = values != np.floor(values)
    if fractional.any():
        row, column = _first_cell(fractional)
        raise ValueError(
            f"costs are floating-point and the one at row {row}, column {column}, "
            f"{values[row, column]!r}, is not a whole number: {_SCALING_HINT}"
        )
    outside = (values < _INT32.min) | (values > _INT32.max)
    if outside.any():
        row, column = _first_cell(outside)
        raise ValueError(
            f"the cost at row {row}, column {column}, {values[row, column]!r}, "
            "lies outside the signed 32-bit range"
        )
    return values.astype(np.int64)


def _forbidden_mask(forbidden, n: int) -> Optional[np.ndarray]:
    if forbidden is None:
        return None
    try:
        mask = np.asarray(forbidden)
    except (ValueError, TypeError):
        raise ValueError("forbidden must be an n x n matrix of booleans") from None
    if mask.shape != (n, n):
        raise ValueError(
            f"forbidden must have the shape of costs, ({n}, {n}), not {mask.shape}"
        )
    if mask.dtype.kind not in "biu":
        raise ValueError(f"forbidden must hold booleans, not {mask.dtype}")
    return np.ascontiguousarray(mask != 0, dtype=np.uint8)


def _city_list(cities, n: int, what: str) -> list:
    try:
        listed = [operator.index(city) for city in cities]
    except TypeError:
        raise ValueError(f"{what} must be a sequence of city numbers (ints)") from None
    for city in listed:
        if not 0 <= city < n:
            raise ValueError(f"{what} names city {city}, not one of 0 to {n - 1}")
    return listed


def _threads(threads) -> int:
    if threads is None:
        return 1
    try:
        count = operator.index(threads)
    except TypeError:
        raise ValueError(f"threads must be an int, not {threads!r}") from None
    if count < 0:
        raise ValueError(f"threads must be 0 (all the OpenMP runtime grants) or more, not {count}")
    return count


def _time_limit(time_limit) -> float:
    if time_limit is None:
        return 0.0
    seconds = float(time_limit)
    if not seconds > 0 or math.isinf(seconds):
        raise ValueError(f"time_limit must be a positive number of seconds, not {time_limit!r}")
    return seconds


def _progress_callback(progress):
    if progress is None:
        return None
    if not callable(progress):
        raise ValueError("progress must be callable")

    def report(elapsed, nodes, open_nodes, best, bound):
        progress(
            Progress(
                elapsed,
                nodes,
                open_nodes,
                None if best == _core.NO_TOUR_COST else best,
                None if bound == _core.NO_TOUR_COST else bound,
            )
        )

    return report


def _run(matrix, mask, start, threads, time_limit, progress, progress_interval):
    """The raw solution tuple, with a negative starting tour taken care of:
    the library does not search from a tour that costs less than zero (it
    takes that for an overflow), so such a problem is solved again with every
    arc raised by the same amount, which adds the same to every tour."""
    arguments = (mask, start, threads, time_limit, progress, progress_interval)
    raw = _core.solve(matrix, *arguments)
    negative_start = raw[7]
    if not negative_start:
        return raw
    n = matrix.shape[0]
    allowed = _off_diagonal(matrix) if mask is None else _off_diagonal(matrix) & (mask == 0)
    lift = -int(matrix[allowed].min())
    lifted = matrix.astype(np.int64) + lift
    if int(lifted[allowed].max()) > _INT32.max:
        raise ValueError(
            "the costs' negative tours cannot be searched: raising every cost by "
            f"{lift} to make them non-negative would leave the 32-bit range"
        )
    raw = list(_core.solve(lifted, *arguments))
    for field in (2, 3):  # cost, lower bound
        if raw[field] != _core.NO_TOUR_COST:
            raw[field] -= n * lift
    return tuple(raw)


def _solve_raw(costs, forbidden, start, threads, time_limit, progress, progress_interval):
    matrix = _cost_matrix(costs)
    n = matrix.shape[0]
    mask = _forbidden_mask(forbidden, n)
    start_list = [] if start is None else _city_list(start, n, "start_tour")
    if start is not None and len(start_list) != n:
        raise ValueError(f"start_tour names {len(start_list)} cities, not the problem's {n}")
    interval = float(progress_interval)
    if not interval > 0:
        raise ValueError(f"progress_interval must be positive, not {progress_interval!r}")
    raw = _run(
        matrix,
        mask,
        start_list,
        _threads(threads),
        _time_limit(time_limit),
        _progress_callback(progress),
        interval,
    )
    tour, found, cost, bound, optimal, no_tour, stopped, _, counts = raw
    if no_tour:
        raise NoTourError("the forbidden arcs leave no tour through every city")
    return (
        tour if found else None,
        cost if found else None,
        None if bound == _core.NO_TOUR_COST else bound,
        optimal,
        stopped,
        Statistics(*counts),
    )


def solve(
    costs,
    *,
    threads: Optional[int] = None,
    time_limit: Optional[float] = None,
    start_tour: Optional[Sequence[int]] = None,
    forbidden=None,
    progress: Optional[Callable[[Progress], None]] = None,
    progress_interval: float = 1.0,
) -> Result:
    """A cheapest tour through every city of the square matrix ``costs``.

    threads: search threads, 1 by default; 0 for all the OpenMP runtime grants.
    time_limit: seconds after which the search stops with the best tour found
        (``stopped``; ``lower_bound`` says how far it can be from the optimum).
    start_tour: a tour to start from, the n cities in visiting order; the
        search keeps it unless it finds a cheaper one.
    forbidden: an n x n boolean matrix; True marks an arc the tour must not
        use. NoTourError when no tour is left.
    progress: called with a Progress about every ``progress_interval``
        seconds and at the end, on the calling thread; an exception it raises
        stops the search and is raised here.
    """
    tour, cost, bound, optimal, stopped, statistics = _solve_raw(
        costs, forbidden, start_tour, threads, time_limit, progress, progress_interval
    )
    return Result(tour, cost, bound, optimal, stopped, statistics)


def solve_path(
    costs,
    start: Optional[int] = None,
    end: Optional[int] = None,
    *,
    threads: Optional[int] = None,
    time_limit: Optional[float] = None,
    forbidden=None,
    progress: Optional[Callable[[Progress], None]] = None,
    progress_interval: float = 1.0,
) -> PathResult:
    """A cheapest open path through every city of ``costs`` once, from
    ``start`` and to ``end`` when they are given (anywhere otherwise).

    Solved as a tour through one more city, whose only arcs are free ones
    into ``start`` (or every city) and out of ``end`` (or every city): the
    tour's cost is the path's. Options as for solve.
    """
    matrix = _cost_matrix(costs)
    n = matrix.shape[0]
    ends = _city_list([city for city in (start, end) if city is not None], n, "start and end")
    if start is not None and end is not None and ends[0] == ends[1] and n > 1:
        raise ValueError(f"a path through {n} cities cannot start and end at city {ends[0]}")
    if n == 1:
        return PathResult([0], 0, 0, True, False, Statistics(0, 0, 0, 0, 0, 0.0))
    mask = _forbidden_mask(forbidden, n)
    extended = np.zeros((n + 1, n + 1), dtype=np.int64)
    extended[:n, :n] = matrix
    extended_mask = np.zeros((n + 1, n + 1), dtype=np.uint8)
    if mask is not None:
        extended_mask[:n, :n] = mask
    dummy = n
    if start is not None:
        extended_mask[dummy, :n] = 1
        extended_mask[dummy, operator.index(start)] = 0
    if end is not None:
        extended_mask[:n, dummy] = 1
        extended_mask[operator.index(end), dummy] = 0
    try:
        tour, cost, bound, optimal, stopped, statistics = _solve_raw(
            extended, extended_mask, None, threads, time_limit, progress, progress_interval
        )
    except NoTourError:
        raise NoTourError("the forbidden arcs leave no such path through every city") from None
    path = None
    if tour is not None:
        at = tour.index(dummy)
        path = tour[at + 1 :] + tour[:at]
    return PathResult(path, cost, bound, optimal, stopped, statistics)


def read_tsplib(path) -> np.ndarray:
    """The cost matrix of a TSPLIB file (ATSP or TSP; explicit weights or
    coordinates, as TSPLIB95 defines their distances) or of a cost-matrix
    file, as an n x n int32 array with zeros on the diagonal. OSError when the
    file cannot be read, MalformedFileError (a ValueError) when it is no
    problem."""
    return _core.read_problem(str(path))
