#!/usr/bin/env python3
"""Benchmark runner of the solver: it runs the programs and writes what they
report into CSV files, nothing else.

    python3 bench/runBenchmarks.py [--build DIR] [--quick] [--out DIR]
                                   [--baseline DIR] [--tsplib DIR]

Every section is one function that runs its instances and writes one CSV file
into the output folder (docs/benchmarks/ by default, BUILD/bench-quick/
benchmarks/ with --quick), rewritten after every instance so that a run cut
short keeps what it measured. Beside them: run.csv (what was read from the
machine and the build), settings.csv (this runner's own sizes, seeds, limits
and budgets) and checks.csv (every disagreement between runs). To add a
section, write its function and call it from main(). bench/writeReport.py
draws the plots and fills the tables of docs/benchmarks.md from these files.

Exit status: 1 when runs disagree on a cost (see checks.csv), 2 when a
program is missing, 0 otherwise. Standard library only.
"""

import argparse
import csv
import dataclasses
import datetime
import os
import platform
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import defaultdict
from dataclasses import dataclass
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parent.parent
PROGRAMS = ("solver", "searchBench", "peakMemory", "generateFamily")
MIB = 1024 * 1024
GIB = 1024 * MIB


@dataclass
class Settings:
    # The random ladder: costs 0..10^6, sizes climbed in order.
    sizes: list
    seeds: list
    many_seeds_up_to: int  # above this size only seeds_above run
    seeds_above: list
    solve_limit_s: float  # --time-limit of `solver` on the ladder; a size not solved within it ends the ladder
    parallel_threads: int  # the team of `solver parallel` on the ladder and TSPLIB
    described_max_n: int
    described_limit_s: float  # the described search is killed after this
    scratch_root_max_n: int  # the root solved from scratch up to this size
    ladder_budget_min: float
    memory_headroom: float  # a size runs only if its extrapolated peak times this fits in the memory available
    disk_headroom: float  # and its extrapolated file times this on the disk left
    # TSPLIB
    tsplib_limit_s: float
    tsplib_names: list  # empty: every instance of optima.tsv
    # Parallel speedup
    scan_max_costs: list
    scan_sizes: list
    scan_seeds: list
    speedup_from_s: float  # the serial seconds of the instances whose speedup is measured: from
    speedup_to_s: float  # and to
    speedup_teams: list  # team sizes of `solver parallel` compared with `solver` and each other
    speedup_repeats: int  # runs of each program, the fastest kept
    # Against another build
    baseline_seeds: list
    baseline_repeats: int
    # Structured families
    families: list
    family_sizes: list
    family_seeds: list
    family_limit_s: float
    # Tour quality against time
    quality_limits_s: list  # `solver --time-limit` of each run, with and without the local search
    quality_families: list  # the structured families run, at family_sizes and family_seeds


FAMILIES = ["tilted-sum", "tilted-max", "crane", "grid", "disk", "shop", "super", "closed", "random"]

FULL = Settings(
    sizes=[100, 200, 500, 1000, 1500, 2000, 3000, 5000, 7000, 10000, 12000, 15000, 20000, 25000, 30000, 40000,
           50000, 65535],
    seeds=[1, 2, 3, 4, 5], many_seeds_up_to=10000, seeds_above=[1],
    solve_limit_s=60, parallel_threads=2,
    described_max_n=2000, described_limit_s=60, scratch_root_max_n=2000,
    ladder_budget_min=25, memory_headroom=1.4, disk_headroom=1.25,
    tsplib_limit_s=60, tsplib_names=[],
    scan_max_costs=[10, 100], scan_sizes=[400, 1500], scan_seeds=[1, 2, 3],
    speedup_from_s=0.5, speedup_to_s=60, speedup_teams=[1, 2, 4], speedup_repeats=2,
    baseline_seeds=[1], baseline_repeats=2,
    families=FAMILIES, family_sizes=[100, 316], family_seeds=[1, 2, 3], family_limit_s=60,
    quality_limits_s=[0.1, 1, 10], quality_families=["tilted-sum", "tilted-max", "crane", "grid"],
)

QUICK = Settings(
    sizes=[100, 200, 500], seeds=[1, 2], many_seeds_up_to=500, seeds_above=[1],
    solve_limit_s=10, parallel_threads=2,
    described_max_n=500, described_limit_s=10, scratch_root_max_n=500,
    ladder_budget_min=2, memory_headroom=1.4, disk_headroom=1.25,
    tsplib_limit_s=5, tsplib_names=["br17", "ftv33", "ftv35", "ry48p", "rbg323"],
    scan_max_costs=[10, 100], scan_sizes=[400], scan_seeds=[1],
    speedup_from_s=0.2, speedup_to_s=10, speedup_teams=[1, 2, 4], speedup_repeats=2,
    baseline_seeds=[1], baseline_repeats=2,
    families=FAMILIES, family_sizes=[100], family_seeds=[1], family_limit_s=2,
    quality_limits_s=[0.1, 1], quality_families=["tilted-max", "crane"],
)


@dataclass
class Context:
    build: Path
    out: Path
    scratch: Path  # instance files live here only while they are run
    settings: Settings
    tsplib: Path
    baseline: Path = None
    ledger: "Ledger" = None


