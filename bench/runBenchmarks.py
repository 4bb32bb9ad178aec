#!/usr/bin/env python3
"""Benchmark suite of the solver: times, speedup, memory and node counts, written
up as CSV tables, gnuplot plots and docs/benchmarks.md.

    python3 bench/runBenchmarks.py [--build DIR] [--quick] [--budget-minutes M]

`make bench` builds the Release programs and runs this. What it does:

1. Random instances of the generator's distribution (costs 0..1000000, -1 on the
   diagonal, the generator's layout), written by `searchBench --write` from a
   seeded std::mt19937_64, so that (n, seed) always names the same matrix and
   searchBench searches the very matrix that `solver` read. Sizes climb a ladder
   from 50; climbing stops after the first size at which a serial run times out
   or the median serial search time exceeds the serial limit, or when the next
   size would not fit in the time budget.
2. Each instance is solved by `solver` and `solver parallel` (OMP_NUM_THREADS 2
   on every instance, 1 on the first two seeds of each size, 4 on the first
   seed to show oversubscription of the 2-core machine; the subsets keep the
   run within its time budget), each run under a time limit, in a
   child of its own whose peak resident memory is read with wait4 (by
   bench/peakMemory.cpp, see there why not from here). Then
   searchBench searches it again for the node counts and solves only its root
   assignment problem from scratch, and times reading the file. Every finished
   run of one instance must report the same cost.
3. The TSPLIB asymmetric instances (../shared/tsplib beside the repository),
   serial and parallel on two threads, 60 s each; a cost below the published
   optimum, or a finished run above it, is flagged.
4. CSV tables and PNG plots go to docs/benchmarks/, the write-up to
   docs/benchmarks.md (with --quick: to BUILD/bench-quick/ instead).

The exit status is 1 when any cost disagrees (between runs of one instance, or
with a TSPLIB optimum), 2 when gnuplot or a program is missing, 0 otherwise.
Standard library only; gnuplot (Debian package gnuplot-nox) draws the plots.
"""

import argparse
import csv
import datetime
import math
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parent.parent
GIB = 1024**3
MACHINE_MEMORY_BYTES = 24 * GIB
LOAD_AT_START = 0.0  # the one-minute load average when the run began


@dataclass
class Settings:
    sizes: list
    seeds: list
    serial_limit: float  # seconds; also the "solved within" threshold of the ladder
    parallel_limit: float  # 2 and 4 threads
    one_thread_limit: float  # the parallel search on a team of one
    tsplib_limit: float
    tsplib_names: list  # empty: every instance in optima.tsv
    budget_seconds: float  # the whole run, TSPLIB included
    tsplib_reserve_seconds: float  # kept back from the ladder for the TSPLIB part
    speedup_min_serial_seconds: float  # speedups of shorter searches are mostly start-up noise


FULL = Settings(
    sizes=[50, 100, 200, 400, 600, 800, 1000, 1200, 1500, 2000, 2500, 3000, 4000, 5000],
    seeds=[1, 2, 3, 4, 5],
    serial_limit=60,
    parallel_limit=60,
    one_thread_limit=90,
    tsplib_limit=60,
    tsplib_names=[],
    budget_seconds=80 * 60,
    tsplib_reserve_seconds=14 * 60,
    speedup_min_serial_seconds=2,
)

QUICK = Settings(
    sizes=[50, 100, 200, 400],
    seeds=[1],
    serial_limit=10,
    parallel_limit=10,
    one_thread_limit=15,
    tsplib_limit=3,
    tsplib_names=["br17", "ftv33", "ftv35", "rbg323"],
    budget_seconds=4 * 60,
    tsplib_reserve_seconds=30,
    speedup_min_serial_seconds=0.2,
)


# ---------------------------------------------------------------------------
# Running one program


@dataclass
class Run:
    status: str  # "ok", "timeout" or "failed"
    output: str
    wall_seconds: float
    peak_mib: float  # peak resident memory of the command; None when it was killed


def run_measured(build, command, limit_seconds, threads=None):
    """Runs `command` under peakMemory in a session of its own and kills the
    whole session at the limit. The peak is peakMemory's report of the
    command; it is missing (None) for a run that was killed."""
    environment = dict(os.environ)
    if threads is not None:
        environment["OMP_NUM_THREADS"] = str(threads)
    output_file = tempfile.TemporaryFile(mode="w+")
    start = time.monotonic()
    process = subprocess.Popen(
        [str(build / "bin" / "peakMemory")] + command,
        stdout=output_file,
        stderr=subprocess.STDOUT,
        env=environment,
        start_new_session=True,
    )
    try:
        process.wait(timeout=limit_seconds)
        timed_out = False
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        timed_out = True
    wall_seconds = time.monotonic() - start
    output_file.seek(0)
    lines = output_file.read().split("\n")
    output_file.close()
    peak_mib = None
    while lines and lines[-1] == "":
        lines.pop()
    if lines and lines[-1].startswith("peakKiB "):
        peak_mib = int(lines.pop().split()[1]) / 1024.0
    if timed_out:
        run_status = "timeout"
    elif process.returncode != 0:
        run_status = "failed"
    else:
        run_status = "ok"
    return Run(run_status, "\n".join(lines), wall_seconds, peak_mib)


@dataclass
class SolverRun:
    """One `solver` run: the report's cost and search time."""

    mode: str  # "serial" or "parallel"
    threads: int
    run: Run
    cost: int = None
    search_seconds: float = None


def run_solver(build, instance_file, mode, threads, limit_seconds):
    command = [str(build / "bin" / "solver")]
    if mode == "parallel":
        command.append("parallel")
    command.append(str(instance_file))
    result = SolverRun(mode, threads, run_measured(build, command, limit_seconds, threads))
    lines = result.run.output.split("\n")
    if result.run.status == "ok":
        try:
            result.cost = int(lines[0])
            result.search_seconds = float(lines[1].split()[1])
        except (ValueError, IndexError):
            result.run.status = "failed"
    return result


