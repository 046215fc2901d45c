#!/usr/bin/env python3
"""Writes damaged copies of a workbook: in each copy one RK cell record,
found at a given fraction of all of them, is changed in place so that the
sheet it stands in can no longer be written as its records come (a cell
going back, a cell outside the grid, a repeated position, a record of
another kind, a record running past the data, the file cut short).

Usage: damage_records.py WORKBOOK OUTDIR FRACTION...
Writes OUTDIR/<damage>-<fraction>.xls and prints the names written."""
import struct
import sys

RK = b"\x7e\x02\x0a\x00"  # id 0x027E, 10 bytes of data


def rk_offsets(data):
    offsets = []
    at = data.find(RK)
    while at >= 0:
        offsets.append(at)
        at = data.find(RK, at + 14)
    return offsets


def damaged(data, offsets, index, damage):
    b = bytearray(data)
    at = offsets[index]
    row, _col = struct.unpack_from("<HH", b, at + 4)
    if damage == "back":  # an earlier row
        struct.pack_into("<H", b, at + 4, max(row // 300, 1))
    elif damage == "row0":  # the row the SQL head comes from
        struct.pack_into("<H", b, at + 4, 0)
    elif damage == "outrow":
        struct.pack_into("<H", b, at + 4, 65000)
    elif damage == "outcol":
        struct.pack_into("<H", b, at + 6, 200)
    elif damage == "repeat":  # the position of the RK record before
        prev = offsets[max(index - 1, 0)]
        b[at + 4 : at + 8] = b[prev + 4 : prev + 8]
    elif damage == "bof":  # an embedded substream begins
        struct.pack_into("<H", b, at, 0x0809)
    elif damage == "formula":  # too short for a FORMULA
        struct.pack_into("<H", b, at, 0x0006)
    elif damage == "string":  # a STRING with no FORMULA before it
        struct.pack_into("<H", b, at, 0x0207)
    elif damage == "dimensions":  # a second grid
        struct.pack_into("<H", b, at, 0x0200)
    elif damage == "length":  # runs past the data
        struct.pack_into("<H", b, at + 2, 0xFFF0)
    elif damage == "cut":
        del b[at + 7 :]
    else:
        raise ValueError(damage)
    return bytes(b)


DAMAGES = ["back", "row0", "outrow", "outcol", "repeat", "bof", "formula", "string",
           "dimensions", "length", "cut"]


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    offsets = rk_offsets(data)
    if not offsets:
        sys.exit(f"{sys.argv[1]}: no RK records")
    for fraction in sys.argv[3:]:
        index = min(int(len(offsets) * float(fraction)), len(offsets) - 1)
        for damage in DAMAGES:
            name = f"{sys.argv[2]}/{damage}-{fraction}.xls"
            with open(name, "wb") as f:
                f.write(damaged(data, offsets, index, damage))
            print(name)


if __name__ == "__main__":
    main()
