#!/usr/bin/env python3
"""Prints the results of bench/run.sh as one Markdown table.

Reads WORK/inprocess.json (Google Benchmark, median aggregates),
WORK/process.txt (proc_timer lines), WORK/checks.txt and
WORK/pagefiles.txt, and prints the machine, the table and the checks.
"""

import argparse
import json
import os
import platform
import re
import subprocess

# Targets.
STARTUP_LIMIT = 2.0    # start-up within 2 times "hello world"
SEARCH_LIMIT = 1.5     # keyed search within 1.5 times grep
LISTING_LIMIT = 1.5    # listing within 1.5 times sed
FLAT_LIMIT = 1.5       # cost per unit at 100 times the work: linear (n log n would give 1.67)
RSS_SLACK_KB = 1024    # peak memory independent of the page file: within 1 MiB

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def fmt_time(seconds, missing="n/a"):
    if seconds is None:
        return missing
    magnitude = abs(seconds)
    if magnitude >= 1:
        return f"{seconds:.2f} s"
    if magnitude >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    if magnitude >= 1e-6:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e9:.0f} ns"


def fmt_kb(kb):
    if kb is None:
        return "n/a"
    if kb >= 1024 * 1024:
        return f"{kb / 1024 / 1024:.2f} GiB"
    if kb >= 1024:
        return f"{kb / 1024:.1f} MiB"
    return f"{kb:.0f} KiB"


def fmt_bytes(count, missing="n/a"):
    return missing if count is None else fmt_kb(count / 1024)


def fmt_ratio(value):
    return "n/a" if value is None else f"{value:.2f}"


def verdict(value, limit):
    if value is None:
        return "not measured"
    return "**met**" if value <= limit else "**MISSED**"


def read_inprocess(path):
    """name -> {"seconds", "heap", "items_per_second", "error"}"""
    results = {}
    if not os.path.exists(path):
        return results
    with open(path) as handle:
        data = json.load(handle)
    for entry in data.get("benchmarks", []):
        name = re.sub(r"/(iterations|repeats|min_time):[^/]+", "", entry.get("run_name", entry["name"]))
        if entry.get("error_occurred"):
            results[name] = {"error": entry.get("error_message", "error")}
            continue
        if entry.get("run_type") == "aggregate" and entry.get("aggregate_name") != "median":
            continue
        if entry.get("run_type") == "iteration" and name in results:
            continue
        results[name] = {
            # CPU time: the game's own work, whatever else the machine runs.
            "seconds": entry["cpu_time"] * UNIT_SECONDS[entry.get("time_unit", "ns")],
            "heap": entry.get("heap_peak_bytes"),
            "items_per_second": entry.get("items_per_second"),
        }
    return results


def read_process(path):
    """name -> {"seconds", "fastest", "slowest", "rss", "rss_max", "runs", "cpu"} or {"error"}"""
    results = {}
    if not os.path.exists(path):
        return results
    with open(path) as handle:
        for line in handle:
            words = line.split()
            if len(words) >= 2 and words[1] in ("timeout", "failed"):
                results[words[0]] = {"error": " ".join(words[1:])}
            elif len(words) == 8:
                results[words[0]] = {
                    "seconds": float(words[1]),
                    "fastest": float(words[2]),
                    "slowest": float(words[3]),
                    "rss": int(words[4]),
                    "rss_max": int(words[5]),
                    "runs": int(words[6]),
                    "cpu": float(words[7]),
                }
    return results


def read_checks(path):
    checks = {}
    if os.path.exists(path):
        with open(path) as handle:
            for line in handle:
                words = line.split()
                if len(words) == 2:
                    checks[words[0]] = words[1] == "ok"
    return checks


def read_pagefiles(path):
    files = {}
    if os.path.exists(path):
        with open(path) as handle:
            for line in handle:
                words = line.split()
                if len(words) == 5:
                    files[words[0].removeprefix("pagefile_")] = {"records": int(words[1]), "bytes": int(words[2]),
                                                                 "present": words[3], "absent": words[4]}
    return files