# ---------------------------------------------------------------------------
# CSV files


def cell(value):
    if value is None:
        return ""
    if isinstance(value, float):
        # Plain decimals, never an exponent: microseconds are the finest unit written.
        return f"{value:.6f}".rstrip("0").rstrip(".")
    if isinstance(value, (list, tuple)):
        return ", ".join(cell(item) for item in value)
    return str(value)


def write_csv(path, columns, rows):
    """Rows are dicts; a key missing from a row is an empty cell."""
    with path.open("w", newline="") as output:
        writer = csv.writer(output)
        writer.writerow(columns)
        for row in rows:
            writer.writerow([cell(row.get(column)) for column in columns])


# ---------------------------------------------------------------------------
# Running a program


@dataclass
class Run:
    status: str  # "ok", "stopped" (exit status 2: the solver's own time limit), "timeout" (killed), "failed"
    output: str
    errors: str
    wall_s: float
    peak_mib: float  # peakMemory's report; None for a killed run


def run_measured(ctx, command, kill_after_s, threads=None):
    """Runs `command` under peakMemory in a process group of its own, killed
    whole after kill_after_s."""
    environment = dict(os.environ)
    if threads is not None:
        environment["OMP_NUM_THREADS"] = str(threads)
    with tempfile.TemporaryFile("w+") as output, tempfile.TemporaryFile("w+") as errors:
        start = time.monotonic()
        process = subprocess.Popen([str(ctx.build / "bin" / "peakMemory")] + [str(word) for word in command],
                                   stdout=output, stderr=errors, env=environment, start_new_session=True)
        try:
            process.wait(timeout=kill_after_s)
            killed = False
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            killed = True
        wall_s = time.monotonic() - start
        output.seek(0)
        errors.seek(0)
        lines = output.read().rstrip("\n").split("\n")
        error_text = errors.read()
    peak_mib = None
    if lines and lines[-1].startswith("peakKiB "):
        peak_mib = int(lines.pop().split()[1]) / 1024
    if killed:
        status = "timeout"
    elif process.returncode == 0:
        status = "ok"
    elif process.returncode == 2 and lines[:1] == ["Stopped at the time limit: not proven optimal"]:
        status = "stopped"
    else:
        status = "failed"
    return Run(status, "\n".join(lines), error_text, wall_s, peak_mib)


@dataclass
class Solved:
    """A `solver` run: "proven" with its cost, "stopped" at its time limit
    with its best tour (cost) and bound, or "timeout"/"failed"."""
    status: str
    cost: int = None
    bound: int = None
    seconds: float = None  # the solver's own report
    peak_mib: float = None
    nodes: int = None  # from the last --progress line

    def proven(self):
        return self.status == "proven"


PROGRESS = re.compile(r"progress: [0-9.]+ s, ([0-9]+) nodes")


def solve(ctx, instance_file, threads=None, time_limit_s=None, kill_after_s=None, solver=None,
          progress=False, options=()):
    """`solver FILE`, or with `threads` `solver parallel FILE` on a team of
    that many; `solver` is another build's program, `options` more of its
    options."""
    command = [solver or ctx.build / "bin" / "solver", *options]
    if threads is not None:
        command.append("parallel")
    if time_limit_s is not None:
        command += ["--time-limit", f"{time_limit_s:g}"]
    if progress:
        command.append("--progress")
    command.append(instance_file)
    if kill_after_s is None:
        kill_after_s = 2 * time_limit_s + 120
    run = run_measured(ctx, command, kill_after_s, threads)
    lines = run.output.split("\n")
    result = Solved("failed" if run.status == "ok" else run.status, peak_mib=run.peak_mib)
    try:
        if run.status == "ok" and len(lines) == 2:
            result = Solved("proven", int(lines[0]), int(lines[0]), float(lines[1].split()[1]), run.peak_mib)
        elif run.status == "stopped":
            report = dict(line.split(": ", 1) for line in lines[1:])
            result = Solved("stopped", int(report["Best tour"]), int(report["Lower bound"]),
                            float(report["Time"].split()[0]), run.peak_mib)
    except (ValueError, KeyError, IndexError):
        result = Solved("failed", peak_mib=run.peak_mib)
    nodes = PROGRESS.findall(run.errors)
    if nodes:
        result.nodes = int(nodes[-1])
    return result


@dataclass
class Benched:
    """A searchBench run of one file (searchBench.cpp says what it prints)."""
    status: str  # "ok", "timeout" or "failed"
    cost: int = None
    seconds: float = None  # the search (or root solve) alone
    nodes_created: int = None
    nodes_expanded: int = None
    most_open: int = None
    peak_mib: float = None  # searchBench's child process: the graph and the search
    kept_percent: float = None
    read_s: float = None


def bench(ctx, mode, instance_file, kill_after_s):
    run = run_measured(ctx, [ctx.build / "bin" / "searchBench", "--mode", mode, "--file", instance_file],
                       kill_after_s)
    result = Benched(run.status)
    for line in run.output.split("\n"):
        words = line.replace(",", " ").split()
        if words[:1] == ["run"] and len(words) == 11:
            result.cost = int(words[3])
            result.seconds = float(words[4])
            result.nodes_created, result.nodes_expanded, result.most_open = map(int, words[6:9])
            result.peak_mib = float(words[9])
            result.kept_percent = float(words[10])
        elif words[:2] == ["#", "read+parse"]:
            result.read_s = float(words[2])
            result.seconds = float(words[5])  # to the microsecond
    if result.status == "ok" and result.cost is None:
        result.status = "failed"
    return result


