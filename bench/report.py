#!/usr/bin/python3
"""Turns the measurements of bench/run.sh into bench/RESULTS.md and the data
file of the bar chart.

    report.py WORK_DIR RESULTS_MD CHART_DAT [HEADLINE_MD]

WORK_DIR holds files.tsv, outputs.tsv, rss.tsv, instructions.tsv, big.tsv
and the hyperfine exports NAME.sheetdump.json / NAME.peers.json; before.txt,
when present, names the older binary measured as "before" (commands
"before MODE" beside "sheetdump MODE"). BENCH_NOTE, when set, is placed at the
top of the report. HEADLINE_MD receives the short table that the README shows.
"""
import csv
import json
import os
import platform
import subprocess
import sys

MODES = ["csv", "tab", "sql", "sql_postgres_isodate"]
MODE_ARGS = {"csv": "--csv", "tab": "--tab", "sql": "--sql",
             "sql_postgres_isodate": "--sql --postgres --isodate"}
PEERS = ["xls2csv", "ssconvert", "xlrd"]
PEER_LABELS = {"xls2csv": "catdoc xls2csv", "ssconvert": "gnumeric ssconvert",
               "xlrd": "python3 xlrd"}
TARGET_BOOKS = ["numeric", "mixed"]
# Wall time over the I/O floor that each mode aims at.
FLOOR_TARGETS = {"csv": 2.0, "tab": 2.0, "sql": 2.5, "sql_postgres_isodate": 2.5}
RENDERINGS = ["--csv --all", "--csv --exact", "--csv --formatted", "--tab --formatted",
              "--sql --formatted"]
INSTRUCTION_TARGET = 1 / 3   # of the before binary's count
RENDERING_TARGET = 1.5       # times the default count in the same output mode
BIG_RSS_TARGET = 64 * 1024 * 1024


def read_tsv(path):
    if not os.path.exists(path):
        return []
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def run(cmd):
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, check=False).stdout
        return out.strip()
    except OSError:
        return ""


def package_version(*names):
    for name in names:
        v = run(["dpkg-query", "-W", "-f=${Version}", name])
        if v:
            return f"{name} {v}"
    return "not installed"


def machine():
    model = cores = ""
    for line in run(["lscpu"]).splitlines():
        key, _, value = line.partition(":")
        if key.strip() == "Model name" and not model:
            model = value.strip()
        if key.strip() == "CPU(s)" and not cores:
            cores = value.strip()
    mem_kb = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kb = int(line.split()[1])
    os_name = platform.system()
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    os_name = line.split("=", 1)[1].strip().strip('"')
    return model, cores, mem_kb / 1024 / 1024, f"{os_name}, Linux {platform.release()}"


def load_times(work, names):
    """Median, mean and stddev in seconds per (workbook, command name)."""
    times = {}
    for name in names:
        for kind in ("sheetdump", "peers"):
            path = os.path.join(work, f"{name}.{kind}.json")
            if not os.path.exists(path):
                continue
            with open(path) as f:
                for r in json.load(f)["results"]:
                    times[(name, r["command"])] = r
    return times


def fmt_s(seconds):
    if seconds >= 10:
        return f"{seconds:.1f} s"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    return f"{seconds * 1000:.0f} ms" if seconds >= 0.01 else f"{seconds * 1000:.1f} ms"


def fmt_mb(nbytes):
    return f"{nbytes / 1e6:.1f} MB"


