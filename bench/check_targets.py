#!/usr/bin/env python3
"""Reads what bench/run.sh measured (hyperfine's JSON exports, peak memory
from /usr/bin/time, Google Benchmark's JSON) and prints, in Markdown, the
table of figures and the verdict on each performance target.

    check_targets.py RESULTS_DIR

Times are hyperfine's medians. A figure whose runs ended with an unexpected
exit status (anything but 0; 1 for grep with the absent key) is left out and
named. Always exits 0: the verdicts are for reading, not a test."""

import json
import sys
from pathlib import Path

MIB = 1024 * 1024

results = Path(sys.argv[1])
runs, problems, targets = {}, [], []


def tsv(name):
    path = results / name
    return [line.split("\t") for line in path.read_text().splitlines()] if path.exists() else []


for path in sorted(results.glob("*.json")):
    if path.name != "inprocess.json":
        for run in json.loads(path.read_text())["results"]:
            runs[path.stem, run["command"]] = run
peak = {(group, name): int(kib) for group, name, kib in tsv("peak.tsv")}
files = {row[0]: row[1:] for row in tsv("pagefiles.tsv")}  # bytes, last key (= records), absent key
machine = dict(tsv("machine.tsv"))
quick = "--quick" in machine.get("command", "")
compared = machine.get("compared with")


def t(group, name):
    """Median wall time in seconds, or None when not measured or failed."""
    run = runs.get((group, name))
    if run is None:
        return None
    expected = 1 if name == "grep-absent" else 0
    if any(code != expected for code in run["exit_codes"]):
        problems.append(f"{group} / {name}: exit status {sorted(set(run['exit_codes']))}, expected {expected}")
        return None
    return run["median"]


def ratio(a, b):
    return None if a is None or b is None or b <= 0 else a / b


def minus(a, b):
    return None if a is None or b is None else a - b


def per(a, b, count, what):
    if a is None or b is None:
        return None
    if a <= b:
        problems.append(f"{what}: not above its baseline, too noisy to tell")
        return None
    return (a - b) / count


def ms(seconds):
    if seconds is None:
        return "—"
    if abs(seconds) < 1e-3:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e3:.2f} ms" if abs(seconds) < 1 else f"{seconds:.3f} s"


def num(value):
    return "—" if value is None else f"{value:.2f}"


def mib(kib):
    return "—" if kib is None else f"{kib / 1024:.1f} MiB"


def target(name, figure, value, limit, judged=True):
    if value is None:
        verdict = "not measured"
    elif not judged:
        verdict = "not judged"
    else:
        verdict = "**met**" if value <= limit else "**MISSED**"
    targets.append((name, figure, num(value), f"≤ {limit:g}", verdict))


def table(header, rows):
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()


print("## Machine\n")
for key, value in machine.items():
    print(f"- {key}: {value}")
print()
if quick:
    print("**Quick run**: small files and few runs. It shows that the tooling works; its verdicts are not for judging.\n")

# ---- Search and listing against grep, sed and dd on the same page file ----
print("## Page-file search, page cache warm\n")
print("*alone*: the game's whole run less a game that only walks to the library; "
      "*dd read*: `dd bs=256K of=/dev/null` of the same file.\n")
header = ["Case", "ours", "alone", "tool", "tool's time", "dd read", "ours ÷ tool", "alone ÷ tool", "alone ÷ dd",
          "peak RSS"]
if compared:
    header += [f"before ({compared})", "ours ÷ before"]
for label, title in (("short", "short records"), ("long", "64 records of 1 MB texts")):
    if label not in files:
        continue
    size, last, absent = files[label]
    group = "search-" + label
    print(f"**{title}**: {int(size):,} bytes, {int(last):,} records; last key {last}, absent key {absent}\n")
    walk, dd = t(group, "walk"), t(group, "dd")
    rows = []
    for case, ours_name, tool_name, tool in (("last record", "search-last", "grep-last", "grep"),
                                             ("absent key", "search-absent", "grep-absent", "grep"),
                                             ("listing", "listing", "sed", "sed")):
        ours, other = t(group, ours_name), t(group, tool_name)
        alone = minus(ours, walk)
        row = [case, ms(ours), ms(alone), tool, ms(other), ms(dd), num(ratio(ours, other)),
               num(ratio(alone, other)), num(ratio(alone, dd)), mib(peak.get((label, ours_name)))]
        before = t(group, "old-" + ours_name) if compared else None
        rows.append(row + [ms(before), num(ratio(ours, before))] if compared else row)
        if tool == "grep":
            limit = 0.5 if label == "short" else 1.0
            judged = label == "long" or int(size) >= 512 * 10**6
            target(f"{title}, {case}: at most {limit:g} times grep" + ("" if judged else " (file under 512 MB)"),
                   "ours ÷ grep", ratio(ours, other), limit, judged)
            target(f"{title}, {case}: the search alone at most 3 times the dd read", "alone ÷ dd",
                   ratio(alone, dd), 3)
        elif compared:
            # Two builds of the same code differ by up to a few per cent.
            target(f"{title}, listing as fast as before ({compared}) or faster, within 5 %", "ours ÷ before",
                   ratio(ours, before), 1.05)
        kib = peak.get((label, ours_name))
        target(f"{title}, {case}: peak memory under 4 MiB", "peak RSS, MiB", None if kib is None else kib / 1024, 4)
        if label == "short" and ("small", ours_name) in peak and kib is not None:
            target(f"{title}, {case}: peak memory flat from {int(files['small'][0]):,} to {int(size):,} bytes",
                   "growth, MiB", (kib - peak["small", ours_name]) / 1024, 1)
    table(header, rows)
    extra = [f"{name} {mib(peak.get((label, name)))}" for name in ("grep-absent", "sed")]
    print(f"Peak RSS of the tools: {', '.join(extra)}.\n")