def write_random_file(ctx, n, seed, max_cost=None):
    """The seeded random instance (n, seed) of searchBench, in the generator's
    layout, so that every program searches the very same matrix."""
    name = f"random-{n}-{seed}" + (f"-max{max_cost}" if max_cost is not None else "")
    path = ctx.scratch / f"{name}.txt"
    command = [ctx.build / "bin" / "searchBench", "--sizes", n, "--seeds", seed, "--write", path]
    if max_cost is not None:
        command += ["--max-cost", max_cost]
    subprocess.run([str(word) for word in command], check=True, capture_output=True)
    return name, path


def write_family_file(ctx, family, n, seed):
    name = f"family-{family}-{n}-{seed}"  # the family "random" is not searchBench's random
    path = ctx.scratch / f"{name}.txt"
    subprocess.run([str(ctx.build / "bin" / "generateFamily"), family, str(n), str(seed), str(path)],
                   check=True, capture_output=True)
    return name, path


def fastest(runs):
    """The proven run of least time, or else the first run (its status says
    why none was proven)."""
    proven = [run for run in runs if run.proven()]
    return min(proven, key=lambda run: run.seconds) if proven else runs[0]


# ---------------------------------------------------------------------------
# Agreement between runs


class Ledger:
    """What every run said about the optimum of each instance. Finished runs
    must report one cost (a known optimum counts as one); a tour a stopped run
    found may not be cheaper than it, nor a bound above it; without a finished
    run, no bound may exceed a tour found."""

    def __init__(self):
        self.claims = defaultdict(list)  # instance -> [(who, "cost" | "tour" | "bound", value)]

    def claim(self, instance, who, kind, value):
        if value is not None:
            self.claims[instance].append((who, kind, value))

    def solved(self, instance, who, result):
        """A Solved or a Benched search run."""
        if result.status in ("proven", "ok"):
            self.claim(instance, who, "cost", result.cost)
        elif result.status == "stopped":
            self.claim(instance, who, "tour", result.cost)
            self.claim(instance, who, "bound", result.bound)

    def disagreements(self):
        rows = []
        for instance, claims in self.claims.items():
            def listed(kinds):
                return "; ".join(dict.fromkeys(f"{who} {kind} {value}" for who, kind, value in claims
                                               if kind in kinds))

            costs = {value for _, kind, value in claims if kind == "cost"}
            tours = [value for _, kind, value in claims if kind == "tour"]
            bounds = [value for _, kind, value in claims if kind == "bound"]
            if len(costs) > 1:
                rows.append({"instance": instance, "check": "finished runs differ", "claims": listed(["cost"])})
                continue
            upper = min(costs) if costs else min(tours, default=None)
            if upper is None:
                continue
            if costs and any(tour < upper for tour in tours):
                rows.append({"instance": instance, "check": "a tour below the optimum",
                             "claims": listed(["cost", "tour"])})
            if any(bound > upper for bound in bounds):
                rows.append({"instance": instance,
                             "check": "a bound above the optimum" if costs else "a bound above a tour",
                             "claims": listed(["cost", "tour", "bound"])})
        return rows

    def write(self, ctx):
        write_csv(ctx.out / "checks.csv", ["instance", "check", "claims"], self.disagreements())


# ---------------------------------------------------------------------------
# Random instances of the generator's distribution


RANDOM_COLUMNS = ["n", "seed", "cost", "bound", "serial_status", "serial_s", "serial_peak_mib", "parallel_status",
                  "parallel_s", "parallel_peak_mib", "file_mib", "read_s", "search_s", "nodes_created",
                  "nodes_expanded", "most_open", "kept_percent", "root_core_s", "root_s", "described_status",
                  "described_s", "described_nodes", "described_most_open", "described_peak_mib"]


