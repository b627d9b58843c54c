#!/usr/bin/env python3
"""Prints one table from the JSON outputs of the benchmarks (scripts/bench.sh writes them)."""
import json
import sys

COLUMNS = [
    ("x_realtime", "x real time", "{:.0f}"),
    ("per_bare_soxr", "/bare soxr", "{}"),
    ("median_ms", "median ms", "{:.1f}"),
    ("p95_ms", "p95 ms", "{:.1f}"),
    ("p99_ms", "p99 ms", "{:.1f}"),
    ("floor_ms", "floor ms", "{:.0f}"),
    ("median_per_floor", "median/floor", "{:.2f}"),
    ("p95_per_floor", "p95/floor", "{:.2f}"),
    ("median_per_cues_off", "median/cues off", "{:.2f}"),
    ("p95_per_cues_off", "p95/cues off", "{:.2f}"),
    ("rss_MiB", "RSS MiB", "{:.1f}"),
    ("cpu_s_total", "CPU s", "{:.2f}"),
    ("cpu_pct_idle", "idle CPU %", "{:.2f}"),
    ("wakeups_per_min", "wake-ups/min", "{:.0f}"),
    ("rss_growth_KiB", "RSS growth KiB", "{:.0f}"),
    ("dictations", "dictations", "{:.0f}"),
    ("rss_KiB_per_100_after_25", "RSS KiB/100 after 25", "{:.0f}"),
    ("thread_growth_after_25", "thread growth", "{:.0f}"),
    ("fd_growth_after_25", "fd growth", "{:.0f}"),
]


def rows(paths):
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for bench in data.get("benchmarks", []):
            if bench.get("run_type", "iteration") != "iteration":
                continue
            name = bench["name"].replace("/iterations:1", "").replace("/manual_time", "")
            cells = {"name": name, "cpu": bench.get("cpu_time", 0)}
            if not any(key in bench for key, _, _ in COLUMNS):
                cells["time"] = "{:.3g} {}".format(bench.get("cpu_time", 0), bench.get("time_unit", ""))
            for key, _, fmt in COLUMNS:
                if key in bench and key != "per_bare_soxr":
                    cells[key] = fmt.format(bench[key])
            yield cells


def add_ratios(table):
    """The capture engine's conversion path as a multiple of bare soxr on the same input."""
    cpu = {r["name"]: r["cpu"] for r in table}
    for r in table:
        if r["name"].startswith("engine_path/"):
            bare = cpu.get("bare_soxr/" + r["name"][len("engine_path/"):])
            if bare:
                r["per_bare_soxr"] = "{:.2f}".format(r["cpu"] / bare)


def main():
    table = list(rows(sys.argv[1:]))
    add_ratios(table)
    used = [c for c in COLUMNS if any(c[0] in r for r in table)]
    header = ["benchmark", "cpu time"] + [title for _, title, _ in used]
    body = [[r["name"], r.get("time", "")] + [r.get(key, "") for key, _, _ in used] for r in table]
    widths = [max(len(str(x)) for x in col) for col in zip(header, *body)]
    line = "  ".join("{:<%d}" % w for w in widths)
    print(line.format(*header))
    print(line.format(*["-" * w for w in widths]))
    for r in body:
        print(line.format(*r))


if __name__ == "__main__":
    main()
