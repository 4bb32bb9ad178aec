#!/usr/bin/env python3
"""Draws the benchmark plots and fills the hand-written page from the CSV files
of bench/runBenchmarks.py:

    python3 bench/writeReport.py [--data DIR] [--page FILE] [--output FILE]

Only what lies between a marker and the next `<!-- end -->` is replaced: after
`<!-- table: NAME -->` the table TABLES[NAME] builds, after `<!-- value:
FILE.COLUMN -->` that column of FILE.csv's first row. The plots go into the
data folder, which the page links as benchmarks/NAME.png. Exit status 2 when
gnuplot is missing, 1 when the page names an unknown table.
"""

import argparse
import csv
import math
import re
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parent.parent
MIB = 1024 * 1024


def number(cell):
    """The number in a cell (the runner writes plain decimals), or None: a
    commit such as 1234e56 stays text."""
    if isinstance(cell, (int, float)):
        return float(cell)
    return float(cell) if cell and re.fullmatch(r"-?[0-9]+(\.[0-9]*)?", cell) else None


def fmt(value, digits=3):
    """Whole numbers whole, others to `digits` significant digits without
    trailing zeros, never in exponent form; "-" for none. Text is left as it is."""
    if isinstance(value, str) and number(value) is not None:
        value = number(value)
    if value is None or isinstance(value, str):
        return value or "-"
    if value == round(value) or abs(value) >= 10 ** digits:
        return f"{value:.0f}"
    text = f"{value:.{max(0, digits - 1 - math.floor(math.log10(abs(value))))}f}"
    return text.rstrip("0").rstrip(".") if "." in text else text


def ratio(numerator, denominator):
    return numerator / denominator if numerator is not None and denominator else None


def median(values):
    values = [value for value in values if value is not None]
    return statistics.median(values) if values else None


def teams(data):
    """The team sizes k of speedup.csv's columns teamK_s."""
    columns = (data.get("speedup") or [{}])[0]
    return [match[1] for match in map(re.compile(r"team(\d+)_s").fullmatch, columns) if match]


# Tables: TABLES[NAME](data) gives the header and the lines of cells.

def sizes(data):
    """Per size of the ladder, medians over the seeds `solver` proved (the
    described search's over those it finished too)."""
    by_size = {}
    for row in data.get("random", []):
        by_size.setdefault(int(row["n"]), []).append(row)
    summaries = []
    for n, rows in sorted(by_size.items()):
        proven = [row for row in rows if row["serial_status"] == "proven"]
        described = [row for row in proven if row["described_status"] == "ok"]
        s = {"n": n, "proven": f"{len(proven)}/{len(rows)}", "described": len(described)}
        for column in (column for column in rows[0] if column not in ("n", "seed") and "status" not in column):
            s[column] = median(number(row[column]) for row in (described if "described" in column else proven))
        s["bytes_per_arc"] = ratio(s["serial_peak_mib"], n * (n - 1) / MIB)
        s["described_over_fast"] = ratio(s["described_s"], s["search_s"])
        summaries.append(s)
    return summaries


def table(source, columns, medians=()):
    """A table of one line per row of the CSV file named `source`, or that
    source(data) gives. `columns`: (header, key) pairs, the key a field of the
    row or a function of it, or a field that is its own header; `medians`:
    headers of the columns whose median makes a last line."""
    columns = [column if isinstance(column, tuple) else (column, column) for column in columns]

    def build(data):
        rows = data.get(source, []) if isinstance(source, str) else source(data)
        values = [[key(row) if callable(key) else row[key] for _, key in columns] for row in rows]
        lines = [[fmt(value) for value in line] for line in values]
        if rows and medians:
            lines.append(["median"] + [fmt(median(map(number, column))) if header in medians else ""
                                       for (header, _), column in list(zip(columns, zip(*values)))[1:]])
        return [header for header, _ in columns], lines
    return build


def outcome(prefix):
    """A solver run's cell: the cost it proved, or its best tour and bound."""
    def cell(row):
        status = row[f"{prefix}_status"]
        if status == "stopped":
            return f"{row[f'{prefix}_cost']}, bound {row[f'{prefix}_bound']}"
        return row[f"{prefix}_cost"] if status == "proven" else status
    return cell


def bytes_per_open_node(row):
    """The described search's peak above the root's over its most open nodes,
    where many were open: with few, its fixed working space dominates."""
    most_open = number(row["described_most_open"]) or 0
    peaks = number(row["described_peak_mib"]), number(row["root_peak_mib"])
    return (peaks[0] - peaks[1]) * MIB / most_open if most_open >= 1000 else None


def gap(high, low):
    """(row[high] - row[low]) / row[high] in percent, for a positive row[high]."""
    def cell(row):
        top, bottom = number(row[high]), number(row[low])
        return (top - bottom) / top * 100 if top and top > 0 and bottom is not None else None
    return cell


def per(over, under):
    return lambda row: ratio(number(row[over]), number(row[under]))


