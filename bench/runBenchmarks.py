#!/usr/bin/env python3
"""Benchmark suite of the solver: times, memory, node counts and parallel
speedup, written up as CSV tables, gnuplot plots and docs/benchmarks.md.

    python3 bench/runBenchmarks.py [--build DIR] [--quick] [--budget-minutes M]

`make bench` builds the Release programs and runs this. It is a runner: it
measures and writes; everything it says about the machine it reads from the
machine. What it does:

1. Random instances of the generator's distribution (costs 0..1000000, -1 on
   the diagonal, the generator's layout), written by `searchBench --write` from
   a seeded std::mt19937_64, so that (n, seed) always names the same matrix.
   Sizes climb a ladder; climbing stops when a serial `solver` run fails or
   takes more than the limit, when the next size's file and graph would not
   fit in the memory and disk the machine has, or when the time budget ends.
   Each instance: `solver` and `solver parallel` (2 threads) with peak
   resident memory; `searchBench --file` for the node counts, the fraction of
   arcs the search kept, the time of reading and parsing the file and the
   root assignment alone; and, up to a size, the described search (no starting
   tour, no arc elimination, no cutoffs) on the same file.
2. The TSPLIB asymmetric instances (../shared/tsplib beside the repository):
   `solver` and `solver parallel` with a time limit (a stopped run reports its
   best tour and proven bound), the described search, node counts.
3. Parallel speedup on 2 threads and 4 threads (the machine's cores counted,
   not assumed) over the instances the serial search takes 1-60 s on: the
   TSPLIB ones, and random instances of small cost ranges found by a scan.
   On instances no search finishes, the rate of node creation instead.
4. Where the time goes: `perf` profiles of the searches, when perf works here.

The exit status is 1 when any cost disagrees (between runs of one instance, or
with a TSPLIB optimum), 2 when gnuplot or a program is missing, 0 otherwise.
Standard library only; gnuplot (Debian package gnuplot-nox) draws the plots.
"""

import argparse
import csv
import datetime
import os
import platform
import re
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
MIB = 1024 * 1024
LOAD_AT_START = 0.0  # the one-minute load average when the run began


@dataclass
class Settings:
    sizes: list
    seeds: list
    seeds_above: list  # seeds of the sizes above five_seed_limit
    five_seed_limit: int
    solve_limit: float  # seconds; also the "solved within" threshold of the ladder
    described_max_n: int  # the described search runs on random instances up to this size
    described_limit: float
    scratch_root_max_n: int  # the root solved from scratch (as the described search does) up to this size
    tsplib_limit: float  # --time-limit of the fast search on TSPLIB instances
    tsplib_names: list  # empty: every instance in optima.tsv
    small_range_costs: list  # the maximum costs of the small-range scan
    small_range_sizes: list
    small_range_seeds: list
    speedup_window: tuple  # serial seconds of the instances whose speedup counts
    speedup_repeats: int  # runs of each thread count, the fastest counted
    budget_seconds: float  # the whole run
    ladder_share: float  # of the budget, for the random ladder


FULL = Settings(
    sizes=[100, 200, 500, 1000, 1500, 2000, 3000, 5000, 7000, 10000, 12000, 15000, 20000, 25000, 30000, 40000,
           50000, 65535],
    seeds=[1, 2, 3, 4, 5],
    seeds_above=[1],
    five_seed_limit=10000,
    solve_limit=60,
    described_max_n=2000,
    described_limit=60,
    scratch_root_max_n=2000,
    tsplib_limit=120,
    tsplib_names=[],
    small_range_costs=[10, 100, 1000],
    small_range_sizes=[200, 500, 1000, 2000],
    small_range_seeds=[1, 2, 3],
    speedup_window=(1.0, 60.0),
    speedup_repeats=2,
    budget_seconds=80 * 60,
    ladder_share=0.45,
)

QUICK = Settings(
    sizes=[100, 200, 500],
    seeds=[1, 2],
    seeds_above=[1],
    five_seed_limit=500,
    solve_limit=10,
    described_max_n=500,
    described_limit=10,
    scratch_root_max_n=500,
    tsplib_limit=5,
    tsplib_names=["br17", "ftv33", "ftv35", "ry48p", "rbg323"],
    small_range_costs=[10, 100],
    small_range_sizes=[200],
    small_range_seeds=[1],
    speedup_window=(0.2, 10.0),
    speedup_repeats=1,
    budget_seconds=6 * 60,
    ladder_share=0.4,
)


def graph_bytes(n):
    """The graph as the solver holds it: n(n-1) arcs of a 2-byte head and a
    4-byte cost."""
    return 6 * n * (n - 1)


def node_limit_bytes(n):
    """The bound on the memory of one open node that the search is built to."""
    return 16 * n + 256


def meminfo_bytes(field_name):
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith(field_name + ":"):
                return int(line.split()[1]) * 1024
    return 0


# ---------------------------------------------------------------------------
# Running one program


@dataclass
class Run:
    status: str  # "ok", "timeout", "stopped" (at its own time limit) or "failed"
    output: str
    wall_seconds: float
    peak_mib: float  # peak resident memory of the command; None when it was killed
    errors: str = ""  # standard error