def command_output(*command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return "n/a"


def machine(build_dir):
    cpu = "n/a"
    with open("/proc/cpuinfo") as handle:
        for line in handle:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    memory = "n/a"
    with open("/proc/meminfo") as handle:
        for line in handle:
            if line.startswith("MemTotal:"):
                memory = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
                break
    build_type = "n/a"
    compiler = "n/a"
    cache = os.path.join(build_dir, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as handle:
            for line in handle:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    build_type = line.split("=", 1)[1].strip()
                if line.startswith("CMAKE_CXX_COMPILER:"):
                    compiler = line.split("=", 1)[1].strip()
    return [
        ("CPUs (nproc)", str(os.cpu_count())),
        ("CPU model", cpu),
        ("Memory", memory),
        ("Kernel", platform.release()),
        ("g++", command_output("g++", "--version").splitlines()[0] if command_output("g++", "--version") else "n/a"),
        ("clang++", command_output("clang++", "--version").splitlines()[0]
         if command_output("clang++", "--version") else "n/a"),
        ("Compiler used", compiler if os.path.realpath(compiler) == compiler
         else f"{compiler} ({os.path.realpath(compiler)})"),
        ("Build type", build_type),
        ("Commit", command_output("git", "-C", os.path.dirname(os.path.abspath(__file__)), "describe", "--always",
                                  "--dirty")),
    ]


class Table:
    HEADER = ["Figure", "In-process CPU time", "In-process heap peak", "Process wall time (median)",
              "Process CPU time (median)", "Process peak RSS", "Compared with", "Ratio", "Target", "Met"]

    def __init__(self):
        self.rows = []

    def add(self, *cells):
        cells = [str(cell) for cell in cells]
        self.rows.append(cells + [""] * (len(self.HEADER) - len(cells)))

    def section(self, title):
        self.rows.append([f"**{title}**"] + [""] * (len(self.HEADER) - 1))

    def render(self):
        lines = ["| " + " | ".join(self.HEADER) + " |", "|" + "---|" * len(self.HEADER)]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--work", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--command", default="bench/run.sh")
    args = parser.parse_args()

    inproc = read_inprocess(os.path.join(args.work, "inprocess.json"))
    proc = read_process(os.path.join(args.work, "process.txt"))
    checks = read_checks(os.path.join(args.work, "checks.txt"))
    pagefiles = read_pagefiles(os.path.join(args.work, "pagefiles.txt"))
    missed = []
    unmeasured = []

    def field(name, key):
        entry = proc.get(name)
        return None if entry is None or "error" in entry else entry[key]

    def pt(name):
        return field(name, "seconds")

    def pcpu(name):
        return field(name, "cpu")

    def prss(name):
        return field(name, "rss")

    def perror(name):
        entry = proc.get(name)
        return "not run" if entry is None else entry.get("error")

    def it(name):
        entry = inproc.get(name)
        return None if entry is None or "error" in entry else entry["seconds"]

    def iheap(name):
        entry = inproc.get(name)
        return None if entry is None or "error" in entry else entry.get("heap")

    def iper(name):
        entry = inproc.get(name)
        if entry is None or "error" in entry or not entry.get("items_per_second"):
            return None
        return 1.0 / entry["items_per_second"]

    def ratio(a, b):
        return None if a is None or b is None or b <= 0 else a / b

    def minus(a, b):
        return None if a is None or b is None else a - b

    def per_unit(total, base, count):
        return None if total is None or base is None else (total - base) / count

    def worst(*values):
        known = [value for value in values if value is not None]
        return max(known) if known else None

    def judge(label, value, limit):
        result = verdict(value, limit)
        if value is None:
            unmeasured.append(label)
        elif value > limit:
            missed.append(label)
        return result

    table = Table()

    # Start-up.
    table.section("Start-up to the first prompt")
    hello = pt("hello")
    table.add("C++ hello world (bench/hello_world.cpp)", "", "", fmt_time(hello), fmt_time(pcpu("hello")),
              fmt_kb(prss("hello")))
    for key, label, bench_name in (("startup_eof", "game fed only end of input", "StartUp/eof"),
                                   ("startup_name_quit", "game fed a name and quit", "StartUp/name_quit")):
        r = ratio(pt(key), hello)
        table.add(label, fmt_time(it(bench_name)), fmt_bytes(iheap(bench_name)), fmt_time(pt(key)),
                  fmt_time(pcpu(key)), fmt_kb(prss(key)), "hello world", fmt_ratio(r), f"≤ {STARTUP_LIMIT:g}",
                  judge(f"start-up ({label})", r, STARTUP_LIMIT))

    # Sessions and writing: time per command (per page) at 1,000 and 100,000.
    for title, prefix, bench_prefix, base_name, unit in (
            ("Sessions of walking and looking around: time per command", "session", "Scripted/Session", "startup_name",
             "command"),
            ("Writing pages in one game (after taking the book): time per page", "write", "Scripted/Write", "write_0",
             "page")):
        table.section(title + f" (process figures: whole run minus a game without them)")
        small = {}
        for count in (1000, 100000):
            name = f"{prefix}_{count}"
            wall = per_unit(pt(name), pt(base_name), count)
            cpu = per_unit(pcpu(name), pcpu(base_name), count)
            per_in = iper(f"{bench_prefix}/{count}")
            whole = fmt_time(pt(name)) if perror(name) is None else perror(name)
            cells = [f"{count:,} {unit}s, per {unit} (whole run {whole})", fmt_time(per_in),
                     fmt_bytes(iheap(f"{bench_prefix}/{count}")), fmt_time(wall), fmt_time(cpu), fmt_kb(prss(name))]
            if count == 1000:
                small = {"in": per_in, "wall": wall, "cpu": cpu}
                table.add(*cells)
                continue
            r_in, r_wall, r_cpu = ratio(per_in, small["in"]), ratio(wall, small["wall"]), ratio(cpu, small["cpu"])
            table.add(*cells, f"per {unit} at 1,000",
                      f"{fmt_ratio(r_in)} in-process, {fmt_ratio(r_wall)} wall, {fmt_ratio(r_cpu)} CPU",
                      f"≤ {FLAT_LIMIT:g} (flat)", judge(f"{prefix}: cost per {unit} flat", worst(r_in, r_wall),
                                                         FLAT_LIMIT))

    # Page files.
    sizes = [size for size in ("1MB", "100MB", "1GiB") if f"walk_{size}" in proc]
    alone = {}
    for size in sizes:
        info = pagefiles.get(size, {})
        table.section(f"Page file of {size} ({info.get('records', '?'):,} records, {info.get('bytes', 0):,} bytes; "
                      f"keys of {len(info.get('present', ''))} and {len(info.get('absent', ''))} digits): "
                      f"the command alone (whole run minus the walk, {fmt_time(pt('walk_' + size))}) against the "
                      f"tool alone (whole run minus the tool on an empty file)")
        for kind, label, ref, ref_label, limit, bench_name in (
                ("search_present", "search, key of the last record", "grep_present", "grep -F -x -m1 -A1",
                 SEARCH_LIMIT, "SearchPresent"),
                ("search_absent", "search, absent key", "grep_absent", "grep -F -x -m1 -A1", SEARCH_LIMIT,
                 "SearchAbsent"),
                ("listing", "listing (bare search)", "sed", "sed -n 'n;p'", LISTING_LIMIT, "Listing")):
            name = f"{kind}_{size}"
            tool_start = f"{'grep' if ref.startswith('grep') else 'sed'}_start_{size}"
            ok = checks.get(name, False)
            game_wall = minus(pt(name), pt(f"walk_{size}"))
            game_cpu = minus(pcpu(name), pcpu(f"walk_{size}"))
            tool_wall = minus(pt(f"{ref}_{size}"), pt(tool_start))
            alone[name] = game_wall if ok else None
            r = ratio(game_wall, tool_wall)
            r_whole = ratio(pt(name), pt(f"{ref}_{size}"))
            r_tool_whole = ratio(game_wall, pt(f"{ref}_{size}"))
            compared = (f"`{ref_label}`: {fmt_time(tool_wall)} alone, {fmt_time(pt(f'{ref}_{size}'))} whole, "
                        f"{fmt_kb(prss(f'{ref}_{size}'))}")
            if not ok:
                status = perror(name) or "wrong output (see checks)"
                unmeasured.append(f"{label}, {size}")
                table.add(label, fmt_time(it(f"{bench_name}/{size}"), "—"),
                          fmt_bytes(iheap(f"{bench_name}/{size}"), "—"),
                          status, "", fmt_kb(prss(name)), compared, "n/a", f"≤ {limit:g}", "not measured")
                continue
            table.add(label, fmt_time(it(f"{bench_name}/{size}"), "—"),
                      fmt_bytes(iheap(f"{bench_name}/{size}"), "—"),
                      fmt_time(game_wall), fmt_time(game_cpu), fmt_kb(prss(name)), compared,
                      f"{fmt_ratio(r)} (against the tool's whole run: {fmt_ratio(r_tool_whole)}; "
                      f"whole runs: {fmt_ratio(r_whole)})", f"≤ {limit:g}",
                      judge(f"{label}, {size}", r, limit))

    # Growth with the page file: time per byte and peak memory.
    kinds = (("search_present", "search, key of the last record"), ("search_absent", "search, absent key"),
             ("listing", "listing (bare search)"))
    if len(sizes) >= 2:
        small, large = ("100MB", "1GiB") if "1GiB" in sizes else ("1MB", "100MB")
        first, last = sizes[0], sizes[-1]
        table.section(f"Growth with the page file: time per byte {small} to {large}, peak memory {first} to {last}")
        for kind, label in kinds:
            a, b = alone.get(f"{kind}_{small}"), alone.get(f"{kind}_{large}")
            bytes_a = pagefiles.get(small, {}).get("bytes")
            bytes_b = pagefiles.get(large, {}).get("bytes")
            r = (b / bytes_b) / (a / bytes_a) if a and b and bytes_a and bytes_b else None
            table.add(f"{label}: time per byte", "", "", "", "", "", f"time per byte at {small}", fmt_ratio(r),
                      f"≤ {FLAT_LIMIT:g} (linear)", judge(f"{label}: linear in the file size", r, FLAT_LIMIT))
        for kind, label in kinds:
            if not checks.get(f"{kind}_{first}") or not checks.get(f"{kind}_{last}"):
                unmeasured.append(f"{label}: peak memory independent of the page file")
                table.add(f"{label}: peak RSS", "", "", "", "", "", "", "n/a", "independent", "not measured")
                continue
            a, b = prss(f"{kind}_{first}"), prss(f"{kind}_{last}")
            growth = None if a is None or b is None else b - a
            met = "not measured" if growth is None else ("**met**" if growth <= RSS_SLACK_KB else "**MISSED**")
            if growth is not None and growth > RSS_SLACK_KB:
                missed.append(f"{label}: peak memory independent of the page file")
            table.add(f"{label}: peak RSS at {last}", "", "", "", "", fmt_kb(b), f"peak RSS at {first}: {fmt_kb(a)}",
                      fmt_ratio(ratio(b, a)), f"grows ≤ {fmt_kb(RSS_SLACK_KB)}", met)

    # Sixteen games at once.
    fstype = "disk"
    path = os.path.join(args.work, "pagefiles.txt")
    if os.path.exists(path):
        with open(path) as handle:
            for line in handle:
                if line.startswith("diskhide_fstype "):
                    fstype = line.split()[1]
    for prefix, where in (("hide", "page file on a tmpfs"), ("diskhide", f"page file on the root file system ({fstype})")):
        table.section(f"16 games at once, each walking, taking the book, writing and hiding 200 pages "
                      f"(3,200 records), {where}")
        hide_checks = [value for key, value in checks.items() if key.startswith(f"{prefix}16")]
        t16, t1 = pt(f"{prefix}16"), pt(f"{prefix}1")
        if hide_checks and all(hide_checks) and t16:
            r = ratio(t16, 16 * t1) if t1 else None
            rate1 = f"{200 / t1:,.0f} records/s" if t1 else "n/a"
            table.add(f"16 games: {16 * 200 / t16:,.0f} records/s", "", "", fmt_time(t16),
                      fmt_time(pcpu(f"{prefix}16")), f"{fmt_kb(prss(f'{prefix}16'))} (largest game)",
                      f"16 × one game alone ({fmt_time(t1)}, CPU {fmt_time(pcpu(f'{prefix}1'))}, {rate1})",
                      fmt_ratio(r), f"≤ {FLAT_LIMIT:g} (linear)",
                      judge(f"16 games hiding, {where}: linear in the work", r, FLAT_LIMIT))
            table.add(f"16 games: every record in the page file once and whole ({len(hide_checks)} runs checked)",
                      "", "", "", "", "", "", "", "all", "**met**")
        else:
            status = perror(f"{prefix}16") or "page file wrong (see checks)"
            unmeasured.append(f"16 games hiding, {where}")
            table.add("16 games", "", "", status, "", fmt_kb(prss(f"{prefix}16")), "", "n/a", "", "not measured")

    print("## Machine\n")
    for key, value in machine(args.build):
        print(f"- {key}: {value}")
    print(f"- Load average (1, 5, 15 min) when the table was made: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    print(f"\nCommand: `{args.command}`\n")
    print("## Results\n")
    print(table.render())
    print()
    failed = sorted(name for name, good in checks.items() if not good)
    print(f"Correctness checks: {len(checks) - len(failed)} of {len(checks)} passed"
          + (f"; failed: {', '.join(failed)}" if failed else "") + ".")
    errors = sorted(f"{name} ({entry['error']})" for name, entry in inproc.items() if "error" in entry)
    if errors:
        print(f"In-process benchmarks that did not run: {', '.join(errors)}.")
    print("Targets missed: " + ("; ".join(missed) if missed else "none") + ".")
    if unmeasured:
        print("Targets not measured: " + "; ".join(unmeasured) + ".")


if __name__ == "__main__":
    main()