@dataclass
class SearchBenchRun:
    """One searchBench run of a file: node counts of a search, or the root
    assignment alone, and the time of reading the file."""

    run: Run
    cost: int = None
    search_seconds: float = None
    cpu_seconds: float = None
    nodes_created: int = None
    nodes_expanded: int = None
    most_open: int = None
    peak_mib: float = None
    read_seconds: float = None


def run_search_bench(build, arguments, limit_seconds, threads=None):
    command = [str(build / "bin" / "searchBench")] + arguments
    result = SearchBenchRun(run_measured(build, command, limit_seconds, threads))
    for line in result.run.output.split("\n"):
        words = line.replace(",", " ").split()
        if words[:1] == ["run"] and len(words) == 10:
            result.cost = int(words[3])
            result.search_seconds = float(words[4])
            result.cpu_seconds = float(words[5])
            result.nodes_created, result.nodes_expanded, result.most_open = map(int, words[6:9])
            result.peak_mib = float(words[9])
        elif words[:2] == ["#", "read+parse"]:
            result.read_seconds = float(words[2])
            result.search_seconds = float(words[5])
    if result.run.status == "ok" and result.cost is None:
        result.run.status = "failed"
    return result


# ---------------------------------------------------------------------------
# Random instances


@dataclass
class InstanceResult:
    n: int
    seed: int
    solver_runs: list = field(default_factory=list)
    nodes: SearchBenchRun = None
    root: SearchBenchRun = None  # of the file: one root solve, and reading the file
    baseline: SearchBenchRun = None  # of (n, seed) in memory, as `nodes`: graph and one root solve
    parallel_nodes: SearchBenchRun = None  # the parallel search on 2 threads (first two seeds)
    agreed_cost: int = None
    costs_disagree: bool = False

    def solver_run(self, mode, threads):
        for run in self.solver_runs:
            if run.mode == mode and run.threads == threads:
                return run
        return None

    def seconds(self, mode, threads):
        run = self.solver_run(mode, threads)
        return run.search_seconds if run is not None else None

    def serial_timed_out(self):
        return self.solver_run("serial", 1).run.status != "ok"


def check_costs(result):
    """Every finished run of one instance must agree on the cost."""
    costs = {run.cost for run in result.solver_runs if run.cost is not None}
    for bench in (result.nodes, result.parallel_nodes):
        if bench is not None and bench.cost is not None:
            costs.add(bench.cost)
    result.costs_disagree = len(costs) > 1
    result.agreed_cost = costs.pop() if len(costs) == 1 else None
    if result.costs_disagree:
        print(f"!!! COST MISMATCH on n={result.n} seed={result.seed}: {sorted(costs)}", flush=True)


def solve_instance(build, settings, n, seed, with_one_thread, with_four_threads, folder):
    """All runs of one seeded instance. The serial run comes first: when it
    times out the instance is given up (the others could only time out too)."""
    instance_file = folder / f"random-{n}-{seed}.txt"
    writer = run_search_bench(build, ["--sizes", str(n), "--seeds", str(seed), "--write", str(instance_file)], 120)
    if writer.run.status == "failed" and "wrote" not in writer.run.output:
        raise SystemExit(f"searchBench could not write {instance_file}: {writer.run.output}")
    result = InstanceResult(n, seed)
    result.solver_runs.append(run_solver(build, instance_file, "serial", 1, settings.serial_limit))
    if not result.serial_timed_out():
        result.solver_runs.append(run_solver(build, instance_file, "parallel", 2, settings.parallel_limit))
        if with_one_thread:
            result.solver_runs.append(run_solver(build, instance_file, "parallel", 1, settings.one_thread_limit))
        if with_four_threads:
            result.solver_runs.append(run_solver(build, instance_file, "parallel", 4, settings.parallel_limit))
        serial_seconds = result.seconds("serial", 1)
        result.nodes = run_search_bench(
            build, ["--mode", "serial", "--sizes", str(n), "--seeds", str(seed)], 2 * serial_seconds + 30
        )
        if with_one_thread:
            result.parallel_nodes = run_search_bench(
                build,
                ["--mode", "parallel", "--threads", "2", "--sizes", str(n), "--seeds", str(seed)],
                2 * serial_seconds + 30,
            )
    result.root = run_search_bench(build, ["--mode", "root", "--file", str(instance_file)], 120)
    result.baseline = run_search_bench(build, ["--mode", "root", "--sizes", str(n), "--seeds", str(seed)], 120)
    instance_file.unlink()
    check_costs(result)
    print(describe_instance(result), flush=True)
    return result


def describe_instance(result):
    parts = [f"n={result.n:5d} seed={result.seed}"]
    for run in result.solver_runs:
        label = "serial" if run.mode == "serial" else f"par{run.threads}"
        if run.search_seconds is not None:
            parts.append(f"{label} {run.search_seconds:8.3f}s {run.run.peak_mib:8.1f}MiB")
        else:
            parts.append(f"{label} {run.run.status}")
    if result.nodes is not None and result.nodes.nodes_created is not None:
        parts.append(f"nodes {result.nodes.nodes_created} open<={result.nodes.most_open}")
    parts.append(f"cost {result.agreed_cost}" + (" MISMATCH" if result.costs_disagree else ""))
    return "  ".join(parts)


def median_or_none(values):
    values = [value for value in values if value is not None]
    return statistics.median(values) if values else None


def serial_median_with_timeouts(results, limit):
    """Median serial time of a size, a timed-out seed counting as above the limit."""
    return statistics.median(
        [math.inf if result.serial_timed_out() else result.seconds("serial", 1) for result in results]
    )


