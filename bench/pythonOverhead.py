"""What the Python module adds to a solve: its call's time against the C++
interface's on the same matrix.

    python bench/pythonOverhead.py [--sizes 1000,5000] [--seeds 1,2,3] [--repeats 5]
                                   [--api-bench build/bin/apiBench]

Run with a Python that has atsp_solver installed (make test leaves one in
build/venv) and with bench/apiBench built. For each size, seed and width
(int32, int64; costs 0..10**6 from numpy's generator seeded with the seed),
one line: the Python call's wall time and the search time it reports, and
apiBench's times on the same matrix: making the problem (the copy of the
matrix into the search's graph, which any caller pays), the solve() call and
its search. Each figure is the best of --repeats runs, each run a process of
its own on both sides, so that both find fresh memory as a single solve
would. The matrix is C-contiguous, so the module reads it in place.
"""

import argparse
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1000,5000")
    parser.add_argument("--seeds", default="1,2,3")
    parser.add_argument("--repeats", type=int, default=5, help="best of this many runs")
    parser.add_argument("--api-bench", default="build/bin/apiBench")
    parser.add_argument("--one", nargs=3, metavar=("FILE", "N", "WIDTH"), help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.one:
        time_one_call(*arguments.one)
        return
    print(f"{'n':>5} {'seed':>4} {'width':>5} {'python s':>9} {'py search':>9} "
          f"{'C++ build':>9} {'C++ solve':>9} {'C++ search':>10} {'py / C++':>8} "
          f"{'py - C++ ms':>11}")
    ratios = {}
    with tempfile.TemporaryDirectory() as folder:
        for n in map(int, arguments.sizes.split(",")):
            for seed in map(int, arguments.seeds.split(",")):
                generator = np.random.default_rng(seed)
                wide = generator.integers(0, 10**6 + 1, size=(n, n), dtype=np.int64)
                for width, costs in (("int32", wide.astype(np.int32)), ("int64", wide)):
                    path = Path(folder) / f"costs-{width}.bin"
                    costs.tofile(path)
                    python_seconds, python_search = best_of(
                        arguments.repeats,
                        [sys.executable, __file__, "--one", str(path), str(n), width],
                        fields=(0, 1), timed=1)
                    build, solve, search = best_of(
                        arguments.repeats, [arguments.api_bench, str(n), str(path), width, "1"],
                        fields=(1, 3, 5), timed=2)
                    cpp = build + solve
                    ratios.setdefault(n, []).append(python_seconds / cpp)
                    print(f"{n:>5} {seed:>4} {width:>5} {python_seconds:>9.4f} "
                          f"{python_search:>9.4f} {build:>9.4f} {solve:>9.4f} {search:>10.4f} "
                          f"{python_seconds / cpp:>8.3f} {1000 * (python_seconds - cpp):>11.1f}")
    for n, values in ratios.items():
        print(f"n = {n}: median Python / C++ (build + solve) {statistics.median(values):.3f}")


def best_of(repeats, command, fields, timed):
    """The figures (the words at `fields` of its output) of the fastest of
    `repeats` runs of `command`, the one whose first `timed` figures sum
    least."""
    best = None
    for _ in range(repeats):
        words = subprocess.run(command, capture_output=True, text=True, check=True).stdout.split()
        values = tuple(float(words[field]) for field in fields)
        if best is None or sum(values[:timed]) < sum(best[:timed]):
            best = values
    return best


def time_one_call(file_name, n, width):
    import atsp_solver

    n = int(n)
    costs = np.fromfile(file_name, dtype=np.int32 if width == "int32" else np.int64)
    costs = costs.reshape(n, n)
    start = time.perf_counter()
    result = atsp_solver.solve(costs)
    seconds = time.perf_counter() - start
    print(seconds, result.statistics.search_seconds)


if __name__ == "__main__":
    main()
