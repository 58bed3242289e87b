#!/usr/bin/env python3
"""bench/report.py RESULTS DOCS: turns the measurements that bench/run left
in RESULTS into DOCS/benchmarks.md and its plots, DOCS/benchmarks.png (the
checksum) and DOCS/whole-runs.png (whole runs against input size). What
limits a goal that is missed is told in bench/limits-section.md, which follows the
tables as it stands."""

import datetime
import json
import pathlib
import platform
import statistics
import subprocess
import sys

SIZES = [16, 64, 256, 4 << 10, 64 << 10, 1 << 20, 64 << 20]
SHORT = [1, 2, 3, 4, 7, 8, 12, 15, 16, 17, 24, 31, 32, 33, 47, 48, 63, 64]
PEERS = ["zlib", "libdeflate", "isa-l"]
# As bench/whole_run names its inputs: name, bytes, label.
INPUTS = [("4k", 4 << 10, "4 KiB"), ("1m", 1 << 20, "1 MiB"),
          ("64m", 64 << 20, "64 MiB"), ("1g-10", 1 << 30, "1 GiB"),
          ("1g-9", 1 << 30, "1 GiB"), ("4g", 4 << 30, "4 GiB")]


def size_name(size):
    for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
        if size >= 1 << shift:
            return f"{size >> shift} {unit}"
    return f"{size} B"


def read_throughputs(path):
    """{family: {implementation: {size: GB/s}}}, from the median runs."""
    table = {}
    for run in json.loads(path.read_text())["benchmarks"]:
        if run.get("aggregate_name") != "median":
            continue
        family, implementation, size = run["run_name"].split("/")[:3]
        table.setdefault(family, {}).setdefault(implementation, {})[
            int(size)] = run["bytes_per_second"] / 1e9
    return table


def read_whole_runs(results):
    """{input name: {"cp", "tool", "cat", "pipe", "checker": median seconds,
    "rss": [cp, tool, checker, tool from a pipe] in MiB, "digits": n}}."""
    runs = {}
    for name, _, _ in INPUTS:
        times = None
        for path in sorted(results.glob(f"run_{name}_*.json")):
            rounds = [r["times"] for r in
                      json.loads(path.read_text())["results"]]
            times = rounds if times is None else [
                all_times + more for all_times, more in zip(times, rounds)]
        medians = [statistics.median(command) for command in times]
        memory = (results / f"memory_{name}.txt").read_text().split()
        runs[name] = dict(zip(["cp", "tool", "cat", "pipe", "checker"],
                              medians))
        runs[name]["rss"] = [int(kib) / 1024 for kib in memory[:4]]
        runs[name]["digits"] = int(memory[4]) - len("CRC:")
    return runs


def machine():
    model = next((line.split(":", 1)[1].strip()
                  for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), platform.processor())
    flags = next((line.split(":", 1)[1].split()
                  for line in open("/proc/cpuinfo")
                  if line.startswith("flags")), [])
    wanted = ["sse4_1", "pclmulqdq", "avx2", "vpclmulqdq", "avx512f"]
    compiler = subprocess.run(["g++", "--version"], capture_output=True,
                              text=True).stdout.splitlines()[0]
    filesystem = subprocess.run(["df", "--output=fstype", "/tmp"],
                                capture_output=True,
                                text=True).stdout.split()[-1]
    return [
        f"CPU: {model}, {subprocess.check_output(['nproc']).decode().strip()}"
        f" cores, with {', '.join(f for f in wanted if f in flags)}",
        f"Compiler: {compiler}, the release preset (`-O3`)",
        f"System: {platform.system()} {platform.release()}, "
        f"{platform.machine()}; whole runs on {filesystem}",
    ]


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|---" * len(header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines


def throughput_table(rows, sizes):
    return table([""] + [size_name(s) for s in sizes],
                 [[name] + [f"{values[s]:.2f}" if s in values else ""
                            for s in sizes] for name, values in rows.items()])


def gnuplot(script):
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def plot_checksum(rows, path):
    data = path.with_suffix(".dat")
    with data.open("w") as out:
        for name, values in rows.items():
            out.write(f'"{name}"\n')
            for size in SIZES:
                if size in values:
                    out.write(f"{size} {values[size]:.3f}\n")
            out.write("\n\n")
    curves = ", ".join(
        f'"{data}" index {i} using 1:2 with linespoints title "{name}"'
        for i, name in enumerate(rows))
    gnuplot(f"""
set terminal pngcairo size 1000,620 font ",11" noenhanced
set output "{path}"
set title "CRC-32 throughput against buffer size"
set logscale xy
set xlabel "buffer size (bytes)"
set ylabel "GB/s"
set key outside right
set grid
set xtics ("16" 16, "64" 64, "256" 256, "4K" 4096, "64K" 65536, "1M" 1048576, "64M" 67108864)
plot {curves}
""")
    data.unlink()