def climb_ladder(build, settings, folder, started, after_size):
    """Runs the sizes in order, calling after_size(results) after each; returns
    the results and why climbing stopped."""
    results = []
    size_costs = []  # (n, seconds the size took)
    ladder_budget = settings.budget_seconds - settings.tsplib_reserve_seconds
    for n in settings.sizes:
        if size_costs:
            last_n, last_cost = size_costs[-1]
            # Search time grew like about n^2.3 on this machine; n^3 keeps a margin.
            estimate = last_cost * (n / last_n) ** 3
            remaining = ladder_budget - (time.monotonic() - started)
            if estimate > remaining:
                return results, (
                    f"time budget: the next size, n = {n}, was estimated at {estimate / 60:.0f} min "
                    f"with {max(remaining, 0) / 60:.0f} min of the ladder's budget left"
                )
        size_start = time.monotonic()
        size_results = []
        for index, seed in enumerate(settings.seeds):
            result = solve_instance(build, settings, n, seed, index < 2, index == 0, folder)
            size_results.append(result)
            if result.serial_timed_out():
                break
        results.extend(size_results)
        after_size(results)
        size_costs.append((n, time.monotonic() - size_start))
        unsolved = [result for result in size_results if result.serial_timed_out()]
        if unsolved:
            status = unsolved[0].solver_run("serial", 1).run.status
            if status == "timeout":
                return results, f"a serial run at n = {n} exceeded the {settings.serial_limit:g} s limit"
            return results, f"a serial run at n = {n} failed ({status})"
        if serial_median_with_timeouts(size_results, settings.serial_limit) > settings.serial_limit:
            return results, f"the median serial search time at n = {n} exceeded {settings.serial_limit:g} s"
    return results, "the end of the size ladder was reached"


# ---------------------------------------------------------------------------
# TSPLIB instances


@dataclass
class TsplibResult:
    name: str
    n: int
    optimum: int
    serial: SolverRun
    parallel: SolverRun
    nodes: SearchBenchRun = None
    verdict: str = ""
    wrong: bool = False


def run_tsplib(build, settings, tsplib_folder, after_instance):
    optima_file = tsplib_folder / "optima.tsv"
    if not optima_file.is_file():
        return None
    results = []
    with optima_file.open() as optima:
        rows = list(csv.DictReader(optima, delimiter="\t"))
    for row in rows:
        name = row["name"]
        if settings.tsplib_names and name not in settings.tsplib_names:
            continue
        instance_file = tsplib_folder / f"{name}.mat"
        if not instance_file.is_file():
            continue
        serial = run_solver(build, instance_file, "serial", 1, settings.tsplib_limit)
        parallel = run_solver(build, instance_file, "parallel", 2, settings.tsplib_limit)
        result = TsplibResult(name, int(row["n"]), int(row["optimum"]), serial, parallel)
        if serial.cost is not None:
            result.nodes = run_search_bench(build, ["--mode", "serial", "--file", str(instance_file)], 2 * serial.search_seconds + 30)
        judge_tsplib(result)
        print(
            f"{name:8s} n={result.n:4d} serial {serial.cost} ({serial.run.status}) "
            f"parallel {parallel.cost} ({parallel.run.status}) optimum {result.optimum}: {result.verdict}",
            flush=True,
        )
        results.append(result)
        after_instance(results)
    return results


def judge_tsplib(result):
    """A finished run must report exactly the optimum; none may ever be below it."""
    finished = [run for run in (result.serial, result.parallel) if run.cost is not None]
    if result.nodes is not None and result.nodes.cost is not None:
        finished.append(result.nodes)
    below = [run.cost for run in finished if run.cost < result.optimum]
    above = [run.cost for run in finished if run.cost > result.optimum]
    if below:
        result.verdict = f"BELOW THE OPTIMUM: {below}"
        result.wrong = True
    elif above:
        result.verdict = f"NOT OPTIMAL: {above}"
        result.wrong = True
    elif len(finished) == 0:
        result.verdict = "not finished"
    elif result.serial.cost is None or result.parallel.cost is None:
        result.verdict = "optimal where finished"
    else:
        result.verdict = "optimal"
    if result.wrong:
        print(f"!!! TSPLIB {result.name}: {result.verdict} (optimum {result.optimum})", flush=True)


# ---------------------------------------------------------------------------
# Tables

RUN_KINDS = [("serial", 1), ("parallel", 1), ("parallel", 2), ("parallel", 4)]


def kind_label(mode, threads):
    return "serial" if mode == "serial" else f"parallel{threads}"


def text(value, digits=3):
    if value is None:
        return ""
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def write_csv(path, header, rows):
    with path.open("w", newline="") as output:
        writer = csv.writer(output)
        writer.writerow(header)
        writer.writerows(rows)


def write_run_table(path, results):
    """One row per program run of a random instance."""
    rows = []
    for result in results:
        for run in result.solver_runs:
            rows.append(
                [result.n, result.seed, "solver", kind_label(run.mode, run.threads), run.threads, run.run.status,
                 text(run.cost), text(run.search_seconds, 6), text(run.run.wall_seconds), text(run.run.peak_mib, 1),
                 "", "", "", "", ""]
            )
        for label, bench in (("searchBench", result.nodes), ("searchBench-parallel2", result.parallel_nodes),
                             ("searchBench-root-file", result.root), ("searchBench-root", result.baseline)):
            if bench is None:
                continue
            rows.append(
                [result.n, result.seed, label, "parallel2" if bench is result.parallel_nodes else "serial",
                 2 if bench is result.parallel_nodes else 1, bench.run.status, text(bench.cost),
                 text(bench.search_seconds, 6), text(bench.run.wall_seconds), text(bench.peak_mib, 1),
                 text(bench.nodes_created), text(bench.nodes_expanded), text(bench.most_open),
                 text(bench.cpu_seconds, 3), text(bench.read_seconds, 6)]
            )
    write_csv(path, ["n", "seed", "program", "kind", "threads", "status", "cost", "search_s", "wall_s",
                     "peak_mib", "nodes_created", "nodes_expanded", "most_open", "cpu_s", "read_s"], rows)


@dataclass
class SizeSummary:
    n: int
    seeds_run: int
    seeds_solved: int
    median_seconds: dict  # kind label -> median search seconds (None: not run)
    median_peak_mib: dict
    median_speedup: float
    median_nodes_created: float
    median_nodes_expanded: float
    median_most_open: float
    max_most_open: int
    median_root_seconds: float
    median_read_seconds: float
    median_bench_peak_mib: float
    median_root_peak_mib: float
    median_bytes_per_open_node: float


def bytes_per_open_node(result):
    """The search's peak beyond that of the graph and one root assignment,
    shared among the open nodes and the two that one thread holds while
    expanding."""
    if result.nodes is None or result.nodes.most_open is None or result.baseline is None:
        return None
    if result.baseline.peak_mib is None:
        return None
    extra_bytes = (result.nodes.peak_mib - result.baseline.peak_mib) * 1024 * 1024
    return extra_bytes / (result.nodes.most_open + 2)