def random_instance(ctx, n, seed, with_described):
    """Every run of one ladder instance. When `solver` does not prove it
    within the limit the others are left out: they could only time out."""
    s = ctx.settings
    name, path = write_random_file(ctx, n, seed)
    row = {"n": n, "seed": seed, "file_mib": path.stat().st_size / MIB}
    serial = solve(ctx, path, time_limit_s=s.solve_limit_s)
    ctx.ledger.solved(name, "solver", serial)
    row.update(cost=serial.cost, bound=serial.bound, serial_status=serial.status, serial_s=serial.seconds,
               serial_peak_mib=serial.peak_mib)
    if serial.proven():
        parallel = solve(ctx, path, threads=s.parallel_threads, time_limit_s=s.solve_limit_s)
        ctx.ledger.solved(name, "solver parallel", parallel)
        row.update(parallel_status=parallel.status, parallel_s=parallel.seconds, parallel_peak_mib=parallel.peak_mib)
        kill_after = 2 * s.solve_limit_s + 120
        fast = bench(ctx, "serial", path, kill_after)
        ctx.ledger.solved(name, "searchBench serial", fast)
        row.update(read_s=fast.read_s, search_s=fast.seconds, nodes_created=fast.nodes_created,
                   nodes_expanded=fast.nodes_expanded, most_open=fast.most_open, kept_percent=fast.kept_percent)
        row["root_core_s"] = bench(ctx, "root-core", path, kill_after).seconds
        if n <= s.scratch_root_max_n:
            row["root_s"] = bench(ctx, "root", path, kill_after).seconds
        if with_described:
            described = bench(ctx, "described", path, s.described_limit_s)
            ctx.ledger.solved(name, "searchBench described", described)
            row.update(described_status=described.status, described_s=described.seconds,
                       described_nodes=described.nodes_created, described_most_open=described.most_open,
                       described_peak_mib=described.peak_mib)
    path.unlink()
    print(f"random n={n} seed={seed}: solver {serial.status} {cell(serial.seconds)} s {cell(serial.peak_mib)} MiB,"
          f" parallel {cell(row.get('parallel_s'))} s, nodes {cell(row.get('nodes_created'))},"
          f" described {row.get('described_status', '-')} {cell(row.get('described_s'))} s", flush=True)
    return row


def meminfo_bytes(name):
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith(name + ":"):
                return int(line.split()[1]) * 1024
    return 0


def ladder_stop(ctx, n, done, budget_end):
    """Why size n should not run, judged from the last size run (its time,
    file and peak grown with n: files and graphs like n^2, the time like
    n^2.5 to keep a margin), or None."""
    if not done:
        return None
    last = done[-1]
    growth = (n / last["n"]) ** 2
    free_disk = shutil.disk_usage(ctx.scratch).free
    needed = last["file_bytes"] * growth * ctx.settings.disk_headroom
    if needed > free_disk:
        return {"n": n, "reason": "disk", "needed": needed / GIB, "available": free_disk / GIB, "unit": "GiB"}
    needed = last["peak_mib"] * MIB * growth * ctx.settings.memory_headroom
    available = meminfo_bytes("MemAvailable")
    if needed > available:
        return {"n": n, "reason": "memory", "needed": needed / GIB, "available": available / GIB, "unit": "GiB"}
    seeds = len(seeds_of(ctx.settings, n))
    estimate = last["seconds"] / last["seeds"] * seeds * (n / last["n"]) ** 2.5
    remaining = budget_end - time.monotonic()
    if estimate > remaining:
        return {"n": n, "reason": "budget", "needed": estimate / 60, "available": max(remaining, 0) / 60,
                "unit": "min"}
    return None


def seeds_of(settings, n):
    return settings.seeds if n <= settings.many_seeds_up_to else settings.seeds_above


def random_section(ctx):
    """The ladder: sizes in order until a size is not solved within the
    limit, the next would not fit in memory or on disk, or the budget ends.
    Writes random.csv (one row per instance) and random-stop.csv (why the
    ladder stopped: reason time-limit, failed, memory, disk, budget or
    last-size, with what was needed and available)."""
    s = ctx.settings
    rows, done = [], []
    budget_end = time.monotonic() + 60 * s.ladder_budget_min
    described_alive = True
    stop = {"n": s.sizes[-1], "reason": "last-size"}
    for n in s.sizes:
        reason = ladder_stop(ctx, n, done, budget_end)
        if reason:
            stop = reason
            break
        started = time.monotonic()
        size_rows = []
        for seed in seeds_of(s, n):
            size_rows.append(random_instance(ctx, n, seed, described_alive and n <= s.described_max_n))
            rows.append(size_rows[-1])
            write_csv(ctx.out / "random.csv", RANDOM_COLUMNS, rows)
            if size_rows[-1]["serial_status"] != "proven":
                break
        if any(row.get("described_status") not in (None, "ok") for row in size_rows):
            described_alive = False  # a larger size would only time out too
        unsolved = [row["serial_status"] for row in size_rows if row["serial_status"] != "proven"]
        if unsolved:
            failed = unsolved[0] == "failed"
            stop = {"n": n, "reason": "failed" if failed else "time-limit",
                    "available": None if failed else s.solve_limit_s, "unit": "" if failed else "s"}
            break
        peaks = [row[key] for row in size_rows for key in ("serial_peak_mib", "parallel_peak_mib") if row.get(key)]
        done.append({"n": n, "seconds": time.monotonic() - started, "seeds": len(size_rows),
                     "file_bytes": max(row["file_mib"] for row in size_rows) * MIB, "peak_mib": max(peaks)})
    write_csv(ctx.out / "random.csv", RANDOM_COLUMNS, rows)
    write_csv(ctx.out / "random-stop.csv", ["n", "reason", "needed", "available", "unit"], [stop])
    print(f"ladder stopped at n={stop['n']}: {stop['reason']}", flush=True)
    return rows


# ---------------------------------------------------------------------------
# TSPLIB