def run_measured(build, command, limit_seconds, threads=None, environment_extra=None):
    """Runs `command` under peakMemory in a session of its own and kills the
    whole session at the limit. The peak is peakMemory's report of the
    command; it is missing (None) for a run that was killed."""
    environment = dict(os.environ)
    if threads is not None:
        environment["OMP_NUM_THREADS"] = str(threads)
    environment.update(environment_extra or {})
    output_file = tempfile.TemporaryFile(mode="w+")
    error_file = tempfile.TemporaryFile(mode="w+")
    start = time.monotonic()
    process = subprocess.Popen(
        [str(build / "bin" / "peakMemory")] + command,
        stdout=output_file,
        stderr=error_file,
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
    error_file.seek(0)
    lines = output_file.read().split("\n")
    errors = error_file.read()
    output_file.close()
    error_file.close()
    peak_mib = None
    while lines and lines[-1] == "":
        lines.pop()
    if lines and lines[-1].startswith("peakKiB "):
        peak_mib = int(lines.pop().split()[1]) / 1024.0
    if timed_out:
        run_status = "timeout"
    elif process.returncode == 2 and lines[:1] == ["Stopped at the time limit: not proven optimal"]:
        run_status = "stopped"
    elif process.returncode != 0:
        run_status = "failed"
    else:
        run_status = "ok"
    return Run(run_status, "\n".join(lines), wall_seconds, peak_mib, errors)


@dataclass
class SolverRun:
    """One `solver` run: the report's cost and search time; for a run stopped
    at its time limit, its best tour, bound and last progress line."""

    mode: str  # "serial" or "parallel"
    threads: int
    run: Run
    cost: int = None  # proven optimum
    search_seconds: float = None
    best: int = None  # stopped runs
    bound: int = None
    nodes: int = None  # from the last progress line (runs with --progress)
    progress_seconds: float = None


PROGRESS = re.compile(r"progress: ([0-9.]+) s, ([0-9]+) nodes, ([0-9]+) open, best (-?[0-9]+), bound (-?[0-9]+)")


def run_solver(build, instance_file, mode, threads, limit_seconds, time_limit=None):
    command = [str(build / "bin" / "solver")]
    if mode == "parallel":
        command.append("parallel")
    if time_limit is not None:
        command += ["--time-limit", f"{time_limit:g}", "--progress"]
    command.append(str(instance_file))
    result = SolverRun(mode, threads, run_measured(build, command, limit_seconds, threads))
    lines = result.run.output.split("\n")
    try:
        if result.run.status == "ok":
            result.cost = int(lines[0])
            result.search_seconds = float(lines[1].split()[1])
        elif result.run.status == "stopped":
            result.best = int(lines[1].split()[-1])
            result.bound = int(lines[2].split()[-1])
            result.search_seconds = float(lines[4].split()[1])
    except (ValueError, IndexError):
        result.run.status = "failed"
    progress = PROGRESS.findall(result.run.errors)
    if progress:
        result.progress_seconds = float(progress[-1][0])
        result.nodes = int(progress[-1][1])
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
    kept_percent: float = None
    read_seconds: float = None


def run_search_bench(build, arguments, limit_seconds, threads=None):
    command = [str(build / "bin" / "searchBench")] + arguments
    result = SearchBenchRun(run_measured(build, command, limit_seconds, threads))
    for line in result.run.output.split("\n"):
        words = line.replace(",", " ").split()
        if words[:1] == ["run"] and len(words) == 11:
            result.cost = int(words[3])
            result.search_seconds = float(words[4])
            result.cpu_seconds = float(words[5])
            result.nodes_created, result.nodes_expanded, result.most_open = map(int, words[6:9])
            result.peak_mib = float(words[9])
            result.kept_percent = float(words[10])
        elif words[:2] == ["#", "read+parse"]:
            result.read_seconds = float(words[2])
            result.search_seconds = float(words[5])
    if result.run.status == "ok" and result.cost is None:
        result.run.status = "failed"
    return result


def bench_file(build, mode, instance_file, limit_seconds, threads=None):
    return run_search_bench(build, ["--mode", mode, "--file", str(instance_file)], limit_seconds, threads)


# ---------------------------------------------------------------------------
# Random instances


@dataclass
class InstanceResult:
    n: int
    seed: int
    serial: SolverRun = None
    parallel: SolverRun = None
    fast: SearchBenchRun = None  # the fast search on the file: nodes, kept arcs, read time
    described: SearchBenchRun = None  # the described search on the file
    root_core: SearchBenchRun = None  # the fast search's root alone
    root_scratch: SearchBenchRun = None  # the described search's root alone
    agreed_cost: int = None
    costs_disagree: bool = False

    def solved(self):
        return self.serial is not None and self.serial.cost is not None


def check_costs(result):
    """Every finished run of one instance must agree on the cost."""
    costs = {run.cost for run in (result.serial, result.parallel) if run is not None and run.cost is not None}
    for bench in (result.fast, result.described):
        if bench is not None and bench.cost is not None:
            costs.add(bench.cost)
    result.costs_disagree = len(costs) > 1
    result.agreed_cost = costs.pop() if len(costs) == 1 else None
    if result.costs_disagree:
        print(f"!!! COST MISMATCH on n={result.n} seed={result.seed}: {sorted(costs)}", flush=True)


def write_random_instance(build, folder, n, seed, max_cost=None):
    suffix = f"-{max_cost}" if max_cost is not None else ""
    instance_file = folder / f"random-{n}-{seed}{suffix}.txt"
    arguments = ["--sizes", str(n), "--seeds", str(seed), "--write", str(instance_file)]
    if max_cost is not None:
        arguments += ["--max-cost", str(max_cost)]
    writer = run_search_bench(build, arguments, 3600)
    if "wrote" not in writer.run.output:
        raise SystemExit(f"searchBench could not write {instance_file}: {writer.run.output}")
    return instance_file


def solve_instance(build, settings, n, seed, folder, with_described):
    """All runs of one seeded instance. The serial run comes first: when it
    does not finish the instance is given up (the others could only time out)."""
    instance_file = write_random_instance(build, folder, n, seed)
    result = InstanceResult(n, seed)
    result.serial = run_solver(build, instance_file, "serial", 1, settings.solve_limit)
    if result.solved():
        result.parallel = run_solver(build, instance_file, "parallel", 2, settings.solve_limit)
        result.fast = bench_file(build, "serial", instance_file, 2 * settings.solve_limit + 60)
        result.root_core = bench_file(build, "root-core", instance_file, 2 * settings.solve_limit + 60)
        if n <= settings.scratch_root_max_n:
            result.root_scratch = bench_file(build, "root", instance_file, 2 * settings.solve_limit + 60)
        if with_described:
            result.described = bench_file(build, "described", instance_file, settings.described_limit)
    instance_file.unlink()
    check_costs(result)
    print(describe_instance(result), flush=True)
    return result


def describe_instance(result):
    parts = [f"n={result.n:5d} seed={result.seed}"]
    for label, run in (("serial", result.serial), ("par2", result.parallel)):
        if run is None:
            continue
        if run.search_seconds is not None:
            parts.append(f"{label} {run.search_seconds:8.4f}s {run.run.peak_mib:8.1f}MiB")
        else:
            parts.append(f"{label} {run.run.status}")
    if result.fast is not None and result.fast.nodes_created is not None:
        parts.append(f"nodes {result.fast.nodes_created} kept {result.fast.kept_percent:.2f}%")
        parts.append(f"read {result.fast.read_seconds:.3f}s")
    if result.described is not None:
        described = result.described
        parts.append(f"described {described.search_seconds:.3f}s" if described.cost is not None
                     else f"described {described.run.status}")
    parts.append(f"cost {result.agreed_cost}" + (" MISMATCH" if result.costs_disagree else ""))
    return "  ".join(parts)


def median_or_none(values):
    values = [value for value in values if value is not None]
    return statistics.median(values) if values else None


def room_for(n, folder):
    """Whether the machine can hold the next size: its file on disk, and the
    graph (with the search's margin) in memory."""
    file_bytes = 7.2 * n * n  # values of 0..1000000 average just under 7 characters with their blank
    free_disk = shutil.disk_usage(folder).free
    if file_bytes > 0.8 * free_disk:
        return f"its file, about {file_bytes / 2**30:.1f} GiB, would not fit on the {free_disk / 2**30:.0f} GiB of disk left"
    needed = 1.5 * graph_bytes(n)
    available = meminfo_bytes("MemAvailable")
    if needed > 0.9 * available:
        return (f"its graph with the search's margin, about {needed / 2**30:.1f} GiB, would not fit in the "
                f"{available / 2**30:.1f} GiB of memory available")
    return None


def climb_ladder(build, settings, folder, started, after_size):
    """Runs the sizes in order, calling after_size(results) after each; returns
    the results and why climbing stopped."""
    results = []
    size_costs = []  # (n, seconds the size took, seeds run)
    ladder_budget = settings.budget_seconds * settings.ladder_share
    described_alive = True
    for n in settings.sizes:
        seeds = settings.seeds if n <= settings.five_seed_limit else settings.seeds_above
        if size_costs:
            last_n, last_cost, last_seeds = size_costs[-1]
            # Writing, reading and searching a random instance all grow like
            # n^2 here; n^2.5 keeps a margin.
            estimate = last_cost / last_seeds * len(seeds) * (n / last_n) ** 2.5
            remaining = ladder_budget - (time.monotonic() - started)
            if estimate > remaining:
                return results, (
                    f"the time budget ended it: n = {n} was estimated at {estimate / 60:.1f} min with "
                    f"{max(remaining, 0) / 60:.1f} min of the ladder's budget left"
                )
        no_room = room_for(n, folder)
        if no_room:
            return results, f"the machine ended it: at n = {n}, {no_room}"
        size_start = time.monotonic()
        size_results = []
        for seed in seeds:
            result = solve_instance(build, settings, n, seed, folder,
                                    described_alive and n <= settings.described_max_n)
            size_results.append(result)
            if not result.solved():
                break
        if any(result.described is not None and result.described.cost is None for result in size_results):
            described_alive = False  # a larger size would only time out too
        results.extend(size_results)
        after_size(results)
        size_costs.append((n, time.monotonic() - size_start, len(size_results)))
        unsolved = [result for result in size_results if not result.solved()]
        if unsolved:
            status = unsolved[0].serial.run.status
            if status == "timeout":
                return results, f"a serial run at n = {n} exceeded the {settings.solve_limit:g} s limit"
            return results, f"a serial run at n = {n} failed ({status})"
        if median_or_none([result.serial.search_seconds for result in size_results]) > settings.solve_limit:
            return results, f"the median serial search time at n = {n} exceeded {settings.solve_limit:g} s"
    return results, "the end of the size ladder was reached"


@dataclass
class SizeSummary:
    n: int
    seeds_run: int
    seeds_solved: int
    serial_s: float
    parallel_s: float
    fast_search_s: float  # searchBench's own, to the microsecond
    read_s: float
    root_core_s: float
    root_scratch_s: float
    serial_peak_mib: float
    parallel_peak_mib: float
    nodes_created: float
    kept_percent: float
    described_s: float
    described_ms_per_node: float  # processor time per node created
    described_nodes: float
    described_most_open: float
    described_peak_mib: float
    scratch_root_peak_mib: float
    described_bytes_per_open_node: float
    described_seeds: int


def bytes_per_open_node(search, root):
    """The search's peak beyond that of the same process solving the root
    alone, shared among its most open nodes and the two a thread holds while
    expanding."""
    if search is None or root is None or search.most_open is None or root.peak_mib is None:
        return None
    return (search.peak_mib - root.peak_mib) * MIB / (search.most_open + 2)


def summarize_sizes(results):
    summaries = []
    for n in sorted({result.n for result in results}):
        group = [result for result in results if result.n == n]
        solved = [result for result in group if result.solved()]
        described = [result for result in solved if result.described is not None and result.described.cost is not None]

        def median_of(pick, among=solved):
            return median_or_none([pick(result) for result in among])

        summaries.append(SizeSummary(
            n=n,
            seeds_run=len(group),
            seeds_solved=len(solved),
            serial_s=median_of(lambda r: r.serial.search_seconds),
            parallel_s=median_of(lambda r: r.parallel.search_seconds if r.parallel else None),
            fast_search_s=median_of(lambda r: r.fast.search_seconds if r.fast else None),
            read_s=median_of(lambda r: r.fast.read_seconds if r.fast else None),
            root_core_s=median_of(lambda r: r.root_core.search_seconds if r.root_core else None),
            root_scratch_s=median_of(lambda r: r.root_scratch.search_seconds if r.root_scratch else None),
            serial_peak_mib=median_of(lambda r: r.serial.run.peak_mib),
            parallel_peak_mib=median_of(lambda r: r.parallel.run.peak_mib if r.parallel else None),
            nodes_created=median_of(lambda r: r.fast.nodes_created if r.fast else None),
            kept_percent=median_of(lambda r: r.fast.kept_percent if r.fast else None),
            described_s=median_of(lambda r: r.described.search_seconds, described),
            described_ms_per_node=median_of(
                lambda r: 1000 * r.described.cpu_seconds / max(1, r.described.nodes_created), described),
            described_nodes=median_of(lambda r: r.described.nodes_created, described),
            described_most_open=median_of(lambda r: r.described.most_open, described),
            described_peak_mib=median_of(lambda r: r.described.peak_mib, described),
            scratch_root_peak_mib=median_of(lambda r: r.root_scratch.peak_mib if r.root_scratch else None, described),
            described_bytes_per_open_node=median_of(lambda r: bytes_per_open_node(r.described, r.root_scratch),
                                                    described),
            described_seeds=len(described),
        ))
    return summaries


# ---------------------------------------------------------------------------
# TSPLIB instances


@dataclass
class TsplibResult:
    name: str
    n: int
    optimum: int
    serial: SolverRun
    parallel: SolverRun
    fast: SearchBenchRun = None
    described: SearchBenchRun = None
    root_scratch: SearchBenchRun = None
    verdict: str = ""
    wrong: bool = False


def tsplib_rows(settings, tsplib_folder):
    optima_file = tsplib_folder / "optima.tsv"
    if not optima_file.is_file():
        return None
    with optima_file.open() as optima:
        rows = list(csv.DictReader(optima, delimiter="\t"))
    return [row for row in rows
            if (not settings.tsplib_names or row["name"] in settings.tsplib_names)
            and (tsplib_folder / f"{row['name']}.mat").is_file()]


def run_tsplib(build, settings, tsplib_folder, after_instance):
    rows = tsplib_rows(settings, tsplib_folder)
    if rows is None:
        return None
    results = []
    kill_after = settings.tsplib_limit + 60
    for row in rows:
        name = row["name"]
        instance_file = tsplib_folder / f"{name}.mat"
        serial = run_solver(build, instance_file, "serial", 1, kill_after, settings.tsplib_limit)
        parallel = run_solver(build, instance_file, "parallel", 2, kill_after, settings.tsplib_limit)
        result = TsplibResult(name, int(row["n"]), int(row["optimum"]), serial, parallel)
        if serial.cost is not None:
            result.fast = bench_file(build, "serial", instance_file, 2 * serial.search_seconds + 30)
        result.described = bench_file(build, "described", instance_file, settings.described_limit)
        result.root_scratch = bench_file(build, "root", instance_file, 60)
        judge_tsplib(result)
        print(
            f"{name:8s} n={result.n:4d} serial {serial.cost or serial.best} ({serial.run.status}, "
            f"{serial.search_seconds}) parallel {parallel.cost or parallel.best} ({parallel.run.status}, "
            f"{parallel.search_seconds}) described {result.described.cost} ({result.described.run.status}) "
            f"optimum {result.optimum}: {result.verdict}",
            flush=True,
        )
        results.append(result)
        after_instance(results)
    return results


def judge_tsplib(result):
    """A finished run must report exactly the optimum; none may ever be below
    it, and a stopped run's bound may never be above it."""
    finished = [run.cost for run in (result.serial, result.parallel) if run.cost is not None]
    finished += [bench.cost for bench in (result.fast, result.described) if bench is not None and bench.cost is not None]
    best = [run.best for run in (result.serial, result.parallel) if run.best is not None]
    bounds = [run.bound for run in (result.serial, result.parallel) if run.bound is not None]
    below = [cost for cost in finished + best if cost < result.optimum]
    above = [cost for cost in finished if cost > result.optimum]
    bad_bounds = [bound for bound in bounds if bound > result.optimum]
    if below or above or bad_bounds:
        result.verdict = (f"WRONG: below the optimum {below}, finished above it {above}, "
                          f"bounds above it {bad_bounds}")
        result.wrong = True
        print(f"!!! TSPLIB {result.name}: {result.verdict} (optimum {result.optimum})", flush=True)
    elif result.serial.cost is not None and result.parallel.cost is not None:
        result.verdict = "optimal"
    elif finished:
        result.verdict = "optimal where finished"
    else:
        result.verdict = "not finished; bounds hold"


# ---------------------------------------------------------------------------
# Parallel speedup


@dataclass
class SpeedupCase:
    name: str  # a TSPLIB name or "random n=... seed=... costs 0..C"
    serial_s: float
    parallel2_s: float
    parallel4_s: float
    serial_peak_mib: float
    parallel2_peak_mib: float
    costs: set = field(default_factory=set)

    def speedup(self, parallel_seconds):
        return self.serial_s / parallel_seconds if parallel_seconds else None


def scan_small_ranges(build, settings):
    """Random instances of small cost ranges, searched serially in memory:
    those taking 1-60 s join the speedup set."""
    scanned = []
    for max_cost in settings.small_range_costs:
        for n in settings.small_range_sizes:
            bench = run_search_bench(
                build, ["--mode", "serial", "--sizes", str(n), "--max-cost", str(max_cost), "--seeds",
                        ",".join(map(str, settings.small_range_seeds))], 5 * settings.speedup_window[1] + 60)
            for line in bench.run.output.split("\n"):
                words = line.split()
                if words[:1] == ["run"] and len(words) == 11:
                    scanned.append((n, int(words[2]), max_cost, float(words[4]), int(words[6])))
    print(f"small-range scan: {len(scanned)} instances, serial search "
          f"{min((s for *_, s, _ in scanned), default=0):.3f}-{max((s for *_, s, _ in scanned), default=0):.3f} s",
          flush=True)
    return scanned


def best_of(build, instance_file, mode, threads, repeats, limit):
    runs = [run_solver(build, instance_file, mode, threads, limit) for _ in range(repeats)]
    finished = [run for run in runs if run.cost is not None]
    if not finished:
        return None
    return min(finished, key=lambda run: run.search_seconds)


def measure_speedup(build, settings, name, instance_file):
    limit = settings.speedup_window[1] + 30
    serial = best_of(build, instance_file, "serial", 1, settings.speedup_repeats, limit)
    parallel2 = best_of(build, instance_file, "parallel", 2, settings.speedup_repeats, limit)
    parallel4 = best_of(build, instance_file, "parallel", 4, 1, limit)
    if serial is None or parallel2 is None:
        return None
    case = SpeedupCase(name, serial.search_seconds, parallel2.search_seconds,
                       parallel4.search_seconds if parallel4 else None, serial.run.peak_mib, parallel2.run.peak_mib)
    case.costs = {run.cost for run in (serial, parallel2, parallel4) if run is not None}
    if len(case.costs) > 1:
        print(f"!!! COST MISMATCH in the speedup runs of {name}: {sorted(case.costs)}", flush=True)
    print(f"speedup {name}: serial {case.serial_s:.3f} s, 2 threads {case.parallel2_s:.3f} s "
          f"({case.speedup(case.parallel2_s):.2f}), 4 threads {case.parallel4_s} s", flush=True)
    return case


def run_speedups(build, settings, tsplib, tsplib_folder, scanned, folder):
    low, high = settings.speedup_window
    cases = []
    for result in tsplib or []:
        if result.serial.cost is not None and low <= result.serial.search_seconds <= high:
            case = measure_speedup(build, settings, result.name, tsplib_folder / f"{result.name}.mat")
            if case:
                cases.append(case)
    for n, seed, max_cost, seconds, _ in scanned:
        if low <= seconds <= high:
            instance_file = write_random_instance(build, folder, n, seed, max_cost)
            case = measure_speedup(build, settings, f"random n={n} seed={seed} costs 0..{max_cost}", instance_file)
            instance_file.unlink()
            if case:
                cases.append(case)
    return cases


# ---------------------------------------------------------------------------
# Profiles


def perf_works():
    if shutil.which("perf") is None:
        return False
    probe = subprocess.run(["perf", "stat", "-e", "task-clock", "true"], capture_output=True, text=True)
    return probe.returncode == 0


def profile(build, arguments, folder):
    """The hottest functions of a searchBench run, as "percent name" pairs."""
    data = folder / "perf.data"
    record = subprocess.run(["perf", "record", "-q", "-F", "2000", "-o", str(data), "--",
                             str(build / "bin" / "searchBench")] + arguments, capture_output=True, text=True)
    if record.returncode != 0:
        return []
    report = subprocess.run(["perf", "report", "-i", str(data), "--stdio", "--no-children", "--sort", "symbol",
                             "--percent-limit", "2"], capture_output=True, text=True)
    data.unlink(missing_ok=True)
    hot = []
    for line in report.stdout.split("\n"):
        # "  81.22%  [.] (anonymous namespace)::parse   -   -": the share, user
        # [.] or kernel [k] code, the symbol (which may hold blanks), then the
        # IPC columns.
        match = re.match(r"\s*([0-9.]+)%\s+\[(.)\]\s+(.+?)(?:\s+-\s+-)?\s*$", line)
        if match:
            name = match.group(3).replace("(anonymous namespace)::", "")
            symbol = name + (" (kernel)" if match.group(2) == "k" else "")
            hot.append((float(match.group(1)), symbol))
    return hot[:8]


def run_profiles(build, settings, tsplib_folder, folder):
    if not perf_works():
        return None
    cases = []
    n = min(1000, settings.sizes[-1])
    instance_file = write_random_instance(build, folder, n, 1)
    for mode, title in (("described", "described search"), ("serial", "fast search")):
        cases.append((f"{title}, random n = {n} (seed 1), reading the file included",
                      profile(build, ["--mode", mode, "--file", str(instance_file)], folder)))
    instance_file.unlink()
    hard = tsplib_folder / "ftv170.mat"
    if hard.is_file() and settings is FULL:
        cases.append(("fast search, TSPLIB ftv170", profile(build, ["--mode", "serial", "--file", str(hard)], folder)))
    return cases


# ---------------------------------------------------------------------------
# Tables and plots


def text(value, digits=3):
    if value is None:
        return ""
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def nan(value, digits=6):
    return "NaN" if value is None else text(float(value), digits)


def write_csv(path, header, rows):
    with path.open("w", newline="") as output:
        writer = csv.writer(output)
        writer.writerow(header)
        writer.writerows(rows)


def write_run_table(path, results):
    """One row per program run of a random instance."""
    rows = []
    for result in results:
        for label, run in (("solver", result.serial), ("solver parallel", result.parallel)):
            if run is not None:
                rows.append([result.n, result.seed, label, 1 if run.mode == "serial" else run.threads,
                             run.run.status, text(run.cost), text(run.search_seconds, 6), text(run.run.wall_seconds),
                             text(run.run.peak_mib, 1), "", "", "", "", "", ""])
        for label, bench in (("searchBench serial", result.fast), ("searchBench described", result.described),
                             ("searchBench root-core", result.root_core), ("searchBench root", result.root_scratch)):
            if bench is not None:
                rows.append([result.n, result.seed, label, 1, bench.run.status, text(bench.cost),
                             text(bench.search_seconds, 6), text(bench.run.wall_seconds), text(bench.peak_mib, 1),
                             text(bench.nodes_created), text(bench.nodes_expanded), text(bench.most_open),
                             text(bench.cpu_seconds, 3), text(bench.read_seconds, 6), text(bench.kept_percent, 2)])
    write_csv(path, ["n", "seed", "program", "threads", "status", "cost", "search_s", "wall_s", "peak_mib",
                     "nodes_created", "nodes_expanded", "most_open", "cpu_s", "read_s", "kept_percent"], rows)


SIZE_COLUMNS = ["n", "seeds_run", "seeds_solved", "serial_s", "parallel2_s", "fast_search_s", "read_s",
                "root_core_s", "root_scratch_s", "serial_peak_mib", "parallel2_peak_mib", "graph_mib",
                "nodes_created", "kept_percent", "described_s", "described_nodes", "described_most_open",
                "described_peak_mib", "described_bytes_per_open_node", "node_limit_bytes"]


def write_size_table(path, summaries):
    rows = []
    for s in summaries:
        rows.append([s.n, s.seeds_run, s.seeds_solved, nan(s.serial_s), nan(s.parallel_s), nan(s.fast_search_s),
                     nan(s.read_s), nan(s.root_core_s), nan(s.root_scratch_s), nan(s.serial_peak_mib, 1),
                     nan(s.parallel_peak_mib, 1), nan(graph_bytes(s.n) / MIB, 1), nan(s.nodes_created, 1),
                     nan(s.kept_percent, 3), nan(s.described_s), nan(s.described_nodes, 1),
                     nan(s.described_most_open, 1), nan(s.described_peak_mib, 1),
                     nan(s.described_bytes_per_open_node, 0), node_limit_bytes(s.n)])
    write_csv(path, SIZE_COLUMNS, rows)


def column(name):
    """gnuplot's 1-based column number of a sizes.csv column."""
    return SIZE_COLUMNS.index(name) + 1


def write_tsplib_table(path, results):
    rows = []
    for r in results:
        row = [r.name, r.n, r.optimum]
        for run in (r.serial, r.parallel):
            row += [run.run.status, text(run.cost), text(run.best), text(run.bound), text(run.search_seconds, 6),
                    text(run.run.peak_mib, 1), text(run.nodes)]
        for bench in (r.fast, r.described, r.root_scratch):
            row += [bench.run.status if bench else "", text(bench.cost if bench else None),
                    text(bench.search_seconds if bench else None, 6), text(bench.nodes_created if bench else None),
                    text(bench.most_open if bench else None), text(bench.peak_mib if bench else None, 1),
                    text(bench.kept_percent if bench else None, 2)]
        rows.append(row + [r.verdict])
    header = ["name", "n", "optimum"]
    for prefix in ("serial", "parallel2"):
        header += [f"{prefix}_{name}" for name in ("status", "cost", "best", "bound", "s", "peak_mib", "nodes")]
    for prefix in ("fast", "described", "root"):
        header += [f"{prefix}_{name}" for name in ("status", "cost", "s", "nodes", "most_open", "peak_mib",
                                                   "kept_percent")]
    write_csv(path, header + ["verdict"], rows)


def write_speedup_table(path, cases):
    rows = [[case.name, text(case.serial_s, 6), text(case.parallel2_s, 6), text(case.parallel4_s, 6),
             text(case.speedup(case.parallel2_s)), text(case.speedup(case.parallel4_s)),
             text(case.serial_peak_mib, 1), text(case.parallel2_peak_mib, 1)] for case in cases]
    write_csv(path, ["instance", "serial_s", "parallel2_s", "parallel4_s", "speedup2", "speedup4", "serial_peak_mib",
                     "parallel2_peak_mib"], rows)


def draw(plot_folder, name, script, logscale_x=True):
    """Runs one gnuplot script in the plot folder, writing NAME.png."""
    preamble = (
        'set terminal pngcairo size 900,600 font "DejaVu Sans,11"\n'
        f'set output "{name}.png"\n'
        'set datafile separator ","\n'
        'set datafile missing "NaN"\n'
        "set grid\n"
        "set key below\n"
        'set format y "%g"\n'
    )
    if logscale_x:
        preamble += "set logscale x\nset xtics (100, 200, 500, 1000, 2000, 5000, 10000, 20000)\n"
        preamble += "set autoscale xfix\nset offsets graph 0.03, graph 0.03, 0, 0\n"
    completed = subprocess.run(["gnuplot"], input=preamble + script, text=True, cwd=plot_folder,
                               capture_output=True)
    if completed.returncode != 0:
        print(f"gnuplot failed on {name}: {completed.stderr}", flush=True)


def draw_plots(plot_folder, have_speedups):
    c = column
    draw(plot_folder, "search-time", f"""
set title "Random instances, costs 0..1000000: seconds (median of seeds)"
set xlabel "cities n"
set ylabel "seconds"
set logscale y
plot "sizes.csv" every ::1 using 1:{c('serial_s')} with linespoints lw 2 title "solver: search", \\
     "sizes.csv" every ::1 using 1:{c('parallel2_s')} with linespoints lw 2 title "solver parallel (2 threads): search", \\
     "sizes.csv" every ::1 using 1:{c('described_s')} with linespoints lw 2 title "described search", \\
     "sizes.csv" every ::1 using 1:{c('read_s')} with linespoints dt 2 title "reading and parsing the file", \\
     "sizes.csv" every ::1 using 1:{c('root_scratch_s')} with linespoints dt 3 title "root assignment from scratch", \\
     "sizes.csv" every ::1 using 1:{c('root_core_s')} with linespoints dt 3 title "root assignment on a sparse core"
""")
    draw(plot_folder, "memory", f"""
set title "Random instances: peak resident memory of solver (median of seeds)"
set xlabel "cities n"
set ylabel "MiB"
set logscale y
plot "sizes.csv" every ::1 using 1:{c('serial_peak_mib')} with linespoints lw 2 title "solver", \\
     "sizes.csv" every ::1 using 1:{c('parallel2_peak_mib')} with linespoints lw 2 title "solver parallel, 2 threads", \\
     "sizes.csv" every ::1 using 1:{c('graph_mib')} with lines dt 2 title "the graph: n(n-1) x 6 bytes", \\
     "sizes.csv" every ::1 using 1:(1.5*${c('graph_mib')}) with lines dt 3 title "1.5 x the graph"
""")
    draw(plot_folder, "nodes", f"""
set title "Random instances: search-tree nodes created (median of seeds)"
set xlabel "cities n"
set ylabel "nodes"
set logscale y
plot "sizes.csv" every ::1 using 1:{c('described_nodes')} with linespoints lw 2 title "described search", \\
     "sizes.csv" every ::1 using 1:{c('nodes_created')} with linespoints lw 2 title "fast search"
""")
    if have_speedups:
        draw(plot_folder, "speedup", """
set title "Speedup of solver parallel over solver, instances of 1-60 s"
set ylabel "serial time / parallel time"
set yrange [0:*]
set style data histograms
set style fill solid 0.8
set xtics rotate by -30
plot "speedup.csv" every ::1 using 5:xtic(1) title "2 threads", \\
     "" every ::1 using 6 title "4 threads", \\
     1.8 with lines lc rgb "red" dt 4 title "1.8"
""", logscale_x=False)


# ---------------------------------------------------------------------------
# The write-up


def build_source_description(build):
    """Which code the measured programs were built from: the commit of the
    build's source tree, and whether that tree had changes of its own to the
    searched code."""
    source = None
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_HOME_DIRECTORY:"):
                source = Path(line.split("=", 1)[1])
    if source is None:
        return "unknown source"
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
    compiler_path = "c++"
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_CXX_COMPILER:"):
                compiler_path = line.split("=", 1)[1]
    try:
        compiler = subprocess.run([compiler_path, "--version"], capture_output=True, text=True).stdout.split("\n")[0]
    except OSError:
        compiler = "unknown"
    return [
        f"- Programs: {build_source_description(build)}",
        f"- Processor: {model}, {os.cpu_count()} logical cores",
        f"- Memory: {meminfo_bytes('MemTotal') / 2**30:.1f} GiB",
        f"- System: {platform.system()} {platform.release()}, Python {platform.python_version()}",
        f"- Compiler: {compiler}, CMake Release build (-O3)",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
    ]


def cell(value, digits=3):
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines + [""]


def ratio(numerator, denominator):
    return numerator / denominator if numerator is not None and denominator else None


def write_report(path, build, settings, quick, results, stop_reason, summaries, tsplib, tsplib_folder, speedups,
                 scanned, profiles, elapsed_seconds, incomplete):
    lines = ["# Benchmarks", ""]
    if incomplete:
        lines += [f"**Incomplete**: written while the run was in progress, {incomplete}. If this note is still here,",
                  "the run was stopped before it finished and everything after that point is missing.", ""]
    lines += [
        "Written by `make bench` (`bench/runBenchmarks.py`); the tables behind it are the CSV files in",
        "[benchmarks/](benchmarks/). Times are the solver's own report (the search alone, from the read",
        "graph to the answer) unless a column says otherwise; peak memory is the resident high-water mark",
        "of the whole process (reading the file included). \"Fast\" is the search `solver` runs; \"described\"",
        "is the search as first built (no starting tour, no arc elimination, no cutoffs), which the core's",
        "API keeps (`SearchOptions::described()`).",
        "",
    ]
    if quick:
        lines += ["**Quick mode**: small sizes, few seeds and short limits; a smoke test, not a measurement.", ""]
    lines += ["## Machine", ""] + machine_description(build) + [
        f"- Run: {elapsed_seconds / 60:.1f} min; load average (1 min) {LOAD_AT_START:.2f} at the start, "
        f"{os.getloadavg()[0]:.2f} at the end",
        "",
    ]
    lines += random_section(settings, results, stop_reason, summaries)
    lines += memory_section(summaries, tsplib)
    lines += tsplib_section(tsplib, tsplib_folder, settings)
    lines += speedup_section(speedups, scanned, tsplib, settings)
    lines += profile_section(profiles)
    lines += ["## Files", "",
              "- `benchmarks/runs.csv`: every program run of a random instance.",
              "- `benchmarks/sizes.csv`: the medians per size (the tables and plots above).",
              "- `benchmarks/tsplib.csv`: the TSPLIB runs.",
              "- `benchmarks/speedup.csv`: the speedup set.",
              ""]
    path.write_text("\n".join(lines))


def random_section(settings, results, stop_reason, summaries):
    mismatches = [result for result in results if result.costs_disagree]
    lines = [
        "## Random instances, costs 0..1000000",
        "",
        f"Seeds {', '.join(map(str, settings.seeds))} up to n = {settings.five_seed_limit}, seed "
        f"{', '.join(map(str, settings.seeds_above))} above; `solver` and `solver parallel` (2 threads) limited to "
        f"{settings.solve_limit:g} s; the described search up to n = {settings.described_max_n} (limit "
        f"{settings.described_limit:g} s). Sizes climbed {', '.join(map(str, settings.sizes))}; "
        f"climbing stopped because {stop_reason}.",
        "",
        "Every finished run of an instance reported the same cost." if not mismatches else
        "**COST MISMATCH** on: " + ", ".join(f"n = {r.n} seed {r.seed}" for r in mismatches) + ".",
        "",
        "Medians over the seeds of each size. Search: `solver`'s report; search (exact): `searchBench`'s, to the",
        "microsecond; read: reading and parsing the file as `solver` does; kept: the arcs left after elimination.",
        "",
    ]
    rows = []
    for s in summaries:
        rows.append([str(s.n), f"{s.seeds_solved}/{s.seeds_run}", cell(s.serial_s, 4), cell(s.fast_search_s, 5),
                     cell(s.parallel_s, 4), cell(s.read_s, 4), cell(ratio(s.fast_search_s, s.read_s), 2),
                     cell(s.root_core_s, 4), cell(s.root_scratch_s, 4), cell(s.nodes_created, 0),
                     cell(s.kept_percent, 2)])
    lines += markdown_table(["n", "solved", "search s", "search (exact) s", "parallel 2 s", "read s", "search / read",
                             "root on core s", "root from scratch s", "nodes", "kept %"], rows)
    solved = [s.n for s in summaries if s.seeds_solved == s.seeds_run and s.serial_s is not None
              and s.serial_s <= settings.solve_limit]
    lines += [f"Largest size every seed of which `solver` solved within {settings.solve_limit:g} s: "
              f"**n = {cell(max(solved, default=None))}**.", "",
              "![search time](benchmarks/search-time.png)", ""]

    lines += ["### The described search and the fast one, same instances", ""]
    rows = []
    for s in summaries:
        if s.described_seeds == 0:
            continue
        rows.append([str(s.n), str(s.described_seeds), cell(s.described_s, 4), cell(s.fast_search_s, 5),
                     cell(ratio(s.described_s, s.fast_search_s), 0), cell(s.described_ms_per_node, 3),
                     cell(s.described_nodes, 0),
                     cell(s.nodes_created, 0), cell(s.described_peak_mib, 1), cell(s.serial_peak_mib, 1),
                     cell(s.kept_percent, 2)])
    lines += markdown_table(["n", "seeds", "described s", "fast s", "described / fast", "described ms/node",
                             "described nodes", "fast nodes", "described peak MiB", "fast peak MiB (solver)",
                             "fast kept %"], rows)
    lines += ["The described search's peak is `searchBench`'s (graph and search, file read in the same way).", "",
              "![nodes](benchmarks/nodes.png)", ""]
    return lines


def per_node_cell(per_node):
    """A search whose peak stays within the root's measures nothing per node."""
    if per_node is None:
        return "-"
    return cell(per_node, 0) if per_node > 0 else "0 (no peak above the root's)"


def memory_section(summaries, tsplib):
    lines = ["## Memory", "", "### Against the graph", "",
             "Peak resident memory of `solver` over the graph's own size, n(n-1) x 6 bytes (medians):", ""]
    rows = []
    for s in summaries:
        graph_mib = graph_bytes(s.n) / MIB
        rows.append([str(s.n), cell(graph_mib, 1), cell(s.serial_peak_mib, 1),
                     cell(ratio(s.serial_peak_mib, graph_mib), 2), cell(s.parallel_peak_mib, 1),
                     cell(ratio(s.parallel_peak_mib, graph_mib), 2)])
    lines += markdown_table(["n", "graph MiB", "solver MiB", "/ graph", "parallel MiB", "/ graph"], rows)
    lines += ["Below a few hundred cities the program's fixed few MiB dominate.", "",
              "![memory](benchmarks/memory.png)", "", "### Bytes per open node", "",
              "A node keeps its assignment (positions of its arcs), its column duals, its bound, its cycle and a",
              "link into a shared chain of its constraints; its allowed arcs are derived from the graph when it is",
              "taken up. Measured as the search's peak less the peak of the same process solving the root alone,",
              "divided by (most open nodes + 2), on the described search, which keeps many nodes open. Where few",
              "nodes are open the search's fixed working space (a few arrays of n entries, one bit per arc for",
              "the constraints) dominates the quotient.", ""]
    rows = []
    for s in summaries:
        if s.described_bytes_per_open_node is None:
            continue
        rows.append([f"random n = {s.n}", cell(s.described_most_open, 0), cell(s.described_peak_mib, 1),
                     cell(s.scratch_root_peak_mib, 1), per_node_cell(s.described_bytes_per_open_node),
                     str(node_limit_bytes(s.n))])
    for r in tsplib or []:
        per_node = bytes_per_open_node(r.described, r.root_scratch)
        if per_node is None:
            continue
        rows.append([f"{r.name} (n = {r.n})", cell(r.described.most_open), cell(r.described.peak_mib, 1),
                     cell(r.root_scratch.peak_mib, 1), per_node_cell(per_node), str(node_limit_bytes(r.n))])
    lines += markdown_table(["instance", "most open", "search peak MiB", "root peak MiB", "bytes per open node",
                             "16n + 256"], rows)
    return lines


def tsplib_outcome(run):
    if run.cost is not None:
        return cell(run.cost), cell(run.search_seconds, 3)
    if run.best is not None:
        return f"stopped: {run.best} / bound {run.bound}", cell(run.search_seconds, 1)
    return run.run.status, "-"


def tsplib_section(tsplib, tsplib_folder, settings):
    lines = ["## TSPLIB asymmetric instances", ""]
    if tsplib is None:
        return lines + [f"Skipped: no `optima.tsv` in {tsplib_folder}.", ""]
    if not tsplib:
        return lines + ["Not run yet.", ""]
    wrong = [r for r in tsplib if r.wrong]
    lines += [
        f"`solver` and `solver parallel` (2 threads) with `--time-limit {settings.tsplib_limit:g} --progress`: a run",
        "that stops reports its best tour and the bound it proved. The described search through `searchBench`,",
        f"killed after {settings.described_limit:g} s. " +
        ("**WRONG: " + ", ".join(f"{r.name} ({r.verdict})" for r in wrong) + ".**" if wrong else
         "No run reported a tour below the optimum or a bound above it, and every finished run reported exactly "
         "the optimum."),
        "",
    ]
    rows = []
    for r in tsplib:
        serial_cost, serial_s = tsplib_outcome(r.serial)
        parallel_cost, parallel_s = tsplib_outcome(r.parallel)
        described = r.described
        rows.append([r.name, str(r.n), str(r.optimum), serial_cost, serial_s, cell(r.serial.run.peak_mib, 1),
                     parallel_cost, parallel_s, cell(r.parallel.run.peak_mib, 1),
                     cell(r.fast.nodes_created if r.fast else None), cell(r.fast.kept_percent if r.fast else None, 1),
                     cell(described.search_seconds, 3) if described.cost is not None else described.run.status,
                     cell(described.nodes_created)])
    lines += markdown_table(["name", "n", "optimum", "serial", "s", "MiB", "parallel 2", "s", "MiB", "fast nodes",
                             "kept %", "described s", "described nodes"], rows)
    stopped = [r for r in tsplib if r.serial.best is not None or r.parallel.best is not None]
    if stopped:
        lines += ["Instances not finished within the limit: how far each got, and how fast it created nodes",
                  "(from the last progress line).", ""]
        rows = []
        for r in stopped:
            rates = [ratio(run.nodes, run.progress_seconds) for run in (r.serial, r.parallel)]
            rows.append([r.name, cell(r.serial.best), cell(r.serial.bound), cell(r.serial.run.peak_mib, 0),
                         cell(rates[0], 0), cell(r.parallel.best), cell(r.parallel.bound),
                         cell(r.parallel.run.peak_mib, 0), cell(rates[1], 0), cell(ratio(rates[1], rates[0]), 2)])
        lines += markdown_table(["name", "serial best", "bound", "MiB", "nodes/s", "parallel best", "bound", "MiB",
                                 "nodes/s", "rate 2 / 1"], rows)
    return lines


def speedup_section(cases, scanned, tsplib, settings):
    low, high = settings.speedup_window
    threads = os.cpu_count()
    lines = [f"## Parallel speedup ({threads} cores)", ""]
    qualifying = [entry for entry in scanned if low <= entry[3] <= high]
    lines += [
        f"The set: instances the serial search takes {low:g}-{high:g} s on. TSPLIB: "
        f"{', '.join(case.name for case in cases if not case.name.startswith('random')) or 'none'}. Random instances "
        f"of small cost ranges (0..{', 0..'.join(map(str, settings.small_range_costs))} at n = "
        f"{', '.join(map(str, settings.small_range_sizes))}, seeds {', '.join(map(str, settings.small_range_seeds))}): "
        f"{len(scanned)} scanned, {len(qualifying)} in the window" +
        (f" (serial {min(e[3] for e in scanned):.3f}-{max(e[3] for e in scanned):.3f} s)." if scanned else "."),
        f"Each time is the fastest of {settings.speedup_repeats} runs (4 threads: one run).",
        "",
    ]
    if not cases:
        return lines + ["No instance in the window.", ""]
    rows = []
    for case in cases:
        rows.append([case.name, cell(case.serial_s, 3), cell(case.parallel2_s, 3), cell(case.speedup(case.parallel2_s), 2),
                     cell(case.parallel4_s, 3), cell(ratio(case.parallel4_s, case.parallel2_s), 2),
                     cell(ratio(case.parallel2_peak_mib, case.serial_peak_mib), 2)])
    lines += markdown_table(["instance", "serial s", "2 threads s", "speedup", "4 threads s", "4 / 2 threads time",
                             "peak 2 / 1"], rows)
    speedups = [case.speedup(case.parallel2_s) for case in cases]
    lines += [f"Speedup on 2 threads: median **{statistics.median(speedups):.2f}**, lowest {min(speedups):.2f}, "
              f"over {len(speedups)} instances.", "", "![speedup](benchmarks/speedup.png)", ""]
    return lines


def profile_section(profiles):
    lines = ["## Where the time goes", ""]
    if profiles is None:
        return lines + ["No profile: `perf` is missing or not allowed here.", ""]
    lines += ["`perf record` of `searchBench`, functions with at least 2% of the samples (the whole process:",
              "generating or reading the instance included where the title says so).", ""]
    for title, hot in profiles:
        lines += [f"- {title}: " + ("; ".join(f"{share:.0f}% {symbol}" for share, symbol in hot) or "no samples")]
    return lines + [""]


# ---------------------------------------------------------------------------


def parse_arguments():
    parser = argparse.ArgumentParser(description="Benchmark suite of the solver.")
    parser.add_argument("--build", default=str(REPOSITORY / "build"), help="build folder holding bin/")
    parser.add_argument("--quick", action="store_true", help="small sizes, few seeds, short limits")
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
    if shutil.which("gnuplot") is None:
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
    for stale in plot_folder.glob("*"):
        stale.unlink()

    global LOAD_AT_START
    LOAD_AT_START = os.getloadavg()[0]
    started = time.monotonic()
    tsplib_folder = Path(arguments.tsplib)
    state = {"results": [], "stop": "the run is still climbing", "tsplib": None, "speedups": [], "scanned": [],
             "profiles": None}

    def write_outputs(incomplete=""):
        summaries = summarize_sizes(state["results"])
        write_run_table(plot_folder / "runs.csv", state["results"])
        write_size_table(plot_folder / "sizes.csv", summaries)
        if state["tsplib"]:
            write_tsplib_table(plot_folder / "tsplib.csv", state["tsplib"])
        write_speedup_table(plot_folder / "speedup.csv", state["speedups"])
        draw_plots(plot_folder, bool(state["speedups"]))
        write_report(docs / "benchmarks.md", build, settings, arguments.quick, state["results"], state["stop"],
                     summaries, state["tsplib"], tsplib_folder, state["speedups"], state["scanned"],
                     state["profiles"], time.monotonic() - started, incomplete)

    # Written after every size and every TSPLIB instance, so that a run cut
    # short still leaves what it measured.
    with tempfile.TemporaryDirectory(prefix="atsp-bench-", dir=os.environ.get("BENCH_TMP")) as folder:
        folder = Path(folder)

        def after_size(done):
            state["results"] = done
            write_outputs(f"after n = {done[-1].n}")

        state["results"], state["stop"] = climb_ladder(build, settings, folder, started, after_size)
        print(f"ladder stopped: {state['stop']}", flush=True)

        def after_instance(done):
            state["tsplib"] = done
            write_outputs(f"after the TSPLIB instance {done[-1].name}")

        state["tsplib"] = run_tsplib(build, settings, tsplib_folder, after_instance)
        if state["tsplib"] is None:
            print(f"TSPLIB skipped: no optima.tsv in {tsplib_folder}", flush=True)
        state["scanned"] = scan_small_ranges(build, settings)
        state["speedups"] = run_speedups(build, settings, state["tsplib"], tsplib_folder, state["scanned"], folder)
        write_outputs("after the speedup runs")
        state["profiles"] = run_profiles(build, settings, tsplib_folder, folder)
    write_outputs()
    print(f"wrote {docs / 'benchmarks.md'} and {plot_folder}/ in {(time.monotonic() - started) / 60:.1f} min")

    wrong = (any(result.costs_disagree for result in state["results"])
             or any(result.wrong for result in state["tsplib"] or [])
             or any(len(case.costs) > 1 for case in state["speedups"]))
    if wrong:
        print("!!! SOME COSTS DISAGREE: see above and docs/benchmarks.md")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