def plot_whole_runs(runs, path):
    data = path.with_suffix(".dat")
    with data.open("w") as out:
        for name, size, _ in INPUTS:
            if name == "1g-9":
                continue
            run = runs[name]
            out.write(f"{size} {run['cp']} {run['tool']} {run['cat']} "
                      f"{run['pipe']} {run['checker']} "
                      + " ".join(f"{mib:.2f}" for mib in run["rss"]) + "\n")
    lines = "with linespoints"
    gnuplot(f"""
set terminal pngcairo size 1100,480 font ",11" noenhanced
set output "{path}"
set multiplot layout 1,2
set logscale xy
set grid
set key top left
set xlabel "input size (bytes)"
set xtics ("4K" 4096, "1M" 1048576, "64M" 67108864, "1G" 1073741824, "4G" 4294967296)
set title "Wall time (median)"
set ylabel "seconds"
plot "{data}" using 1:2 {lines} title "cp", \\
     "" using 1:3 {lines} title "upgrade-info", \\
     "" using 1:4 {lines} title "cat | cat", \\
     "" using 1:5 {lines} title "cat | upgrade-info -", \\
     "" using 1:6 {lines} title "upgrade-info-check"
set title "Peak resident memory"
set ylabel "MiB"
set yrange [0.25:64]
plot "{data}" using 1:7 {lines} title "cp", \\
     "" using 1:8 {lines} title "upgrade-info", \\
     "" using 1:10 {lines} title "cat | upgrade-info -", \\
     "" using 1:9 {lines} title "upgrade-info-check"
unset multiplot
""")
    data.unlink()