TSPLIB_COLUMNS = ["name", "n", "optimum", "root_bound", "root_s", "root_peak_mib", "lp_root_bound", "lp_root_s",
                  "serial_status", "serial_cost",
                  "serial_bound", "serial_s", "serial_peak_mib", "serial_nodes", "parallel_status", "parallel_cost",
                  "parallel_bound", "parallel_s", "parallel_peak_mib", "parallel_nodes", "kept_percent",
                  "most_open", "described_status", "described_s", "described_nodes", "described_most_open",
                  "described_peak_mib"]


def tsplib_instances(ctx):
    """(name, n, optimum, file) of optima.tsv whose file is there."""
    optima = ctx.tsplib / "optima.tsv"
    if not optima.is_file():
        print(f"no {optima}: the TSPLIB sections are skipped", flush=True)
        return []
    with optima.open() as table:
        rows = list(csv.DictReader(table, delimiter="\t"))
    wanted = ctx.settings.tsplib_names
    return [(row["name"], int(row["n"]), int(row["optimum"]), ctx.tsplib / f"{row['name']}.mat") for row in rows
            if (not wanted or row["name"] in wanted) and (ctx.tsplib / f"{row['name']}.mat").is_file()]


def tsplib_section(ctx):
    """`solver` and `solver parallel` with a time limit, node counts, the
    root's assignment and LP bounds and the described search on every
    TSPLIB instance. Writes
    tsplib.csv; a stopped run's cost is its best tour."""
    s = ctx.settings
    rows = []
    for name, n, optimum, path in tsplib_instances(ctx):
        ctx.ledger.claim(name, "TSPLIB", "cost", optimum)
        row = {"name": name, "n": n, "optimum": optimum}
        root = bench(ctx, "root", path, 600)
        ctx.ledger.claim(name, "root", "bound", root.cost)
        row.update(root_bound=root.cost, root_s=root.seconds, root_peak_mib=root.peak_mib)
        lp_root = bench(ctx, "lp-root", path, 600)
        ctx.ledger.claim(name, "lp-root", "bound", lp_root.cost)
        row.update(lp_root_bound=lp_root.cost, lp_root_s=lp_root.seconds)
        for prefix, threads in (("serial", None), ("parallel", s.parallel_threads)):
            run = solve(ctx, path, threads=threads, time_limit_s=s.tsplib_limit_s, progress=True)
            ctx.ledger.solved(name, f"solver {prefix}", run)
            row.update({f"{prefix}_status": run.status, f"{prefix}_cost": run.cost, f"{prefix}_bound": run.bound,
                        f"{prefix}_s": run.seconds, f"{prefix}_peak_mib": run.peak_mib, f"{prefix}_nodes": run.nodes})
        if row["serial_status"] == "proven":
            fast = bench(ctx, "serial", path, 2 * row["serial_s"] + 60)
            ctx.ledger.solved(name, "searchBench serial", fast)
            row.update(kept_percent=fast.kept_percent, most_open=fast.most_open)
        described = bench(ctx, "described", path, s.described_limit_s)
        ctx.ledger.solved(name, "searchBench described", described)
        row.update(described_status=described.status, described_s=described.seconds,
                   described_nodes=described.nodes_created, described_most_open=described.most_open,
                   described_peak_mib=described.peak_mib)
        rows.append(row)
        write_csv(ctx.out / "tsplib.csv", TSPLIB_COLUMNS, rows)
        print(f"{name}: serial {row['serial_status']} {row['serial_cost']} {cell(row['serial_s'])} s, parallel "
              f"{row['parallel_status']} {row['parallel_cost']} {cell(row['parallel_s'])} s, described "
              f"{described.status}, optimum {optimum}", flush=True)
    write_csv(ctx.out / "tsplib.csv", TSPLIB_COLUMNS, rows)
    return rows


# ---------------------------------------------------------------------------
# Parallel speedup


def scan_small_ranges(ctx):
    """Random instances of small cost ranges, solved once serially with the
    window's upper end as time limit; writes speedup-scan.csv and returns
    those inside the window."""
    s = ctx.settings
    low, high = s.speedup_from_s, s.speedup_to_s
    rows = []
    for max_cost in s.scan_max_costs:
        for n in s.scan_sizes:
            for seed in s.scan_seeds:
                name, path = write_random_file(ctx, n, seed, max_cost)
                run = solve(ctx, path, time_limit_s=high)
                ctx.ledger.solved(name, "solver (scan)", run)
                path.unlink()
                inside = run.proven() and low <= run.seconds <= high
                rows.append({"n": n, "max_cost": max_cost, "seed": seed, "status": run.status,
                             "serial_s": run.seconds, "in_window": int(inside), "name": name})
                write_csv(ctx.out / "speedup-scan.csv",
                          ["n", "max_cost", "seed", "status", "serial_s", "in_window"], rows)
    print(f"small-range scan: {sum(row['in_window'] for row in rows)} of {len(rows)} in the window", flush=True)
    return [row for row in rows if row["in_window"]]


