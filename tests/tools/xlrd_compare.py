#!/usr/bin/python3
"""Compares sheetdump's reading of workbooks with an independent reader.

For every workbook given, every cell that xlrd reports as text, number,
date, boolean or error must come out of `sheetdump --exact` (or the
options given with --options) at the same position with the same value:
texts equal, numbers equal after strtod, dates equal to xlrd's
xldate_as_tuple rounded to the second, booleans TRUE/FALSE, errors by
name. Sheets are told apart with `sheetdump --list`.

usage: xlrd_compare.py SHEETDUMP [--options "..."] [--verbose] FILE...
Prints one line per file and a summary; exits 1 when a cell differs.
"""
import csv
import datetime
import io
import re
import subprocess
import sys

try:
    import xlrd
except ImportError:
    print("SKIP: python3-xlrd is not installed")
    raise SystemExit(77)


def run(binary, args):
    p = subprocess.run([binary] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return p.stdout.decode("utf-8"), p.stderr.decode("utf-8", "replace")


def sheets_of(binary, path):
    out, _ = run(binary, ["--list", path])
    sheets = []
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) < 6:
            continue
        sheets.append((parts[3], int(parts[4]), int(parts[5])))
    return sheets


def grids(binary, options, path):
    """sheetdump's CSV output cut into one grid per worksheet."""
    out, err = run(binary, options + ["--csv", path])
    rows = list(csv.reader(io.StringIO(out, newline="")))
    result, at = [], 0
    for kind, nrows, _ in sheets_of(binary, path):
        if kind != "worksheet":
            result.append(None)
            continue
        result.append(rows[at:at + nrows])
        at += nrows
    return result, err


def iso_of(value, datemode):
    try:
        t = xlrd.xldate_as_tuple(value, datemode)
    except Exception:
        return None
    return t


def parse_iso(text):
    for fmt in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d", "%H:%M:%S.%f",
                "%H:%M:%S"):
        try:
            return datetime.datetime.strptime(text, fmt), fmt
        except ValueError:
            pass
    return None, None


DURATION = re.compile(r"^(-?)(\d+)(?::(\d\d))?(?::(\d\d))?(?:\.(\d{3}))?$")


def same_duration(ours, value):
    """A duration in its leading unit ([h] H:MM:SS, [m] M:SS, [s] S), which
    xlrd reports as a date: compare the seconds it stands for."""
    m = DURATION.match(ours)
    if not m or (m.group(3) is None and m.group(5) is None):
        return False
    parts = [int(g) for g in m.group(2, 3, 4) if g is not None]
    seconds = 0
    for p in parts:
        seconds = seconds * 60 + p
    if len(parts) == 2:  # [m]:ss
        pass
    seconds += int(m.group(5) or 0) / 1000
    if m.group(1):
        seconds = -seconds
    return abs(seconds - value * 86400) <= 0.0015


def same_date(ours, value, datemode):
    if same_duration(ours, value):
        return True
    t = iso_of(value, datemode)
    if t is None:
        return True  # xlrd gives no date: nothing to compare
    got, fmt = parse_iso(ours)
    if got is None:
        try:
            return float(ours) == value  # shown as a number by its format
        except ValueError:
            return False
    y, mo, d, h, mi, s = t
    want = datetime.datetime(max(y, 1900) if y else 1900, mo or 1, d or 1, h, mi, s)
    if not fmt.startswith("%Y"):
        return (got.hour, got.minute, round(got.second + got.microsecond / 1e6) % 60) == (h, mi, s) \
            or abs((got.hour * 3600 + got.minute * 60 + got.second + got.microsecond / 1e6)
                   - (h * 3600 + mi * 60 + s)) <= 1
    if "%H" not in fmt:
        return (got.year, got.month, got.day) == (want.year, want.month, want.day) or y == 0
    delta = abs((got - want).total_seconds())
    return delta <= 1 or y == 0


def compare(binary, options, path, verbose):
    book = xlrd.open_workbook(path, formatting_info=False, on_demand=False)
    ours, err = grids(binary, options, path)
    stats = {"cells": 0, "same": 0, "missing": 0, "different": 0}
    worksheets = [s for s in book.sheets()]
    # xlrd lists worksheets only; sheetdump lists every substream.
    ours_ws = [g for g in ours if g is not None]
    problems = []
    for si, sheet in enumerate(worksheets):
        grid = ours_ws[si] if si < len(ours_ws) else []
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                stats["cells"] += 1
                text = grid[r][c] if r < len(grid) and c < len(grid[r]) else None
                ok = False
                if text is None or (text == "" and not (cell.ctype == xlrd.XL_CELL_TEXT and cell.value == "")):
                    stats["missing"] += 1
                    problems.append((sheet.name, r, c, cell, text))
                    continue
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    ok = text == cell.value.split("\0")[0]
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    try:
                        ok = float(text) == cell.value
                    except ValueError:
                        ok = same_date(text, cell.value, book.datemode)
                elif cell.ctype == xlrd.XL_CELL_DATE:
                    ok = same_date(text, cell.value, book.datemode)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    ok = text == ("TRUE" if cell.value else "FALSE")
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    ok = text == xlrd.error_text_from_code.get(cell.value, "#N/A")
                if ok:
                    stats["same"] += 1
                else:
                    stats["different"] += 1
                    problems.append((sheet.name, r, c, cell, text))
    return stats, problems, err


def main(argv):
    binary = argv[1]
    options = ["--exact"]
    verbose = False
    files = []
    i = 2
    while i < len(argv):
        if argv[i] == "--options":
            options = argv[i + 1].split()
            i += 2
            continue
        if argv[i] == "--verbose":
            verbose = True
        else:
            files.append(argv[i])
        i += 1
    total = {"cells": 0, "same": 0, "missing": 0, "different": 0}
    failed = 0
    for path in files:
        try:
            stats, problems, err = compare(binary, options, path, verbose)
        except Exception as e:  # xlrd cannot read it: nothing to compare
            print("SKIP %s: %s" % (path, str(e).splitlines()[0] if str(e) else type(e).__name__))
            continue
        for k in total:
            total[k] += stats[k]
        bad = stats["missing"] + stats["different"]
        if bad:
            failed += 1
        print("%s %s: %d cells, %d same, %d missing, %d different" % (
            "DIFF" if bad else "OK", path, stats["cells"], stats["same"], stats["missing"],
            stats["different"]))
        if verbose:
            for name, r, c, cell, text in problems[:10]:
                print("    %s!R%dC%d xlrd %s %r, sheetdump %r" % (
                    name, r + 1, c + 1, xlrd.sheet.ctype_text.get(cell.ctype), cell.value, text))
    print("TOTAL: %d cells, %d same, %d missing, %d different, %d files differ" % (
        total["cells"], total["same"], total["missing"], total["different"], failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