def speedup(result, threads=2):
    serial, parallel = result.seconds("serial", 1), result.seconds("parallel", threads)
    if serial is None or parallel is None or parallel <= 0:
        return None
    return serial / parallel


def summarize_sizes(results):
    summaries = []
    for n in sorted({result.n for result in results}):
        group = [result for result in results if result.n == n]
        solved = [result for result in group if not result.serial_timed_out()]
        median_seconds, median_peak = {}, {}
        for mode, threads in RUN_KINDS:
            runs = [result.solver_run(mode, threads) for result in group]
            runs = [run for run in runs if run is not None]
            label = kind_label(mode, threads)
            median_seconds[label] = median_or_none([run.search_seconds for run in runs]) if runs else None
            median_peak[label] = median_or_none([run.run.peak_mib for run in runs if run.run.status == "ok"])
        nodes = [result.nodes for result in solved if result.nodes is not None and result.nodes.nodes_created is not None]
        summaries.append(
            SizeSummary(
                n=n,
                seeds_run=len(group),
                seeds_solved=len(solved),
                median_seconds=median_seconds,
                median_peak_mib=median_peak,
                median_speedup=median_or_none([speedup(result) for result in solved]),
                median_nodes_created=median_or_none([bench.nodes_created for bench in nodes]),
                median_nodes_expanded=median_or_none([bench.nodes_expanded for bench in nodes]),
                median_most_open=median_or_none([bench.most_open for bench in nodes]),
                max_most_open=max([bench.most_open for bench in nodes], default=None),
                median_root_seconds=median_or_none([result.root.search_seconds for result in group if result.root]),
                median_read_seconds=median_or_none([result.root.read_seconds for result in group if result.root]),
                median_bench_peak_mib=median_or_none([bench.peak_mib for bench in nodes]),
                median_root_peak_mib=median_or_none(
                    [result.baseline.peak_mib for result in group if result.baseline]
                ),
                median_bytes_per_open_node=median_or_none([bytes_per_open_node(result) for result in solved]),
            )
        )
    return summaries


def nan(value, digits=6):
    return "NaN" if value is None else text(float(value), digits)


def write_size_table(path, summaries):
    header = ["n", "seeds_run", "seeds_solved"]
    header += [f"median_{kind_label(m, t)}_s" for m, t in RUN_KINDS]
    header += [f"median_{kind_label(m, t)}_peak_mib" for m, t in RUN_KINDS]
    header += ["median_speedup2", "median_nodes_created", "median_nodes_expanded", "median_most_open",
               "max_most_open", "median_root_assignment_s", "median_read_s", "median_bytes_per_open_node",
               "model_bytes_per_node"]
    rows = []
    for summary in summaries:
        row = [summary.n, summary.seeds_run, summary.seeds_solved]
        row += [nan(summary.median_seconds[kind_label(m, t)]) for m, t in RUN_KINDS]
        row += [nan(summary.median_peak_mib[kind_label(m, t)], 1) for m, t in RUN_KINDS]
        row += [nan(summary.median_speedup, 3), nan(summary.median_nodes_created, 1),
                nan(summary.median_nodes_expanded, 1), nan(summary.median_most_open, 1),
                nan(summary.max_most_open, 0), nan(summary.median_root_seconds), nan(summary.median_read_seconds),
                nan(summary.median_bytes_per_open_node, 0), nan(node_model_bytes(summary.n), 0)]
        rows.append(row)
    write_csv(path, header, rows)


def write_speedup_points(path, results):
    rows = []
    for result in results:
        for threads in (1, 2, 4):
            value = speedup(result, threads)
            if value is not None:
                rows.append([result.n, result.seed, threads, text(result.seconds("serial", 1), 6), text(value, 3)])
    write_csv(path, ["n", "seed", "threads", "serial_s", "speedup"], rows)


def write_tsplib_table(path, results):
    rows = []
    for result in results:
        rows.append(
            [result.name, result.n, result.optimum,
             result.serial.run.status, text(result.serial.cost), text(result.serial.search_seconds, 6),
             text(result.serial.run.peak_mib, 1),
             result.parallel.run.status, text(result.parallel.cost), text(result.parallel.search_seconds, 6),
             text(result.parallel.run.peak_mib, 1),
             text(result.nodes.nodes_created if result.nodes else None),
             text(result.nodes.most_open if result.nodes else None), result.verdict]
        )
    write_csv(path, ["name", "n", "optimum", "serial_status", "serial_cost", "serial_s", "serial_peak_mib",
                     "parallel2_status", "parallel2_cost", "parallel2_s", "parallel2_peak_mib", "nodes_created",
                     "most_open", "verdict"], rows)


# ---------------------------------------------------------------------------
# Memory model


def node_model_bytes(n):
    """A node's copy of its remaining arcs: n(n-1) arcs of a 2-byte head and a
    4-byte cost. Its assignment problem adds O(n), negligible here."""
    return n * (n - 1) * 6


def fit_power_law(points):
    """Least squares of log y = log a + b log x; None with fewer than two points."""
    points = [(x, y) for x, y in points if x > 0 and y is not None and y > 0]
    if len(points) < 2:
        return None
    xs = [math.log(x) for x, _ in points]
    ys = [math.log(y) for _, y in points]
    mean_x, mean_y = statistics.fmean(xs), statistics.fmean(ys)
    spread = sum((x - mean_x) ** 2 for x in xs)
    if spread == 0:
        return None
    slope = sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys)) / spread
    return math.exp(mean_y - slope * mean_x), slope


def largest_n_in_memory(most_open_fit, bytes_factor, limit_bytes=MACHINE_MEMORY_BYTES):
    """The largest n whose graph plus (open nodes + 2) node copies fit, with the
    open-node count from the fit and each node `bytes_factor` times the model."""
    if most_open_fit is None:
        return None
    scale, exponent = most_open_fit
    n = 100
    while n < 65535:
        open_nodes = scale * n**exponent
        needed = node_model_bytes(n) * (1 + bytes_factor * (open_nodes + 2))
        if needed > limit_bytes:
            return n - 10
        n += 10
    return 65535