def measure_speedup(ctx, name, path, n):
    """`solver` and `solver parallel` on each team size, back to back and
    interleaved round by round, the fastest of the repeats of each kept."""
    s = ctx.settings
    kill_after = 3 * s.speedup_to_s + 60
    programs = [("serial", None)] + [(f"team{k}", k) for k in s.speedup_teams]
    runs = defaultdict(list)
    for _ in range(s.speedup_repeats):
        for label, threads in programs:
            run = solve(ctx, path, threads=threads, kill_after_s=kill_after)
            ctx.ledger.solved(name, f"solver {label} (speedup)", run)
            runs[label].append(run)
    row = {"instance": name, "n": n}
    for label, _ in programs:
        best = fastest(runs[label])
        row.update({f"{label}_s": best.seconds if best.proven() else None, f"{label}_peak_mib": best.peak_mib})
        row["cost"] = row.get("cost") or best.cost
    print(f"speedup {name}: " + ", ".join(f"{label} {cell(row[label + '_s'])} s" for label, _ in programs),
          flush=True)
    return row


def speedup_section(ctx, tsplib_rows):
    """2 threads over 1 and the other teams over the next smaller one, on the
    TSPLIB instances and the small-range random ones `solver` takes the
    window's seconds on. Writes speedup-scan.csv and speedup.csv."""
    s = ctx.settings
    low, high = s.speedup_from_s, s.speedup_to_s
    columns = ["instance", "n", "cost"]
    for label in ["serial"] + [f"team{k}" for k in s.speedup_teams]:
        columns += [f"{label}_s", f"{label}_peak_mib"]
    rows = []
    for row in tsplib_rows:
        if row["serial_status"] == "proven" and low <= row["serial_s"] <= high:
            rows.append(measure_speedup(ctx, row["name"], ctx.tsplib / f"{row['name']}.mat", row["n"]))
            write_csv(ctx.out / "speedup.csv", columns, rows)
    for found in scan_small_ranges(ctx):
        name, path = write_random_file(ctx, found["n"], found["seed"], found["max_cost"])
        rows.append(measure_speedup(ctx, name, path, found["n"]))
        path.unlink()
        write_csv(ctx.out / "speedup.csv", columns, rows)
    write_csv(ctx.out / "speedup.csv", columns, rows)
    return rows


def tsplib_serial(ctx):
    """`solver` alone on every TSPLIB instance, limited to the speedup
    window's upper end: what speedup_section picks its TSPLIB instances
    from when the TSPLIB section does not run (--only speedup)."""
    rows = []
    for name, n, optimum, path in tsplib_instances(ctx):
        ctx.ledger.claim(name, "TSPLIB", "cost", optimum)
        run = solve(ctx, path, time_limit_s=ctx.settings.speedup_to_s)
        ctx.ledger.solved(name, "solver", run)
        rows.append({"name": name, "n": n, "serial_status": run.status, "serial_s": run.seconds})
        print(f"{name}: {run.status} {run.cost} {cell(run.seconds)} s", flush=True)
    return rows


# ---------------------------------------------------------------------------
# Against another build


def baseline_section(ctx, random_rows, tsplib_rows):
    """The serial fast search of this build and of --baseline's, run by turns
    on the ladder's sizes that were solved within the limit and the TSPLIB
    instances `solver` proved, the fastest of the repeats kept. Writes
    baseline.csv."""
    s = ctx.settings
    other = ctx.baseline / "bin" / "solver"
    columns = ["instance", "n", "cost", "this_status", "this_s", "baseline_status", "baseline_s"]
    rows = []

    def compare(name, path, n, kill_after):
        runs = {"this": [], "baseline": []}
        for _ in range(s.baseline_repeats):
            for label, solver in (("this", None), ("baseline", other)):
                run = solve(ctx, path, kill_after_s=kill_after, solver=solver)
                ctx.ledger.solved(name, f"{label} build (baseline)", run)
                runs[label].append(run)
        row = {"instance": name, "n": n}
        for label in runs:
            best = fastest(runs[label])
            row.update({f"{label}_status": best.status, f"{label}_s": best.seconds if best.proven() else None})
            row["cost"] = row.get("cost") or best.cost
        rows.append(row)
        write_csv(ctx.out / "baseline.csv", columns, rows)
        print(f"baseline {name}: this {cell(row['this_s'])} s, baseline {cell(row['baseline_s'])} s", flush=True)

    solved_sizes = sorted({row["n"] for row in random_rows}
                          - {row["n"] for row in random_rows if row["serial_status"] != "proven"})
    for n in solved_sizes:
        for seed in s.baseline_seeds:
            name, path = write_random_file(ctx, n, seed)
            compare(name, path, n, 4 * s.solve_limit_s + 120)
            path.unlink()
    for row in tsplib_rows:
        if row["serial_status"] == "proven":
            compare(row["name"], ctx.tsplib / f"{row['name']}.mat", row["n"], 4 * s.tsplib_limit_s + 60)
    write_csv(ctx.out / "baseline.csv", columns, rows)
    return rows


# ---------------------------------------------------------------------------
# Structured families


FAMILY_COLUMNS = ["family", "n", "seed", "root_bound", "root_s", "lp_root_bound", "lp_root_s", "status", "cost",
                  "bound", "seconds", "peak_mib", "nodes", "assignment_status", "assignment_cost",
                  "assignment_bound", "assignment_s", "assignment_nodes"]