if not compared:
    print("The listing against the game as it was: run with `--compare REV`.\n")

# ---- Start-up, sessions, writing, hiding, one long line ----
print("## Start-up, sessions, writing and hiding pages\n")
rows = []
hello = t("startup", "hello")
start = t("startup", "startup")
rows.append(["start-up to the end of an empty input", ms(start), f"hello world {ms(hello)}", num(ratio(start, hello))])
target("start-up within 2 times hello world", "game ÷ hello world", ratio(start, hello), 2)
for group, base, what, unit in (("session", "name", "walking and looking", "command"),
                                ("write", "write-0", "writing pages", "page")):
    small, large = (per(t(group, f"{group}-{n}"), t(group, base), n, f"{what}, {n:,}") for n in (1000, 100000))
    rows.append([f"{what}, per {unit} at 1,000", ms(small), "", ""])
    rows.append([f"{what}, per {unit} at 100,000", ms(large), f"per {unit} at 1,000", num(ratio(large, small))])
    target(f"{what}: cost per {unit} flat from 1,000 to 100,000", "per 100,000 ÷ per 1,000", ratio(large, small), 1.5)
none, each, run = (t("hide", name) for name in ("hide-none", "hide-each", "hide-run"))
pages = f"{int(tsv('hide.tsv')[0][0]):,}" if tsv("hide.tsv") else "the"
rows.append([f"writing {pages} pages, no hiding", ms(none), "", ""])
rows.append([f"hiding {pages} pages one at a time, whole run", ms(each), f"in one run {ms(run)}",
             num(ratio(each, run))])
rows.append([f"hiding {pages} pages one at a time, hiding alone", ms(minus(each, none)),
             f"in one run {ms(minus(run, none))}", num(ratio(minus(each, none), minus(run, none)))])
target("hiding one page at a time at most 3 times hiding them in one run", "hiding alone, ratio",
       ratio(minus(each, none), minus(run, none)), 3)
line = tsv("line.tsv")
if line:
    length, kib, _seconds, status = line[0]
    share = int(kib) * 1024 / int(length) if status == "0" else None
    if status != "0":
        problems.append(f"the game with one line of {int(length):,} bytes exited with status {status}")
    rows.append([f"one line of {int(length):,} bytes written on a page: peak RSS", mib(int(kib)),
                 f"line length {int(length) / MIB:.1f} MiB", num(share)])
    target("peak memory for one line within 5 times its length", "peak RSS ÷ length", share, 5)
table(["Figure", "ours", "compared with", "ratio"], rows)

# ---- In-process figures ----
inprocess = results / "inprocess.json"
if inprocess.exists():
    print("## In-process (Google Benchmark)\n")
    rows = []
    for bench in json.loads(inprocess.read_text())["benchmarks"]:
        unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[bench["time_unit"]]
        rate = (f"{bench['items_per_second']:,.0f} items/s" if "items_per_second" in bench else
                f"{bench['bytes_per_second'] / 1e9:.2f} GB/s" if "bytes_per_second" in bench else "")
        rows.append([bench["name"], ms(bench["real_time"] * unit), ms(bench["cpu_time"] * unit), rate])
    table(["Benchmark", "wall", "CPU", "rate"], rows)

print("## Targets\n")
table(["Target", "Figure", "Value", "Limit", "Verdict"], targets)
missed = [name for name, *_, verdict in targets if "MISSED" in verdict]
unmeasured = [name for name, *_, verdict in targets if verdict == "not measured"]
print(f"Targets met: {sum('**met**' == v for *_, v in targets)} of {len(targets)}; "
      f"missed: {'; '.join(missed) or 'none'}; not measured: {len(unmeasured)}.")
for problem in dict.fromkeys(problems):
    print(f"\nNot measured: {problem}")