def table_speedup(data):
    """`solver` over each team, then each team over the next larger one."""
    ks = teams(data)
    ratios = ([(f"solver / {k} thr", per("serial_s", f"team{k}_s")) for k in ks]
              + [(f"{a} thr / {b} thr", per(f"team{a}_s", f"team{b}_s")) for a, b in zip(ks, ks[1:])])
    columns = ["instance", "n", ("solver s", "serial_s")] + [(f"{k} thr s", f"team{k}_s") for k in ks] + ratios
    return table("speedup", columns, [header for header, _ in ratios])(data)


def table_tour_quality(data):
    """One line per instance: how far above the reference its best tour
    lay after each time limit, with the local search and without; "proven"
    once a run proved the optimum (it is then not run again)."""
    rows = data.get("tour-quality", [])
    limits = sorted({number(row["limit_s"]) for row in rows})
    lines = {}
    for row in rows:
        line = lines.setdefault(row["instance"], {"instance": row["instance"], "n": row["n"],
                                                  "reference": row["reference"]})
        above = number(row["above_reference_percent"])
        line[(row["local_search"], number(row["limit_s"]))] = (
            "proven" if row["status"] == "proven" else fmt(above, 2) if above is not None else row["status"])
    for line in lines.values():
        for label in ("yes", "no"):
            for limit in limits:  # a limit not run: the run before it was proven
                line.setdefault((label, limit), "proven" if (label, limit) != (label, limits[0]) else "-")
    header = ["instance", "n", "reference"] + [f"{'with' if label == 'yes' else 'without'} {fmt(limit)} s %"
                                               for label in ("yes", "no") for limit in limits]
    return header, [[line["instance"], fmt(line["n"]), fmt(line["reference"])]
                    + [line[(label, limit)] for label in ("yes", "no") for limit in limits]
                    for line in lines.values()]


TABLES = {
    "random": table(sizes, [
        "n", "proven", ("solver s", "serial_s"), ("parallel s", "parallel_s"),
        ("read s", "read_s"), ("root on core s", "root_core_s"), ("root from scratch s", "root_s"),
        ("nodes", "nodes_created"), ("kept arcs %", "kept_percent")]),
    "random-memory": table(sizes, [
        "n", ("file MiB", "file_mib"), ("solver peak MiB", "serial_peak_mib"),
        ("parallel peak MiB", "parallel_peak_mib"), ("solver peak bytes per arc", "bytes_per_arc")]),
    "described": table(lambda data: [s for s in sizes(data) if s["described"]], [
        "n", ("seeds", "described"), ("described s", "described_s"), ("fast s", "search_s"),
        ("described / fast", "described_over_fast"), ("described nodes", "described_nodes"),
        ("fast nodes", "nodes_created"), ("described most open", "described_most_open"),
        ("described peak MiB", "described_peak_mib")]),
    "random-stop": table("random-stop", ["n", "reason", "needed", "available", "unit"]),
    "tsplib": table("tsplib", [
        "name", "n", "optimum", ("root gap %", gap("optimum", "root_bound")),
        ("LP root gap %", gap("optimum", "lp_root_bound")), ("LP root s", "lp_root_s"),
        ("solver", outcome("serial")), ("s", "serial_s"), ("parallel", outcome("parallel")), ("s", "parallel_s"),
        ("nodes", "serial_nodes"), ("kept arcs %", "kept_percent"),
        ("described s", lambda row: row["described_s"] or row["described_status"]),
        ("described nodes", "described_nodes"), ("bytes per open node", bytes_per_open_node)]),
    "speedup": table_speedup,
    "speedup-scan": table("speedup-scan", ["n", "max_cost", "seed", "status", "serial_s", "in_window"]),
    "baseline": table("baseline", [
        "instance", "n", "cost",
        ("this build s", lambda row: row["this_s"] or row["this_status"]),
        ("baseline s", lambda row: row["baseline_s"] or row["baseline_status"]),
        ("baseline / this", per("baseline_s", "this_s"))], ["baseline / this"]),
    "families": table("families", [
        "family", "n", "seed", ("solver", "status"), ("root gap %", gap("cost", "root_bound")),
        ("LP root gap %", gap("cost", "lp_root_bound")), ("LP root s", "lp_root_s"),
        ("gap % at the end", gap("cost", "bound")), ("s", "seconds"), "nodes",
        ("assignment bound", "assignment_status"),
        ("its gap % at the end", gap("assignment_cost", "assignment_bound")), ("its s", "assignment_s"),
        ("its nodes", "assignment_nodes")]),
    "tour-quality": table_tour_quality,
    "checks": table("checks", ["instance", "check", "claims"]),
}

# A name starts with a letter, so that a marker quoted in prose is left alone.
MARKER = re.compile(r"<!-- (table|value): ([a-z][\w.-]*) -->(.*?)<!-- end -->", re.S)