# ---------------------------------------------------------------------------
# Plots


def gnuplot_available():
    return shutil.which("gnuplot") is not None


def draw(plot_folder, name, script):
    """Runs one gnuplot script in the plot folder, writing NAME.png."""
    preamble = (
        'set terminal pngcairo size 900,600 font "DejaVu Sans,11"\n'
        f'set output "{name}.png"\n'
        'set datafile separator ","\n'
        'set datafile missing "NaN"\n'
        "set grid\n"
        "set key below\n"
        'set format y "%g"\n'
        "set logscale x\n"
        "set xtics (50, 100, 200, 400, 800, 1500, 3000, 6000)\n"
        "set autoscale xfix\n"
        "set offsets graph 0.03, graph 0.03, 0, 0\n"
    )
    completed = subprocess.run(["gnuplot"], input=preamble + script, text=True, cwd=plot_folder,
                               capture_output=True)
    if completed.returncode != 0:
        print(f"gnuplot failed on {name}: {completed.stderr}", flush=True)


def draw_plots(plot_folder, serial_limit):
    sizes = "sizes.csv"
    draw(plot_folder, "search-time", f"""
set title "Search time on random instances (median of seeds)"
set xlabel "cities n"
set ylabel "seconds"
set logscale y
plot "{sizes}" every ::1 using 1:4 with linespoints lw 2 title "solver (serial)", \\
     "{sizes}" every ::1 using 1:6 with linespoints lw 2 title "solver parallel, 2 threads", \\
     "{sizes}" every ::1 using 1:5 with linespoints title "solver parallel, 1 thread (first two seeds)", \\
     "{sizes}" every ::1 using 1:7 with points pt 7 title "solver parallel, 4 threads (first seed)", \\
     "{sizes}" every ::1 using 1:17 with linespoints dt 2 title "root assignment from scratch", \\
     "{sizes}" every ::1 using 1:18 with linespoints dt 3 title "reading the file", \\
     "{sizes}" every ::1 using 1:({serial_limit}) with lines lc rgb "red" dt 4 title "limit {serial_limit:.0f} s"
""")
    draw(plot_folder, "speedup", """
set title "Speedup of the parallel search over the serial search"
set xlabel "cities n"
set ylabel "serial time / parallel time"
set yrange [0:*]
plot "speedup.csv" every ::1 using ($3==2 ? $1 : NaN):5 with points pt 7 ps 0.8 title "2 threads, each instance", \\
     "speedup.csv" every ::1 using ($3==1 ? $1 : NaN):5 with points pt 4 ps 0.8 title "1 thread (first two seeds)", \\
     "speedup.csv" every ::1 using ($3==4 ? $1 : NaN):5 with points pt 6 ps 1.0 title "4 threads on 2 cores", \\
     "sizes.csv" every ::1 using 1:12 with lines lw 2 title "2 threads, median", \\
     "sizes.csv" every ::1 using 1:(1.7) with lines lc rgb "red" dt 4 title "target 1.7"
""")
    draw(plot_folder, "memory", """
set title "Peak resident memory (median of seeds)"
set xlabel "cities n"
set ylabel "MiB"
set logscale y
plot "sizes.csv" every ::1 using 1:8 with linespoints lw 2 title "solver (serial)", \\
     "sizes.csv" every ::1 using 1:10 with linespoints lw 2 title "solver parallel, 2 threads", \\
     "sizes.csv" every ::1 using 1:(($15+3)*$20/1048576) with lines dt 2 title "model: graph + (most open + 2) x n(n-1) x 6 B", \\
     "sizes.csv" every ::1 using 1:($20/1048576) with lines dt 3 title "one node's arcs: n(n-1) x 6 B"
""")
    draw(plot_folder, "nodes", """
set title "Search-tree nodes of the serial search (median of seeds)"
set xlabel "cities n"
set ylabel "nodes"
set logscale y
plot "sizes.csv" every ::1 using 1:13 with linespoints lw 2 title "created", \\
     "sizes.csv" every ::1 using 1:14 with linespoints lw 2 title "expanded", \\
     "sizes.csv" every ::1 using 1:15 with linespoints lw 2 title "most open at once"
""")


# ---------------------------------------------------------------------------
# The write-up


def build_source_description(build):
    """Which code the measured programs were built from: the commit of the
    build's source tree, and whether that tree had changes of its own to the
    searched code. A source tree without git (an exported commit) may name its
    commit in a file COMMIT."""
    source = None
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_HOME_DIRECTORY:"):
                source = Path(line.split("=", 1)[1])
    if source is None:
        return "unknown source"
    if (source / "COMMIT").is_file():
        return f"commit {(source / 'COMMIT').read_text().strip()} (an export of it, no other changes)"
    try:
        commit = subprocess.run(["git", "-C", str(source), "rev-parse", "--short", "HEAD"], capture_output=True,
                                text=True).stdout.strip()
        changes = subprocess.run(["git", "-C", str(source), "status", "--porcelain", "--", "solver",
                                  "AssignmentProblem"], capture_output=True, text=True).stdout.strip()
    except OSError:
        return f"{source}"
    if not commit:
        return f"{source}"
    return f"commit {commit}" + (" with uncommitted changes to the solver's sources" if changes else "")


def machine_description(build):
    model = "unknown"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memory_kib = 0
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemTotal"):
                memory_kib = int(line.split()[1])
    compiler = "unknown"
    cache = build / "CMakeCache.txt"
    compiler_path = "c++"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_CXX_COMPILER:"):
                compiler_path = line.split("=", 1)[1]
    try:
        compiler = subprocess.run([compiler_path, "--version"], capture_output=True, text=True).stdout.split("\n")[0]
    except OSError:
        pass
    return [
        f"- Programs: {build_source_description(build)}",
        f"- Processor: {model}, {os.cpu_count()} logical cores",
        f"- Memory: {memory_kib / 1024 / 1024:.1f} GiB",
        f"- System: {platform.system()} {platform.release()}, Python {platform.python_version()}",
        f"- Compiler: {compiler}, CMake Release build (-O3)",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
    ]