def main(work, results_md, chart_dat, headline_md=None):
    files = {r["workbook"]: int(r["bytes"]) for r in read_tsv(os.path.join(work, "files.tsv"))}
    names = list(files)
    outputs = {(r["workbook"], r["mode"]): int(r["output_bytes"])
               for r in read_tsv(os.path.join(work, "outputs.tsv"))}
    rss = {(r["workbook"], r["command"]): int(r["peak_rss_kb"] or 0) * 1024
           for r in read_tsv(os.path.join(work, "rss.tsv"))}
    times = load_times(work, names)
    instr = {(r["workbook"], r["command"]): int(r["instructions"])
             for r in read_tsv(os.path.join(work, "instructions.tsv")) if r["instructions"]}
    big = read_tsv(os.path.join(work, "big.tsv"))
    before_path = None
    if os.path.exists(os.path.join(work, "before.txt")):
        with open(os.path.join(work, "before.txt")) as f:
            before_path = f.read().strip()
    has_before = before_path is not None
    peers = [p for p in PEERS if any((n, p) in times for n in names)]

    def median(name, command):
        r = times.get((name, command))
        return r["median"] if r else None

    def cpu(name, command):
        """Mean user + system time: less sensitive to other load than wall time."""
        r = times.get((name, command))
        return r["user"] + r["system"] if r else None

    def floor(name, mode):
        cat, write = median(name, "cat"), median(name, f"write {mode}")
        return cat + write if cat is not None and write is not None else None

    out = []
    w = out.append
    w("# Benchmark results\n")
    w("Whole-process conversions of the benchmark workbooks to `/dev/null`, "
      "timed with `hyperfine` (median of the runs); peak memory is the maximum "
      "resident set size that `/usr/bin/time` reports (`%M`, the figure of its `-v` output). MB/s is input megabytes "
      "(10^6 bytes) per second. Produced by `bench/run.sh`.\n")
    note = os.environ.get("BENCH_NOTE", "").strip()
    if note:
        w(f"> {note}\n")

    model, cores, mem_gib, os_name = machine()
    w("## Machine and versions\n")
    w(f"- CPU: {model}, {cores} cores; memory {mem_gib:.0f} GiB; {os_name}")
    commit = run(["git", "rev-parse", "--short", "HEAD"])
    # Only changes to the program itself make the measured build differ.
    if subprocess.run(["git", "diff", "--quiet", "HEAD", "--", "src", "CMakeLists.txt"],
                      check=False).returncode != 0:
        commit += " with uncommitted changes to src/"
    w(f"- sheetdump: commit {commit}, {run(['g++', '--version']).splitlines()[0]}, "
      "Release build (`-O2`)")
    w(f"- peers: {package_version('python3-xlrd')} ({run(['/usr/bin/python3', '--version'])}), "
      f"{package_version('catdoc')}, {package_version('gnumeric')}")
    w(f"- real-writer file saved by {package_version('libreoffice-calc-nogui', 'libreoffice-calc', 'libreoffice-core')}")
    if has_before:
        bc = run(["git", "-C", os.path.dirname(before_path), "rev-parse", "--short", "HEAD"])
        w(f"- before: `{before_path}`" + (f" (checkout at commit {bc})" if bc else ""))
    w(f"- {run(['hyperfine', '--version'])}; {run(['valgrind', '--version']) or 'valgrind not installed'}\n")

    w("## Workbooks\n")
    w("| workbook | size | content |")
    w("|---|---:|---|")
    content = {
        "numeric": "65,000 rows x 20 columns: integers and 2-decimal numbers (RK and NUMBER records)",
        "mixed": "60,000 rows x 12 columns: texts from a pool of 30,000 strings, integers, "
                 "decimals, dates (m/d/yy, m/d/yy h:mm), percentages",
        "multi": "8 sheets x 8,000 rows x 10 columns",
        "mixed_libreoffice": "`mixed` saved by LibreOffice as Excel 97",
    }
    for n in names:
        w(f"| {n} | {fmt_mb(files[n])} | {content.get(n, '')} |")
    w("")

    # Headline: CSV against every peer.
    w("## CSV: sheetdump against the peers\n")
    w("Median time, and in brackets how many times longer than sheetdump's.\n")
    head = "| workbook | sheetdump | " + " | ".join(PEER_LABELS[p] for p in peers) + " | I/O floor |"
    w(head)
    w("|---" * (3 + len(peers)) + "|")
    for n in names:
        base = median(n, "sheetdump csv")
        if base is None:
            continue
        cells = [f"{fmt_s(base)} ({files[n] / base / 1e6:.0f} MB/s)"]
        for p in peers:
            t = median(n, p)
            cells.append(f"{fmt_s(t)} ({t / base:.1f}x)" if t is not None else "n/a")
        fl = floor(n, "csv")
        cells.append(fmt_s(fl) if fl is not None else "n/a")
        w(f"| {n} | " + " | ".join(cells) + " |")
    w("")
    w("The I/O floor is `cat FILE > /dev/null` plus writing the output's size "
      "(`head -c SIZE /dev/zero > /dev/null`).\n")
    w("The same in CPU time (user + system, mean of the runs), which other load "
      "on the machine disturbs less than wall time:\n")
    w("| workbook | sheetdump | " + " | ".join(PEER_LABELS[p] for p in peers) + " |")
    w("|---" * (2 + len(peers)) + "|")
    for n in names:
        base = cpu(n, "sheetdump csv")
        if base is None:
            continue
        cells = [fmt_s(base)]
        for p in peers:
            t = cpu(n, p)
            cells.append(f"{fmt_s(t)} ({t / base:.1f}x)" if t is not None else "n/a")
        w(f"| {n} | " + " | ".join(cells) + " |")
    w("")

    w("## sheetdump in every mode\n")
    w("Target: wall time (median) within 2x of the I/O floor for `--csv` and `--tab`, "
      "2.5x for the SQL modes.\n")
    if has_before:
        w("\"before\" is the older binary, \"after\" this build; both ran in the same "
          "`hyperfine` invocation, each right after the other in every mode, so that they "
          "meet the same load.\n")
        w("| workbook | mode | before | after | after / before | CPU after | MB/s after | output | "
          "I/O floor | after / floor | target | RSS before | RSS after | RSS after / before |")
        w("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|")
    else:
        w("| workbook | mode | median | CPU | MB/s | output | I/O floor | x floor | target | "
          "peak RSS | RSS / input |")
        w("|---|---|---:|---:|---:|---:|---:|---:|---|---:|---:|")
    for n in names:
        for m in MODES:
            t = median(n, f"sheetdump {m}")
            if t is None:
                continue
            fl = floor(n, m)
            r = rss.get((n, f"sheetdump {m}"), 0)
            fl_text, x_floor = (fmt_s(fl), f"{t / fl:.2f}") if fl else ("n/a", "n/a")
            goal = FLOOR_TARGETS[m]
            target = f"{goal:g}x: {'met' if t / fl <= goal else 'missed'}" if fl else "n/a"
            if has_before:
                tb = median(n, f"before {m}")
                rb = rss.get((n, f"before {m}"), 0)
                w(f"| {n} | `{MODE_ARGS[m]}` | {fmt_s(tb) if tb else 'n/a'} | {fmt_s(t)} | "
                  f"{f'{t / tb:.2f}' if tb else 'n/a'} | {fmt_s(cpu(n, f'sheetdump {m}'))} | "
                  f"{files[n] / t / 1e6:.0f} | {fmt_mb(outputs.get((n, m), 0))} | {fl_text} | "
                  f"{x_floor} | {target} | {fmt_mb(rb)} | {fmt_mb(r)} | "
                  f"{f'{r / rb:.2f}' if rb else 'n/a'} |")
            else:
                w(f"| {n} | `{MODE_ARGS[m]}` | {fmt_s(t)} | {fmt_s(cpu(n, f'sheetdump {m}'))} | "
                  f"{files[n] / t / 1e6:.0f} | "
                  f"{fmt_mb(outputs.get((n, m), 0))} | {fl_text} | {x_floor} | {target} | "
                  f"{fmt_mb(r)} | {r / files[n]:.2f} |")
    w("")

    for b in big:
        n, size = b["workbook"], int(b["bytes"])
        ra, rb = rss.get((n, "sheetdump csv"), 0), rss.get((n, "before csv"), 0)
        verdict = lambda r: "met" if r <= BIG_RSS_TARGET else "missed"
        line = (f"Memory: `--csv` of {n}.xls ({fmt_mb(size)}, numeric's sheet 16 times over): "
                f"peak RSS {fmt_mb(ra)} ({ra / 2**20:.0f} MiB) after, target 64 MiB: {verdict(ra)}")
        if has_before and rb:
            line += f"; before {fmt_mb(rb)} ({rb / 2**20:.0f} MiB): {verdict(rb)}"
        w(line + ".\n")

    w("## Instructions\n")
    if not instr:
        w("Not counted in this run: valgrind is missing, or the run was `--quick` "
          "(set `BENCH_CALLGRIND=1` to count with `--quick`).\n")
    else:
        w("Instructions executed by one run under `valgrind --tool=callgrind` (its `I refs`); "
          "unlike wall time they do not depend on the load of the machine.\n")
        w("| workbook | mode | before | after | after / before | 1/3 of before |")
        w("|---|---|---:|---:|---:|---|")
        for n in names:
            for m in MODES:
                a, b = instr.get((n, f"sheetdump {m}")), instr.get((n, f"before {m}"))
                if a is None:
                    continue
                q = a / b if b else None
                target = (f"{'met' if q <= INSTRUCTION_TARGET else 'missed'}" if q is not None
                          else "n/a")
                w(f"| {n} | `{MODE_ARGS[m]}` | {f'{b:,}' if b else 'n/a'} | {a:,} | "
                  f"{f'{q:.3f}' if q is not None else 'n/a'} | {target} |")
        w("")
        w("The opt-in renderings against the default of the same output mode "
          "(`--csv`, `--tab` or `--sql`) of the same build:\n")
        w("| workbook | rendering | instructions | default | / default | 1.5x default |")
        w("|---|---|---:|---:|---:|---|")
        for n in names:
            for rd in RENDERINGS:
                mode = rd.split()[0].lstrip("-")
                base = instr.get((n, f"sheetdump {mode}"))
                a = instr.get((n, f"sheetdump {rd}"))
                if a is None or not base:
                    continue
                q = a / base
                w(f"| {n} | `{rd}` | {a:,} | {base:,} | {q:.2f} | "
                  f"{'met' if q <= RENDERING_TARGET else 'missed'} |")
        w("")

    if peers:
        w("## Peers (CSV)\n")
        w("| workbook | peer | median | CPU | MB/s | peak RSS | RSS / input | time / sheetdump's |")
        w("|---|---|---:|---:|---:|---:|---:|---:|")
        for n in names:
            base = median(n, "sheetdump csv")
            for p in peers:
                t = median(n, p)
                if t is None:
                    continue
                r = rss.get((n, p), 0)
                ratio = f"{t / base:.1f}" if base else "n/a"
                w(f"| {n} | {PEER_LABELS[p]} | {fmt_s(t)} | {fmt_s(cpu(n, p))} | {files[n] / t / 1e6:.1f} | "
                  f"{fmt_mb(r)} | {r / files[n]:.2f} | {ratio} |")
        w("")

    # Targets, judged on the wall-time medians; the CPU-time ratio beside
    # them shows what a busy machine did to the medians.
    w("## Targets\n")
    w("Judged on the medians of wall time; the CPU-time ratio (user + system) "
      "is given beside them.\n")
    w("| target | figure (wall) | figure (CPU) | met |")
    w("|---|---|---|---|")

    def ratio(a, b):
        return a / b if a is not None and b else None

    def show(q, digits=1):
        return f"{q:.{digits}f}x" if q is not None else "n/a"

    for n in TARGET_BOOKS:
        if median(n, "sheetdump csv") is None:
            continue
        others = [(median(n, p), p) for p in peers if p != "xlrd" and median(n, p) is not None]
        if others:
            t, p = min(others)
            q = ratio(t, median(n, "sheetdump csv"))
            w(f"| {n}: CSV >= 3x faster than the fastest other peer ({p}) | {show(q)} | "
              f"{show(ratio(cpu(n, p), cpu(n, 'sheetdump csv')))} | {'yes' if q >= 3 else 'no'} |")
        if median(n, "xlrd") is not None:
            q = ratio(median(n, "xlrd"), median(n, "sheetdump csv"))
            w(f"| {n}: CSV >= 30x faster than xlrd | {show(q)} | "
              f"{show(ratio(cpu(n, 'xlrd'), cpu(n, 'sheetdump csv')))} | {'yes' if q >= 30 else 'no'} |")
    worst_rss = max(((rss.get((n, f"sheetdump {m}"), 0) / files[n], n, m)
                     for n in names for m in MODES), default=None)
    if worst_rss:
        q, n, m = worst_rss
        w(f"| peak RSS <= 2x input, every workbook and mode | worst {q:.2f}x ({n}, `{MODE_ARGS[m]}`) | | "
          f"{'yes' if q <= 2 else 'no'} |")
    worst_floor = max(((median(n, f"sheetdump {m}") / floor(n, m), n, m)
                       for n in names for m in MODES
                       if median(n, f"sheetdump {m}") and floor(n, m)), default=None)
    if worst_floor:
        q, n, m = worst_floor
        w(f"| within 5x of the I/O floor, every workbook and mode | worst {q:.1f}x ({n}, `{MODE_ARGS[m]}`) | | "
          f"{'yes' if q <= 5 else 'no'} |")
    w("")

    w("## Reproducing\n")
    w("    bench/install-peers.sh   # hyperfine, time, gnuplot, python3-xlrd, catdoc, gnumeric, LibreOffice")
    w("    bench/run.sh             # writes bench/RESULTS.md and bench/results.svg")
    w("")
    w("![Throughput chart](results.svg)")
    with open(results_md, "w") as f:
        f.write("\n".join(out) + "\n")

    if headline_md:
        lines = ["| workbook | size | sheetdump `--csv` | " +
                 " | ".join(PEER_LABELS[p] for p in peers) + " | sheetdump peak RSS |",
                 "|---|---:|" + "---:|" * (2 + len(peers))]
        for n in names:
            base = median(n, "sheetdump csv")
            if base is None:
                continue
            cells = [n, fmt_mb(files[n]), f"{fmt_s(base)} ({files[n] / base / 1e6:.0f} MB/s)"]
            for p in peers:
                t = median(n, p)
                cells.append(f"{fmt_s(t)} ({t / base:.1f}x)" if t is not None else "n/a")
            cells.append(fmt_mb(max(rss.get((n, f"sheetdump {m}"), 0) for m in MODES)))
            lines.append("| " + " | ".join(cells) + " |")
        with open(headline_md, "w") as f:
            f.write("\n".join(lines) + "\n")

    # Chart data: input MB/s per workbook, sheetdump CSV, each peer, floor.
    with open(chart_dat, "w") as f:
        cols = ["sheetdump"] + [PEER_LABELS[p] for p in peers] + ["I/O floor"]
        f.write("workbook\t" + "\t".join(f'"{c}"' for c in cols) + "\n")
        for n in names:
            vals = [median(n, "sheetdump csv")] + [median(n, p) for p in peers] + [floor(n, "csv")]
            f.write(n + "\t" + "\t".join(
                f"{files[n] / v / 1e6:.3f}" if v else "NaN" for v in vals) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:5])
