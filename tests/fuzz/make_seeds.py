#!/usr/bin/env python3
"""Writes the small generated seeds of the fuzz corpus (tests/fuzz/seeds).

Each is a bare record stream after 512 filler bytes, the layout the reader
takes for a file that is not a compound file, so every byte the fuzzer
mutates is a record byte. Between them they hold every record the reader
acts on: BIFF5 and BIFF8 globals, BOUNDSHEET names of both kinds, XF
records naming date and number formats, an SST split over CONTINUE records
with 16-bit strings, rich-text runs and extended data, worksheets with
DIMENSIONS of both layouts, NUMBER, RK, MULRK, numeric and non-numeric
FORMULA results, LABELSST, an embedded chart and a chart sheet.
"""
import os
import struct
import sys


def rec(rid, data=b""):
    return struct.pack("<HH", rid, len(data)) + data


def bof(version, kind):
    return rec(0x0809, struct.pack("<HHHHII", version, kind, 0x0DBB, 0x07CC, 0, 0)
               if version == 0x0600 else struct.pack("<HHHH", version, kind, 0x0DBB, 0x07CC))


EOF_REC = rec(0x000A)


def boundsheet8(name, wide=False):
    chars = name.encode("utf-16-le") if wide else name.encode("latin-1")
    return rec(0x0085, struct.pack("<IBBBB", 0, 0, 0, len(name), 1 if wide else 0) + chars)


def boundsheet5(name):
    return rec(0x0085, struct.pack("<IBBB", 0, 0, 0, len(name)) + name.encode("latin-1"))


def xf(fmt):
    return rec(0x00E0, struct.pack("<HH", 0, fmt) + bytes(16))


def dims8(rows, cols):
    return rec(0x0200, struct.pack("<IIHHH", 0, rows, 0, cols, 0))


def dims5(rows, cols):
    return rec(0x0200, struct.pack("<HHHHH", 0, rows, 0, cols, 0))


def number(r, c, x, v):
    return rec(0x0203, struct.pack("<HHHd", r, c, x, v))


def rk(r, c, x, v):
    return rec(0x027E, struct.pack("<HHHI", r, c, x, v))


def mulrk(r, c, entries):
    body = b"".join(struct.pack("<HI", x, v) for x, v in entries)
    return rec(0x00BD, struct.pack("<HH", r, c) + body + struct.pack("<H", c + len(entries) - 1))


def formula(r, c, x, result8):
    return rec(0x0006, struct.pack("<HHH", r, c, x) + result8 + struct.pack("<HI", 0, 0) + b"\x03\x00\x1e\x01\x00")


def labelsst(r, c, x, i):
    return rec(0x00FD, struct.pack("<HHHI", r, c, x, i))


def sst_records(strings, max_data=64):
    """SST and CONTINUE records; strings are (text, wide, runs, ext)."""
    out = bytearray(struct.pack("<II", len(strings), len(strings)))
    records = []
    cur = bytearray(out)

    def flush():
        nonlocal cur
        records.append(bytes(cur))
        cur = bytearray()

    for text, wide, runs, ext in strings:
        flags = (1 if wide else 0) | (8 if runs else 0) | (4 if ext else 0)
        width = 2 if wide else 1
        chars = text.encode("utf-16-le") if wide else text.encode("latin-1")
        head = struct.pack("<HB", len(chars) // width, flags)
        if runs:
            head += struct.pack("<H", runs)
        if ext:
            head += struct.pack("<I", ext)
        for b in head:
            if len(cur) >= max_data:
                flush()
            cur.append(b)
        for i in range(0, len(chars), width):
            if len(cur) + width > max_data:
                flush()
                cur.append(1 if wide else 0)  # option byte of the continued string
            cur += chars[i:i + width]
        for b in bytes(4 * runs) + bytes(range(ext)):
            if len(cur) >= max_data:
                flush()
            cur.append(b)
    flush()
    return rec(0x00FC, records[0]) + b"".join(rec(0x003C, r) for r in records[1:])


def biff8_workbook():
    strings = [("id", False, 0, 0), ("name", False, 0, 0), ("caf\u00e9 \"q\" 'x' \\ ,\t", True, 0, 0),
               ("a longer text that runs across a record boundary", False, 2, 0),
               ("\u65e5\u672c\u8a9e \U0001F600 wide and split", True, 1, 5), ("", False, 0, 0)]
    globals_ = (bof(0x0600, 0x0005) + xf(0) + xf(14) + xf(22) + xf(2) + xf(10) + xf(48) + xf(18)
                + rec(0x041E, struct.pack("<HHB", 164, 5, 0) + b"0.000")
                + boundsheet8("Data") + boundsheet8("Chart") + boundsheet8("\u00dcbersicht", wide=True)
                + sst_records(strings) + EOF_REC)
    sheet1 = (bof(0x0600, 0x0010) + dims8(5, 4)
              + labelsst(0, 0, 0, 0) + labelsst(0, 1, 0, 1) + labelsst(0, 2, 0, 2) + labelsst(0, 3, 0, 4)
              + number(1, 0, 1, 40000.5) + rk(1, 1, 3, (123 << 2) | 2) + number(1, 2, 2, 3.9)
              + mulrk(2, 0, [(0, (7 << 2) | 2), (4, (1234 << 2) | 3), (5, 0x3FF00000)])
              + formula(3, 0, 6, struct.pack("<d", 0.75))
              + formula(3, 1, 0, b"\x00\x00\x00\x00\x00\x00\xff\xff")
              + labelsst(4, 3, 0, 3) + labelsst(4, 2, 0, 99)
              + bof(0x0600, 0x0020) + dims8(9, 9) + number(0, 0, 0, 1) + EOF_REC
              + number(4, 0, 9999, -2.5) + EOF_REC)
    chart = bof(0x0600, 0x0020) + bof(0x0600, 0x0020) + number(0, 0, 0, 1) + EOF_REC
    sheet3 = bof(0x0600, 0x0010) + dims8(2, 2) + number(1, 1, 4, 0.29) + rec(0x0202, b"\x00" * 4) + EOF_REC
    return globals_ + sheet1 + chart + sheet3


def biff5_workbook():
    globals_ = (bof(0x0500, 0x0005) + xf(0) + xf(15) + boundsheet5("Alpha") + boundsheet5("Beta")
                + EOF_REC)
    s1 = bof(0x0500, 0x0010) + dims5(3, 2) + number(0, 0, 1, 25569) + rk(2, 1, 0, (5 << 2) | 2) + EOF_REC
    s2 = bof(0x0500, 0x0010) + dims5(1, 1) + rec(0x0204, struct.pack("<HHHH", 0, 0, 0, 2) + b"hi") + EOF_REC
    return globals_ + s1 + s2


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds")
    os.makedirs(out, exist_ok=True)
    seeds = {"biff8-all-records.xls": biff8_workbook(), "biff5-two-sheets.xls": biff5_workbook()}
    for name, stream in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(bytes(512) + stream)


if __name__ == "__main__":
    main()