def cell(value, digits=3):
    if value is None:
        return "-"
    if isinstance(value, float) and value == int(value) and digits == 0:
        return str(int(value))
    return f"{value:.{digits}f}" if isinstance(value, float) else str(value)


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines


def largest_solved(summaries, label, limit):
    solved = [summary.n for summary in summaries
              if summary.median_seconds[label] is not None and summary.seeds_solved == summary.seeds_run
              and summary.median_seconds[label] <= limit]
    return max(solved, default=None)


def write_report(path, build, settings, quick, results, stop_reason, summaries, tsplib, tsplib_folder,
                 elapsed_seconds, incomplete):
    lines = ["# Benchmarks", ""]
    if incomplete:
        lines += [f"**Incomplete**: written while the run was in progress, {incomplete}. If this note is still here,",
                  "the run was stopped before it finished and everything after that point is missing.", ""]
    lines += [
        "Written by `make bench` (`bench/runBenchmarks.py`); the tables behind it are the CSV files in",
        "[benchmarks/](benchmarks/). Times are the solver's own report (the search alone, from the",
        "built root to the answer); peak memory is the resident high-water mark of the `solver`",
        "process (the graph included; the solver parses a cost-matrix file as it reads it and never",
        "holds its text).",
        "",
    ]
    if quick:
        lines += ["**Quick mode**: small sizes, one seed and short limits; a smoke test, not a measurement.", ""]
    lines += ["## Machine", ""] + machine_description(build) + [
        f"- Run: {elapsed_seconds / 60:.1f} min; load average (1 min) {LOAD_AT_START:.2f} at the start, "
        f"{os.getloadavg()[0]:.2f} at the end",
        "",
    ]
    lines += [
        "## Method",
        "",
        f"- Random instances of the generator's distribution (costs 0..1000000, -1 on the diagonal, its file",
        f"  layout), written by `searchBench --write` from std::mt19937_64 seeded by (n, seed): seeds "
        f"{', '.join(map(str, settings.seeds))} at each size.",
        f"- Each instance: `solver` (limit {settings.serial_limit:.0f} s), `solver parallel` with "
        f"OMP_NUM_THREADS=2 (limit {settings.parallel_limit:.0f} s); with 1 thread (limit "
        f"{settings.one_thread_limit:.0f} s) on the first two seeds of each size",
        "  and with 4 threads (oversubscribing the 2 cores) on the first seed only, to keep the run within its budget.",
        "  Then `searchBench --mode serial` on the same (n, seed) for the node counts and the search's own peak, and",
        "  `searchBench --mode root` on the file for one assignment solve from scratch and the time of reading and",
        "  parsing the file, and on (n, seed) in memory for the peak of the graph and one root solve.",
        "  An instance whose serial run times out is given up at once.",
        f"- Sizes climbed {', '.join(map(str, settings.sizes))}; climbing stopped because {stop_reason}.",
        "- Every finished run of an instance reported the same cost"
        + ("." if not any(result.costs_disagree for result in results) else " **EXCEPT THOSE MARKED MISMATCH BELOW**."),
        "",
    ]
    mismatches = [result for result in results if result.costs_disagree]
    if mismatches:
        lines += ["**COST MISMATCH** between runs of one instance:", ""]
        for result in mismatches:
            lines.append(f"- n = {result.n}, seed {result.seed}: " + ", ".join(
                f"{kind_label(run.mode, run.threads)} {run.cost}" for run in result.solver_runs))
        lines.append("")

    lines += ["## Random instances", "", "Medians over the seeds of each size (search seconds from the solver's report).", ""]
    rows = []
    for s in summaries:
        rows.append([
            str(s.n), f"{s.seeds_solved}/{s.seeds_run}",
            cell(s.median_seconds["serial"]), cell(s.median_seconds["parallel2"]), cell(s.median_seconds["parallel1"]),
            cell(s.median_seconds["parallel4"]), cell(s.median_speedup, 2),
            cell(s.median_peak_mib["serial"], 0), cell(s.median_peak_mib["parallel2"], 0),
            cell(s.median_nodes_created, 0), cell(s.median_nodes_expanded, 0), cell(s.median_most_open, 0),
            cell(s.median_root_seconds, 4), cell(s.median_read_seconds, 4),
        ])
    lines += markdown_table(
        ["n", "solved", "serial s", "par 2 s", "par 1 s", "par 4 s", "speedup 2", "serial MiB", "par 2 MiB",
         "nodes created", "expanded", "most open", "root AP s", "read s"], rows)
    lines += ["", "![search time](benchmarks/search-time.png)", "", "![nodes](benchmarks/nodes.png)", ""]

    serial_largest = largest_solved(summaries, "serial", settings.serial_limit)
    parallel_largest = largest_solved(summaries, "parallel2", settings.serial_limit)
    lines += ["## Largest instance solved within 60 s", ""]
    lines += [
        f"- Serial: n = {cell(serial_largest)} (median of the seeds at that size within "
        f"{settings.serial_limit:.0f} s, every seed solved).",
        f"- Parallel, 2 threads: n = {cell(parallel_largest)} among the sizes run. Sizes are only climbed while the",
        "  serial search keeps within the limit, so a larger n may fit the parallel search; see the times above",
        "  for how far below the limit it stays.",
        "",
    ]

    lines += speedup_section(results, settings)
    lines += memory_section(summaries)
    lines += limit_section(summaries)
    lines += tsplib_section(tsplib, tsplib_folder, settings)
    lines += ["## Files", "",
              "- `benchmarks/runs.csv`: every program run of a random instance.",
              "- `benchmarks/sizes.csv`: the medians per size (the table and plots above).",
              "- `benchmarks/speedup.csv`: the speedup of each instance.",
              "- `benchmarks/tsplib.csv`: the TSPLIB runs.",
              ""]
    path.write_text("\n".join(lines))


