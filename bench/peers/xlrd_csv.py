#!/usr/bin/python3
"""Peer for the benchmarks: every sheet of an .xls file as CSV on stdout,
read with xlrd (every field quoted, like sheetdump's CSV mode)."""
import csv
import sys

import xlrd


def main(paths):
    out = csv.writer(sys.stdout, quoting=csv.QUOTE_ALL, lineterminator="\n")
    for path in paths:
        book = xlrd.open_workbook(path, on_demand=True)
        for index in range(book.nsheets):
            sheet = book.sheet_by_index(index)
            for row in range(sheet.nrows):
                out.writerow(sheet.row_values(row))
            book.unload_sheet(index)


if __name__ == "__main__":
    main(sys.argv[1:])