def main():
    results, docs = (pathlib.Path(arg) for arg in sys.argv[1:3])
    throughputs = read_throughputs(results / "crc32.json")
    sized, short = throughputs["crc32"], throughputs["crc32_short"]
    ours = [name for name in sized if name not in PEERS + ["memory_read"]]
    order = ours + [p for p in PEERS if p in sized] + ["memory_read"]
    sized = {name: sized[name] for name in order if name in sized}
    runs = read_whole_runs(results)

    plot_checksum(sized, docs / "benchmarks.png")
    plot_whole_runs(runs, docs / "whole-runs.png")

    lines = ["# Benchmarks", "",
             f"Measured by `bench/run` on {datetime.date.today()}; every "
             "figure comes from one run on one machine, and ratios compare "
             "figures of that run. The machine is a virtual one with shared "
             "cores: between runs a figure can move by a quarter or more, so "
             "a ratio near its goal can fall on either side of it.", "",
             "## Machine", ""]
    lines += [f"- {item}" for item in machine()]

    lines += ["", "## Whole runs", "",
              "Median wall time (hyperfine, in rounds of two runs of each "
              "command, the outputs removed and the written files flushed "
              "before each run) of `upgrade-info` on a "
              "text file, writing a new file, beside `cp --reflink=never` of "
              "the same file; of the same through a pipe (`cat FILE | "
              "upgrade-info - out`) beside `cat FILE | cat > out`; and of "
              "`upgrade-info-check` on the file the tool wrote. The ratios are "
              "the tool's time over its baseline's.", ""]
    rows = []
    for name, size, label in INPUTS:
        run = runs[name]
        rows.append([label, str(run["digits"]),
                     f"{run['cp'] * 1e3:.1f} ms",
                     f"{run['tool'] * 1e3:.1f} ms",
                     f"{run['tool'] / run['cp']:.2f}",
                     f"{run['cat'] * 1e3:.1f} ms",
                     f"{run['pipe'] * 1e3:.1f} ms",
                     f"{run['pipe'] / run['cat']:.2f}",
                     f"{run['checker'] * 1e3:.1f} ms"])
    lines += table(["input", "checksum digits", "cp", "upgrade-info",
                    "ratio", "cat \\| cat", "cat \\| upgrade-info -", "ratio",
                    "upgrade-info-check"], rows)
    lines += ["", "Peak resident memory of one run (`/usr/bin/time`):", ""]
    lines += table(["input", "cp", "upgrade-info", "upgrade-info from a pipe",
                    "upgrade-info-check"],
                   [[label] + [f"{runs[name]['rss'][i]:.1f} MiB"
                               for i in (0, 1, 3, 2)]
                    for name, _, label in INPUTS])
    lines += ["", "![Whole runs against input size](whole-runs.png)"]

    start = [r["median"] for r in json.loads(
        (results / "start.json").read_text())["results"]]
    lines += ["", "### Start", "",
              "On a 4 KiB input, most of a run is starting the program. "
              "Median wall time, with no shell in between, of `cp` and of the "
              "tool as the release preset links it, dynamically with the C++ "
              "library as the `.deb` has it, and as the standalone preset "
              "links it, statically:", ""]
    lines += table(["", "4 KiB run", "against cp"],
                   [[name, f"{seconds * 1e3:.2f} ms",
                     f"{seconds / start[0]:.2f}"]
                    for name, seconds in zip(
                        ["cp", "release (dynamic, the .deb)",
                         "standalone (static)"], start)])

    lines += ["", "## Checksum throughput", "",
              "GB/s (10^9 bytes a second), the median of three repetitions "
              "of Google Benchmark, buffer in memory. `crc32_accumulate` is "
              "the entry point the tool calls, which dispatches to the first "
              "kernel this CPU runs; `memory_read` only reads the buffer, as "
              "fast as the compiler can, and marks the bandwidth limit.", ""]
    lines += throughput_table(sized, SIZES)
    lines += ["", "![Throughput against size](benchmarks.png)", "",
              "### Short inputs", "",
              "Where the handling of short inputs and of the bytes after the "
              "last whole block shows (GB/s).", ""]
    lines += throughput_table({name: short[name] for name in
                               ["crc32_accumulate", "bytewise"] + PEERS
                               if name in short}, SHORT)

    acc = sized["crc32_accumulate"]
    best_peer_1m = max(sized[p][1 << 20] for p in PEERS if p in sized)
    portable = min(sized["braided"][s] / sized["zlib"][s]
                   for s in SIZES if s >= 4096)
    peak = max(mib for run in runs.values() for mib in run["rss"][1:])
    goals = [
        ("whole run on 1 GiB, wall time against cp, checksum line of 10 "
         "digits", runs["1g-10"]["tool"] / runs["1g-10"]["cp"], "<=", 1.2),
        ("whole run on 1 GiB, wall time against cp, checksum line of 9 "
         "digits", runs["1g-9"]["tool"] / runs["1g-9"]["cp"], "<=", 1.2),
        # Three checksums in four have ten digits; the others move the
        # content up behind their shorter line.
        ("whole run on 1 GiB, wall time against cp, averaged over checksum "
         "values", 0.75 * runs["1g-10"]["tool"] / runs["1g-10"]["cp"] +
         0.25 * runs["1g-9"]["tool"] / runs["1g-9"]["cp"], "<=", 1.2),
        ("whole run on 4 KiB, wall time against cp, standalone build",
         start[2] / start[0], "<=", 0.7),
        ("whole run on 4 KiB, wall time against cp, release build (.deb)",
         start[1] / start[0], "<=", 0.7),
        ("1 GiB through a pipe, wall time against cat \\| cat",
         runs["1g-10"]["pipe"] / runs["1g-10"]["cat"], "<=", 1.5),
        ("peak resident memory of either tool, any input (MiB)", peak, "<=",
         16),
        ("crc32_accumulate at 1 MiB, against the faster of libdeflate and "
         "ISA-L", acc[1 << 20] / best_peer_1m, ">=", 2.5),
        ("crc32_accumulate at 64 MiB, against the memory-read pass",
         acc[64 << 20] / sized["memory_read"][64 << 20], ">=", 0.9),
        ("crc32_accumulate at 64 B, against libdeflate",
         acc[64] / sized["libdeflate"][64], ">=", 1.0),
        ("crc32_accumulate at 16 B, against the byte table",
         acc[16] / sized["bytewise"][16], ">=", 1.0),
        ("the portable kernel (braided) at 4 KiB and above, against zlib "
         "(the smallest ratio)", portable, ">=", 1.5),
    ]
    lines += ["", "## Goals", "",
              "The project's own goals, against what this run measured.", "",
              "| goal | measured | | |",
              "|---|---|---|---|"]
    for name, value, sense, goal in goals:
        met = value <= goal if sense == "<=" else value >= goal
        lines.append(f"| {name} | {value:.2f} | {sense} {goal} | "
                     f"{'met' if met else 'missed'} |")
    limits = (pathlib.Path(__file__).parent / "limits-section.md").read_text()
    # Without the comment that tells where the section goes.
    lines += ["", limits[limits.index("-->") + 3:].lstrip()]

    (docs / "benchmarks.md").write_text("\n".join(lines))


if __name__ == "__main__":
    main()