def speedup_section(results, settings):
    threshold = settings.speedup_min_serial_seconds
    eligible = [result for result in results
                if not result.serial_timed_out() and result.seconds("serial", 1) >= threshold
                and speedup(result) is not None]
    values = [speedup(result) for result in eligible]
    lines = ["## Parallel speedup on 2 cores", ""]
    if not values:
        return lines + [f"No instance took the serial search {threshold:g} s or more; no speedup figure.", ""]
    median = statistics.median(values)
    verdict = "meets" if median >= 1.7 else "falls short of"
    lines += [
        f"Median speedup of `solver parallel` on 2 threads over `solver`, over the {len(values)} instances whose "
        f"serial search took at least {threshold:g} s: **{median:.2f}** (range {min(values):.2f} to {max(values):.2f}); this "
        f"{verdict} the target of 1.7.",
        "",
    ]
    one_thread = [value for value in (speedup(result, 1) for result in eligible) if value is not None]
    four = [value for value in (speedup(result, 4) for result in eligible) if value is not None]
    if one_thread:
        lines += [f"- On a team of one thread the parallel search runs at {statistics.median(one_thread):.2f} times "
                  "the serial speed (median): the cost of its locks and hand-off pool, and its different order.", ""]
    if four:
        lines += [f"- With 4 threads on the 2 cores: {statistics.median(four):.2f} times serial (median of "
                  f"{len(four)} instances).", ""]
    measured = [result for result in eligible if result.parallel_nodes is not None
                and result.parallel_nodes.nodes_created is not None and result.nodes is not None
                and result.nodes.nodes_created]
    if measured:
        node_ratio = statistics.median(
            [result.parallel_nodes.nodes_created / result.nodes.nodes_created for result in measured])
        busy = statistics.median(
            [result.parallel_nodes.cpu_seconds / result.parallel_nodes.search_seconds for result in measured
             if result.parallel_nodes.search_seconds])
        serial_busy = statistics.median(
            [result.nodes.cpu_seconds / result.nodes.search_seconds for result in measured
             if result.nodes.search_seconds])
        per_node = statistics.median(
            [(result.parallel_nodes.cpu_seconds / result.parallel_nodes.nodes_created)
             / (result.nodes.cpu_seconds / result.nodes.nodes_created) for result in measured
             if result.nodes.cpu_seconds and result.parallel_nodes.nodes_created])
        lines += [
            f"- Where the time goes (`searchBench`, first two seeds of each size, {len(measured)} instances, medians):",
            f"  the parallel search on 2 threads creates {node_ratio:.2f} times the serial search's nodes; it keeps",
            f"  {busy:.2f} cores busy (processor seconds over wall seconds, at most 2) where the serial search keeps",
            f"  {serial_busy:.2f}; and a node costs {per_node:.2f} times the processor time it costs in the serial search.",
            f"  Speedup = (cores busy, parallel / serial) / (node ratio x processor time per node ratio) = "
            f"{busy / serial_busy / (node_ratio * per_node):.2f}.",
            "",
        ]
    lines += ["![speedup](benchmarks/speedup.png)", ""]
    return lines


def memory_section(summaries):
    lines = ["## Peak memory", ""]
    lines += [
        "Every search-tree node holds its own copy of its remaining arcs: about n(n-1) arcs of a 2-byte head and a",
        "4-byte cost, n(n-1) x 6 bytes, plus its assignment problem (O(n)). The peak is therefore about the graph",
        "plus (most open nodes + the two a thread holds while expanding) node copies. Measured bytes per open node:",
        "the peak of the serial search (`searchBench`, graph in memory, no file text) less the peak of the same",
        "process solving the root assignment alone, divided by (most open + 2).",
        "",
    ]
    rows = []
    factors = []
    for s in summaries:
        model = node_model_bytes(s.n)
        ratio = s.median_bytes_per_open_node / model if s.median_bytes_per_open_node and model else None
        if ratio is not None and s.n >= 400:
            factors.append(ratio)
        rows.append([str(s.n), cell(s.median_most_open, 0), cell(s.max_most_open), cell(s.median_bench_peak_mib, 1),
                     cell(s.median_root_peak_mib, 1), cell(s.median_bytes_per_open_node, 0), str(model),
                     cell(ratio, 2)])
    lines += markdown_table(["n", "most open (median)", "most open (max)", "search peak MiB", "root peak MiB",
                             "bytes per open node", "n(n-1) x 6", "measured / model"], rows)
    lines += [""]
    factor = statistics.median(factors) if factors else 1.0
    median_fit = fit_power_law([(s.n, s.median_most_open) for s in summaries if s.n >= 200])
    max_fit = fit_power_law([(s.n, s.max_most_open) for s in summaries if s.n >= 200])
    if median_fit:
        largest_median = largest_n_in_memory(median_fit, factor)
        lines += [
            f"Most open nodes grow like {median_fit[0]:.3g} n^{median_fit[1]:.2f} (median of seeds, fitted over"
            f" n >= 200), and a node measures {factor:.2f} times the model (median for n >= 400). With those,",
            f"the largest n whose search fits in 24 GiB is about **{largest_median}** for a median instance",
        ]
        if max_fit:
            lines[-1] += f" and about {largest_n_in_memory(max_fit, factor)} for the worst seed seen at each size"
        lines[-1] += "."
        lines += [
            "This is an extrapolation: the open-node count varies widely between seeds, and beyond the sizes run it",
            "is a fit, not a measurement. Independent of it, 24 GiB holds "
            f"{MACHINE_MEMORY_BYTES // node_model_bytes(2000)} node copies at n = 2000 and "
            f"{MACHINE_MEMORY_BYTES // node_model_bytes(5000)} at n = 5000.",
            "",
        ]
    ratios = [s.median_peak_mib["parallel2"] / s.median_peak_mib["serial"] for s in summaries
              if s.n >= 400 and s.median_peak_mib["parallel2"] and s.median_peak_mib["serial"]]
    if ratios:
        lines += [
            f"The parallel search on 2 threads peaks at {statistics.median(ratios):.2f} times the serial search's memory",
            "(median over sizes from 400, `solver` runs): its threads hold open nodes in lists of their own and in the",
            "hand-off pool, in a different order, so more nodes are open at once (its most-open count is not",
            "recorded by the parallel search, so this is inferred from the peaks).",
            "",
        ]
    lines += ["![memory](benchmarks/memory.png)", ""]
    return lines