def families_section(ctx):
    """generateFamily's instances: the root's assignment bound and LP bound,
    and `solver` with a time limit (proven, or stopped with its best tour
    and bound), once as it chooses its bound and once held to the
    assignment bound (`--bound assignment`), each with the nodes it made.
    Writes families.csv."""
    s = ctx.settings
    rows = []
    for family in s.families:
        for n in s.family_sizes:
            for seed in s.family_seeds:
                name, path = write_family_file(ctx, family, n, seed)
                root = bench(ctx, "root", path, 600)
                ctx.ledger.claim(name, "root", "bound", root.cost)
                lp_root = bench(ctx, "lp-root", path, 600)
                ctx.ledger.claim(name, "lp-root", "bound", lp_root.cost)
                run = solve(ctx, path, time_limit_s=s.family_limit_s, progress=True)
                ctx.ledger.solved(name, "solver", run)
                assignment = solve(ctx, path, time_limit_s=s.family_limit_s, progress=True,
                                   options=("--bound", "assignment"))
                ctx.ledger.solved(name, "solver --bound assignment", assignment)
                path.unlink()
                rows.append({"family": family, "n": n, "seed": seed, "root_bound": root.cost, "root_s": root.seconds,
                             "lp_root_bound": lp_root.cost, "lp_root_s": lp_root.seconds,
                             "status": run.status, "cost": run.cost, "bound": run.bound, "seconds": run.seconds,
                             "peak_mib": run.peak_mib, "nodes": run.nodes,
                             "assignment_status": assignment.status, "assignment_cost": assignment.cost,
                             "assignment_bound": assignment.bound, "assignment_s": assignment.seconds,
                             "assignment_nodes": assignment.nodes})
                write_csv(ctx.out / "families.csv", FAMILY_COLUMNS, rows)
                print(f"{name}: root {root.cost}, {run.status} {run.cost} bound {run.bound} "
                      f"{cell(run.seconds)} s", flush=True)
    write_csv(ctx.out / "families.csv", FAMILY_COLUMNS, rows)
    return rows


QUALITY_COLUMNS = ["instance", "n", "limit_s", "local_search", "status", "cost", "bound", "seconds", "reference",
                   "above_reference_percent"]


def tour_quality_section(ctx):
    """The best tour after each time limit, with the local search and
    without (--no-local-search), on every TSPLIB instance and on the
    structured families. The reference is TSPLIB's optimum, or for a family
    instance the cheapest tour any of its runs or the families section's run
    found (the optimum where one was proven). A run proven within a shorter limit is not run again with a
    longer one: it would report the same tour. Writes tour-quality.csv."""
    s = ctx.settings
    # The families section's tours (its proven optima among them), this run's
    # or an earlier one's, also count as references.
    known_tours = defaultdict(list)
    if (ctx.out / "families.csv").is_file():
        with (ctx.out / "families.csv").open() as table:
            for row in csv.DictReader(table):
                if row["cost"]:
                    known_tours[f"family-{row['family']}-{row['n']}-{row['seed']}"].append(int(row["cost"]))
    instances = [(name, path, n, optimum) for name, n, optimum, path in tsplib_instances(ctx)]
    for family in s.quality_families:
        for n in s.family_sizes:
            for seed in s.family_seeds:
                name, path = write_family_file(ctx, family, n, seed)
                instances.append((name, path, n, None))
    rows = []
    for name, path, n, optimum in instances:
        mine = []
        for options, label in (((), "yes"), (("--no-local-search",), "no")):
            for limit in s.quality_limits_s:
                if any(row["local_search"] == label and row["status"] == "proven" for row in mine):
                    break
                run = solve(ctx, path, time_limit_s=limit, options=options)
                ctx.ledger.solved(name, f"solver {' '.join(options)} {limit:g} s", run)
                mine.append({"instance": name, "n": n, "limit_s": limit, "local_search": label,
                             "status": run.status, "cost": run.cost, "bound": run.bound, "seconds": run.seconds})
        costs = [row["cost"] for row in mine if row["cost"] is not None] + known_tours.get(name, [])
        reference = optimum if optimum is not None else min(costs, default=None)
        for row in mine:
            row["reference"] = reference
            if row["cost"] is not None and reference:
                row["above_reference_percent"] = 100 * (row["cost"] - reference) / reference
            print(f"{name} {row['limit_s']:g} s, local search {row['local_search']}: {row['status']} "
                  f"{row['cost']} ({cell(row.get('above_reference_percent'))} % above {reference})", flush=True)
        rows += mine
        write_csv(ctx.out / "tour-quality.csv", QUALITY_COLUMNS, rows)
        if optimum is None:
            path.unlink()
    write_csv(ctx.out / "tour-quality.csv", QUALITY_COLUMNS, rows)
    return rows


# ---------------------------------------------------------------------------
# The machine and the build


def cmake_cache(build, key):
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text().splitlines():
            if line.startswith(key + ":"):
                return line.split("=", 1)[1]
    return None


