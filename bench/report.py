#!/usr/bin/env python3
"""bench/report.py RESULTS DOCS: turns the measurements that bench/run left
in RESULTS into DOCS/benchmarks.md and its plot, DOCS/benchmarks.png."""

import datetime
import json
import pathlib
import platform
import subprocess
import sys

SIZES = [16, 64, 256, 4 << 10, 64 << 10, 1 << 20, 64 << 20]
SHORT = [1, 2, 3, 4, 7, 8, 12, 15, 16, 17, 24, 31, 32, 33, 47, 48, 63, 64]
PEERS = ["zlib", "libdeflate", "isa-l"]


def size_name(size):
    for unit, shift in (("MiB", 20), ("KiB", 10)):
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
    return [
        f"CPU: {model}, {subprocess.check_output(['nproc']).decode().strip()}"
        f" cores, with {', '.join(f for f in wanted if f in flags)}",
        f"Compiler: {compiler}, the release preset (`-O3`)",
        f"System: {platform.system()} {platform.release()}, "
        f"{platform.machine()}",
    ]


def throughput_table(rows, sizes):
    lines = ["| | " + " | ".join(size_name(s) for s in sizes) + " |",
             "|---" * (len(sizes) + 1) + "|"]
    for name, values in rows.items():
        cells = [f"{values[s]:.2f}" if s in values else "" for s in sizes]
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
    return lines


def plot(rows, path):
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
    script = f"""
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
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    data.unlink()


def median_seconds(path):
    return {run["command"]: run for run in
            json.loads(path.read_text())["results"]}


def main():
    results, docs = (pathlib.Path(arg) for arg in sys.argv[1:3])
    table = read_throughputs(results / "crc32.json")
    sized, short = table["crc32"], table["crc32_short"]
    ours = [name for name in sized if name not in PEERS + ["memory_read"]]
    order = ours + [p for p in PEERS if p in sized] + ["memory_read"]
    sized = {name: sized[name] for name in order if name in sized}

    plot(sized, docs / "benchmarks.png")

    lines = ["# Benchmarks", "",
             f"Measured by `bench/run` on {datetime.date.today()}; every "
             "figure comes from one run on one machine, and ratios compare "
             "figures of that run. The machine is a virtual one with shared "
             "cores: between runs a figure can move by a quarter or more "
             "(zlib has measured from 3.9 to 5.9 GB/s at 1 MiB), so a ratio "
             "near its target can fall on either side of it.", "",
             "## Machine", ""]
    lines += [f"- {item}" for item in machine()]
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
    short_rows = {name: short[name] for name in
                  ["crc32_accumulate", "bytewise"] + PEERS if name in short}
    lines += throughput_table(short_rows, SHORT)

    lines += ["", "## Whole runs", "",
              "`upgrade-info` against `cp --reflink=never` on the same input, "
              "each writing a new file (hyperfine, the output removed before "
              "each run), with the peak resident memory of one run "
              "(`/usr/bin/time`).", "",
              "| input | cp median | upgrade-info median | ratio | "
              "cp peak RSS | upgrade-info peak RSS |", "|---|---|---|---|---|---|"]
    whole = {}
    for size, label in (("small", "4 KiB text"), ("large", "1 GiB text")):
        runs = list(median_seconds(results / f"whole_run_{size}.json").values())
        rss = (results / f"peak_rss_{size}_kib.txt").read_text().split()
        cp, tool = runs[0]["median"], runs[1]["median"]
        whole[size] = (tool / cp, int(rss[1]) / 1024)
        lines.append(f"| {label} | {cp * 1e3:.2f} ms | {tool * 1e3:.2f} ms | "
                     f"{tool / cp:.2f} | {int(rss[0]) / 1024:.1f} MiB | "
                     f"{int(rss[1]) / 1024:.1f} MiB |")

    acc = sized["crc32_accumulate"]
    best_peer_1m = max(sized[p][1 << 20] for p in PEERS if p in sized)
    portable = min(sized["braided"][s] / sized["zlib"][s]
                   for s in SIZES if s >= 4096)
    targets = [
        ("crc32_accumulate at 1 MiB, against the faster of libdeflate and "
         "ISA-L", acc[1 << 20] / best_peer_1m, 2.5),
        ("crc32_accumulate at 64 MiB, against the memory-read pass",
         acc[64 << 20] / sized["memory_read"][64 << 20], 0.9),
        ("crc32_accumulate at 64 B, against libdeflate",
         acc[64] / sized["libdeflate"][64], 1.0),
        ("crc32_accumulate at 16 B, against the byte table",
         acc[16] / sized["bytewise"][16], 1.0),
        ("the portable kernel (braided) at 4 KiB and above, against zlib "
         "(the smallest ratio)", portable, 1.5),
    ]
    lines += ["", "## Targets", "", "| target | measured | wanted | |",
              "|---|---|---|---|"]
    for name, ratio, wanted in targets:
        lines.append(f"| {name} | {ratio:.2f}x | {wanted}x | "
                     f"{'met' if ratio >= wanted else 'missed'} |")
    for size, wanted, label in (("small", 0.7, "4 KiB"),
                                ("large", 1.25, "1 GiB")):
        ratio = whole[size][0]
        lines.append(f"| whole run on {label}, wall time against cp | "
                     f"{ratio:.2f}x | at most {wanted}x | "
                     f"{'met' if ratio <= wanted else 'missed'} |")
    lines.append(f"| whole run on 1 GiB, peak RSS | "
                 f"{whole['large'][1]:.0f} MiB | at most 1040 MiB | "
                 f"{'met' if whole['large'][1] <= 1040 else 'missed'} |")

    lines += ["", "## Where a target is missed, and why", ""]
    lines += (pathlib.Path(__file__).parent / "shortfalls.md").read_text(
    ).format(
        ours_1m=acc[1 << 20], isal_1m=sized["isa-l"][1 << 20],
        read_1m=sized["memory_read"][1 << 20], wanted_1m=2.5 * best_peer_1m,
        braided=sized["braided"][64 << 10], zlib=sized["zlib"][64 << 10],
        whole_large=whole["large"][0]).splitlines()

    (docs / "benchmarks.md").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