def limit_section(summaries):
    lines = ["## The search against its floor", ""]
    lines += [
        "Any method bounded by assignment problems must at least solve one from scratch at the root, and any",
        "run must read the file. Medians per size, and the search's multiple of each:",
        "",
    ]
    rows = []
    for s in summaries:
        serial = s.median_seconds["serial"]
        root = s.median_root_seconds
        read = s.median_read_seconds
        rows.append([str(s.n), cell(serial), cell(root, 4), cell(read, 4),
                     cell(serial / root if serial and root else None, 0),
                     cell(serial / read if serial and read else None, 1)])
    lines += markdown_table(["n", "serial search s", "root assignment s", "read + parse s", "search / root",
                             "search / read"], rows)
    lines += [
        "",
        "The search costs many root solves: each created node copies its arcs (n(n-1) x 6 bytes) and re-solves",
        "its assignment incrementally, and nodes created grow with n (see the node plot).",
        "",
    ]
    return lines


def tsplib_section(tsplib, tsplib_folder, settings):
    lines = ["## TSPLIB asymmetric instances", ""]
    if tsplib is None:
        return lines + [f"Skipped: no `optima.tsv` in {tsplib_folder}.", ""]
    if not tsplib:
        return lines + ["Not run yet.", ""]
    wrong = [result for result in tsplib if result.wrong]
    lines += [
        f"Serial and parallel (2 threads), {settings.tsplib_limit:.0f} s each; nodes from `searchBench --file` where the",
        "serial run finished. " + ("**WRONG COSTS: " + ", ".join(f"{r.name} ({r.verdict})" for r in wrong) + ".**"
                                   if wrong else "No run reported a cost below the optimum, and every finished run "
                                   "reported exactly the optimum."),
        "",
    ]
    rows = []
    for r in tsplib:
        rows.append([r.name, str(r.n), str(r.optimum),
                     cell(r.serial.cost) if r.serial.cost is not None else r.serial.run.status,
                     cell(r.serial.search_seconds), cell(r.serial.run.peak_mib, 1),
                     cell(r.parallel.cost) if r.parallel.cost is not None else r.parallel.run.status,
                     cell(r.parallel.search_seconds), cell(r.parallel.run.peak_mib, 1),
                     cell(r.nodes.nodes_created if r.nodes else None), r.verdict])
    lines += markdown_table(["name", "n", "optimum", "serial cost", "serial s", "serial MiB", "par 2 cost", "par 2 s",
                             "par 2 MiB", "nodes created", "verdict"], rows)
    lines += [""]
    return lines


# ---------------------------------------------------------------------------


def parse_arguments():
    parser = argparse.ArgumentParser(description="Benchmark suite of the solver.")
    parser.add_argument("--build", default=str(REPOSITORY / "build"), help="build folder holding bin/")
    parser.add_argument("--quick", action="store_true", help="small sizes, one seed, short limits")
    parser.add_argument("--budget-minutes", type=float, help="time budget of the whole run")
    parser.add_argument(
        "--docs", help="where benchmarks.md and benchmarks/ go (default docs/, or BUILD/bench-quick with --quick)"
    )
    parser.add_argument("--tsplib", default=str(REPOSITORY.parent / "shared" / "tsplib"))
    return parser.parse_args()


def main():
    arguments = parse_arguments()
    settings = QUICK if arguments.quick else FULL
    if arguments.budget_minutes is not None:
        settings.budget_seconds = arguments.budget_minutes * 60
    build = Path(arguments.build).resolve()
    if not gnuplot_available():
        print("gnuplot is missing: install the Debian package gnuplot-nox (apt-get install gnuplot-nox).")
        return 2
    for program in ("solver", "searchBench", "peakMemory"):
        if not (build / "bin" / program).is_file():
            print(f"{build / 'bin' / program} is missing: build the Release programs first (make bench does).")
            return 2
    if arguments.docs is not None:
        docs = Path(arguments.docs)
    else:
        # A smoke test must not overwrite the committed measurements.
        docs = build / "bench-quick" if arguments.quick else REPOSITORY / "docs"
    plot_folder = docs / "benchmarks"
    plot_folder.mkdir(parents=True, exist_ok=True)

    global LOAD_AT_START
    LOAD_AT_START = os.getloadavg()[0]
    started = time.monotonic()
    tsplib_folder = Path(arguments.tsplib)

    def write_outputs(results, stop_reason, tsplib, incomplete=""):
        summaries = summarize_sizes(results)
        write_run_table(plot_folder / "runs.csv", results)
        write_size_table(plot_folder / "sizes.csv", summaries)
        write_speedup_points(plot_folder / "speedup.csv", results)
        if tsplib:
            write_tsplib_table(plot_folder / "tsplib.csv", tsplib)
        draw_plots(plot_folder, settings.serial_limit)
        write_report(docs / "benchmarks.md", build, settings, arguments.quick, results, stop_reason, summaries,
                     tsplib, tsplib_folder, time.monotonic() - started, incomplete)

    # Written after every size and every TSPLIB instance, so that a run cut
    # short still leaves what it measured.
    with tempfile.TemporaryDirectory(prefix="atsp-bench-") as folder:
        results, stop_reason = climb_ladder(
            build, settings, Path(folder), started,
            lambda done: write_outputs(done, "the run is still climbing", [], f"after n = {done[-1].n}"))
    print(f"ladder stopped: {stop_reason}", flush=True)
    tsplib = run_tsplib(
        build, settings, tsplib_folder,
        lambda done: write_outputs(results, stop_reason, done, f"after the TSPLIB instance {done[-1].name}"))
    if tsplib is None:
        print(f"TSPLIB skipped: no optima.tsv in {tsplib_folder}", flush=True)
    write_outputs(results, stop_reason, tsplib)
    print(f"wrote {docs / 'benchmarks.md'} and {plot_folder}/ in {(time.monotonic() - started) / 60:.1f} min")

    wrong = any(result.costs_disagree for result in results) or any(result.wrong for result in tsplib or [])
    if wrong:
        print("!!! SOME COSTS DISAGREE: see above and docs/benchmarks.md")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