def source_commit(build):
    """The commit the build's source tree is at, with "+changes" when the
    tree has uncommitted changes."""
    source = cmake_cache(build, "CMAKE_HOME_DIRECTORY")
    if source is None:
        return None
    git = ["git", "-C", source]
    commit = subprocess.run(git + ["rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    changed = subprocess.run(git + ["status", "--porcelain", "--untracked-files=no"], capture_output=True,
                             text=True).stdout.strip()
    return (commit + ("+changes" if changed else "")) or None


def first_line(command):
    try:
        return subprocess.run(command, capture_output=True, text=True).stdout.split("\n")[0].strip()
    except OSError:
        return None


def machine_facts(ctx):
    processor = None
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                processor = line.split(":", 1)[1].strip()
                break
    compiler = cmake_cache(ctx.build, "CMAKE_CXX_COMPILER")
    return {
        "commit": source_commit(ctx.build),
        "build_type": cmake_cache(ctx.build, "CMAKE_BUILD_TYPE"),
        "compiler": first_line([compiler, "--version"]) if compiler else None,
        "processor": processor,
        "cores": os.cpu_count(),
        "memory_gib": meminfo_bytes("MemTotal") / GIB,
        "system": f"{platform.system()} {platform.release()}",
        "python": platform.python_version(),
        "baseline_commit": source_commit(ctx.baseline) if ctx.baseline else None,
    }


def write_run(ctx, facts, started, load_start, finished):
    facts = dict(facts, date=started.strftime("%Y-%m-%d %H:%M UTC"),
                 duration_min=(datetime.datetime.now(datetime.timezone.utc) - started).total_seconds() / 60,
                 load_start=load_start, load_end=os.getloadavg()[0], finished="yes" if finished else "no")
    write_csv(ctx.out / "run.csv", list(facts), [facts])


# ---------------------------------------------------------------------------


def parse_arguments():
    parser = argparse.ArgumentParser(description="Runs the benchmarks and writes CSV files.")
    parser.add_argument("--build", default=str(REPOSITORY / "build"), help="build folder holding bin/")
    parser.add_argument("--quick", action="store_true", help="a few small sizes and short limits")
    parser.add_argument("--out", help="CSV folder (default docs/benchmarks, or BUILD/bench-quick/benchmarks)")
    parser.add_argument("--baseline", help="build folder of another commit to compare `solver` with")
    parser.add_argument("--tsplib", default=str(REPOSITORY.parent / "shared" / "tsplib"))
    parser.add_argument("--only", choices=["tsplib", "families", "tour-quality", "speedup"],
                        help="run this one section (whose tables need no other), keeping the other CSV files")
    return parser.parse_args()


def main():
    arguments = parse_arguments()
    build = Path(arguments.build).resolve()
    baseline = Path(arguments.baseline).resolve() if arguments.baseline else None
    missing = [build / "bin" / program for program in PROGRAMS if not (build / "bin" / program).is_file()]
    if baseline and not (baseline / "bin" / "solver").is_file():
        missing.append(baseline / "bin" / "solver")
    if missing:
        print("Missing: " + ", ".join(map(str, missing)) + " (make bench builds this build's programs)")
        return 2
    settings = QUICK if arguments.quick else FULL
    if arguments.out:
        out = Path(arguments.out)
    else:
        # A quick run must not overwrite the measurements in docs/.
        out = build / "bench-quick" / "benchmarks" if arguments.quick else REPOSITORY / "docs" / "benchmarks"
    out.mkdir(parents=True, exist_ok=True)
    for stale in out.glob("*.csv"):
        if not arguments.only or stale.stem.startswith(arguments.only) or stale.stem in ("run", "settings", "checks"):
            stale.unlink()  # a section skipped this time must not show an earlier run's numbers

    started = datetime.datetime.now(datetime.timezone.utc)
    load_start = os.getloadavg()[0]
    with tempfile.TemporaryDirectory(prefix="atsp-bench-", dir=os.environ.get("BENCH_TMP")) as scratch:
        ctx = Context(build, out, Path(scratch), settings, Path(arguments.tsplib), baseline, Ledger())
        facts = machine_facts(ctx)
        settings_row = dict(dataclasses.asdict(settings), quick="yes" if arguments.quick else "no")
        write_csv(out / "settings.csv", list(settings_row), [settings_row])

        def section_done(finished=False):
            """Brings checks.csv and run.csv up to date, so that a run cut
            short says how long it ran and what disagreed until then."""
            ctx.ledger.write(ctx)
            write_run(ctx, facts, started, load_start, finished)

        section_done()
        if arguments.only:
            {"tsplib": tsplib_section, "families": families_section, "tour-quality": tour_quality_section,
             "speedup": lambda ctx: speedup_section(ctx, tsplib_serial(ctx))}[arguments.only](ctx)
            section_done(finished=True)
            return finish(ctx, out, started)
        random_rows = random_section(ctx)
        section_done()
        tsplib_rows = tsplib_section(ctx)
        section_done()
        speedup_section(ctx, tsplib_rows)
        section_done()
        if baseline:
            baseline_section(ctx, random_rows, tsplib_rows)
            section_done()
        families_section(ctx)
        section_done()
        tour_quality_section(ctx)
        section_done(finished=True)
        return finish(ctx, out, started)


def finish(ctx, out, started):
    disagreements = ctx.ledger.disagreements()
    for row in disagreements:
        print(f"!!! {row['instance']}: {row['check']}: {row['claims']}")
    print(f"wrote {out} in {(datetime.datetime.now(datetime.timezone.utc) - started).total_seconds() / 60:.1f} min")
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