def markdown(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return "\n".join(lines + ["| " + " | ".join(row) + " |" for row in rows]) + "\n"


def fill_page(text, data):
    def replace(match):
        kind, name = match.group(1), match.group(2)
        if kind == "value":
            file, _, column = name.partition(".")
            return f"<!-- value: {name} -->{fmt((data.get(file) or [{}])[0].get(column))}<!-- end -->"
        if name not in TABLES:
            raise SystemExit(f"the page names an unknown table {name!r}; known: {', '.join(TABLES)}")
        return f"<!-- table: {name} -->\n{markdown(*TABLES[name](data))}<!-- end -->"

    return MARKER.sub(replace, text)


# Plots: gnuplot reads the rows from a datablock, so no data file is left.

def draw(folder, name, rows, script):
    """Runs `script` on the datablock $data of `rows` (numbers, None for a
    missing one, or labels) and writes folder/NAME.png; returns NAME."""
    block = "\n".join(" ".join(f'"{v}"' if isinstance(v, str) else "NaN" if v is None else repr(float(v))
                               for v in row) for row in rows)
    preamble = (f'set terminal pngcairo size 900,600 font "DejaVu Sans,11"\nset output "{name}.png"\n'
                f'$data << EOD\n{block}\nEOD\nset datafile missing "NaN"\nset grid\nset key below\n')
    done = subprocess.run(["gnuplot"], input=preamble + script, text=True, cwd=folder, capture_output=True)
    if done.returncode != 0:
        print(f"gnuplot failed on {name}.png: {done.stderr}")
    return name


RANDOM_PLOTS = {  # name: title, unit, and (column of sizes(), title, style) of each curve
    "search-time": ("Random instances, costs 0..10^6: median seconds", "seconds", [
        ("serial_s", "solver", "lw 2"), ("parallel_s", "solver parallel", "lw 2"),
        ("described_s", "described search", "lw 2"), ("read_s", "reading the file", "dt 2"),
        ("root_core_s", "root on a sparse core", "dt 3"), ("root_s", "root from scratch", "dt 3")]),
    "memory": ("Random instances: median peak resident memory", "MiB", [
        ("serial_peak_mib", "solver", "lw 2"), ("parallel_peak_mib", "solver parallel", "lw 2")]),
    "nodes": ("Random instances: median search-tree nodes created", "nodes", [
        ("nodes_created", "fast search", "lw 2"), ("described_nodes", "described search", "lw 2")]),
}


def plot_random(folder, data):
    """The medians of the ladder against n, on log scales."""
    summaries, drawn = sizes(data), []
    for name, (title, unit, curves) in RANDOM_PLOTS.items():
        if summaries:
            rows = [[s["n"]] + [s[column] for column, _, _ in curves] for s in summaries]
            plot = ", ".join(f'$data using 1:{index + 2} with linespoints {style} title "{label}"'
                             for index, (_, label, style) in enumerate(curves))
            drawn.append(draw(folder, name, rows, f'set title "{title}"\nset xlabel "cities n"\n'
                              f'set ylabel "{unit}"\nset logscale xy\nset format y "%g"\nplot {plot}\n'))
    return drawn


def plot_speedup(folder, data):
    ks, rows = teams(data), data.get("speedup", [])
    bars = ", ".join(f'$data using {i + 2}{":xtic(1)" if i == 0 else ""} title "solver / {k} threads"'
                     for i, k in enumerate(ks))
    return [draw(folder, "speedup", [[row["instance"]] + [per("serial_s", f"team{k}_s")(row) for k in ks]
                                     for row in rows],
                 'set title "Time of solver over time of solver parallel (fastest runs)"\nset ylabel "speedup"\n'
                 "set yrange [0:*]\nset style data histograms\nset style fill solid 0.8\n"
                 f"set xtics rotate by -30\nplot {bars}\n")] if rows else []


def main():
    parser = argparse.ArgumentParser(description="Fills the benchmark page from the CSV files.")
    parser.add_argument("--data", default=str(REPOSITORY / "docs" / "benchmarks"), help="folder of the CSV files")
    parser.add_argument("--page", default=str(REPOSITORY / "docs" / "benchmarks.md"), help="the page to fill")
    parser.add_argument("--output", help="where the filled page goes (default: the page itself)")
    arguments = parser.parse_args()
    if shutil.which("gnuplot") is None:
        print("gnuplot is missing: install the Debian package gnuplot-nox.")
        return 2
    folder, data = Path(arguments.data), {}
    for path in folder.glob("*.csv"):
        with path.open(newline="") as table:
            data[path.stem] = list(csv.DictReader(table))
    output = Path(arguments.output or arguments.page)
    output.write_text(fill_page(Path(arguments.page).read_text(), data))
    drawn = plot_random(folder, data) + plot_speedup(folder, data)
    for stale in folder.glob("*.png"):
        if stale.stem not in drawn:
            stale.unlink()  # its data is gone: it would show another run's
    print(f"wrote {output}; plots in {folder}: {', '.join(drawn) or 'none'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
