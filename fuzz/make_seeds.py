#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into OUTDIR/<target>/.

    fuzz/make_seeds.py OUTDIR

startup:  the bundled example (examples/ring) and small hand-made input
          sets, the five files joined by 0x1E bytes;
listread: statement schedules (see listread_fuzz.cpp) over the example's
          files and small hand-written files;
numfmt:   a few byte strings (the target decodes any bytes).
"""

import math
import struct
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "examples", "ring")
SEP = b"\x1e"
FILES = ["diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat", "multdist.dat"]


def example(name):
    with open(os.path.join(EXAMPLE, name), "rb") as f:
        return f.read()


def set_line(text, line, value):
    lines = text.split(b"\n")
    lines[line - 1] = value
    return b"\n".join(lines)


def compact_ring(qx, qy, betx, bety):
    """73 uncoupled sections in the file units, short numbers, repeat counts."""
    mx = 2.0 * math.pi * qx / 73.0
    my = 2.0 * math.pi * qy / 73.0
    out = []
    for k in range(1, 74):
        c, s = math.cos(mx), math.sin(mx)
        cy, sy = math.cos(my), math.sin(my)
        out.append("S%d" % k)
        out.append("%.6g %.6g 4*0" % (c, betx * s * 1000.0))
        out.append("%.6g %.6g 4*0" % (-s / betx / 1000.0, c))
        out.append("2*0 %.6g %.6g 2*0" % (cy, bety * sy * 1000.0))
        out.append("2*0 %.6g %.6g 2*0" % (-sy / bety / 1000.0, cy))
        out.append("4*0 1 0")
        out.append("5*0 1")
    return ("\n".join(out) + "\n").encode()


def sigmas(sx, sy, x0, y0):
    return "".join("%d %g %g %g %g\n" % (k, sx, sy, x0, y0)
                   for k in range(1, 74) if k != 25).encode()


def multdist():
    rows = ["%g %g" % (0.1 * n + 0.01 * j, 1.0 - 0.5 * n * j)
            for j in range(1, 17) for n in range(1, 11)]
    rows += ["%g" % (1000.0 + 200.0 * j) for j in range(1, 17)]
    rows += ["%g" % (0.5 if j % 4 == 0 else 1.0) for j in range(1, 17)]
    return ("\n".join(rows) + "\n").encode()


def startup_seeds():
    d = example("diff.input")
    short = set_line(d, 11, b"2")
    seeds = {}
    full = [example(n) for n in FILES]
    seeds["example"] = SEP.join(full)
    for iopt in (b"0", b"2", b"3"):
        files = list(full)
        files[0] = set_line(short, 5, iopt)
        seeds["example-iopt" + iopt.decode()] = SEP.join(files)
    small = [set_line(set_line(short, 7, b"0"), 44, b"0"),
             compact_ring(0.67, 0.68, 80.0, 60.0),
             sigmas(0.2, 0.17, 0.9, -0.4), b"3\n7\n", b""]
    seeds["compact"] = SEP.join(small)
    trip = list(small)
    trip[0] = set_line(small[0], 7, b"1")
    trip[4] = multdist()
    seeds["compact-triplets"] = SEP.join(trip)
    fp = list(small)
    fp[0] = set_line(small[0], 5, b"3")
    seeds["compact-footprint"] = SEP.join(fp)
    seeds["only-parameters"] = short
    seeds["identity"] = SEP.join([small[0], b"I\n1 5*0\n0 1 4*0\n2*0 1 3*0\n3*0 1 2*0\n"
                                  b"4*0 1 0\n5*0 1\n" * 73, sigmas(0, 0, 0, 0)])
    return seeds


def schedule(*stmts):
    """stmts: (what, [kinds]) with what 0 read, 1 read with end branch,
    2 (A80); kinds 0 INTEGER, 1 REAL*8, 2 CHARACTER*10, 3 CHARACTER*3."""
    out = bytearray()
    for what, kinds in stmts:
        bits = 0
        for i, k in enumerate(kinds):
            bits |= k << (2 * i)
        out += bytes([what | (len(kinds) << 2), bits & 0xFF, bits >> 8])
    return bytes(out)


def listread_seeds():
    A80, R, I, C10, C3 = 2, 1, 0, 2, 3
    seeds = {}
    seeds["diff-input"] = schedule((A80, []), (0, [R]), (A80, []), (A80, []),
                                   (0, [I]), (A80, []), (0, [I]), (0, [R, R])) + \
        example("diff.input")
    seeds["matrices"] = schedule((0, [C10]), (0, [R] * 6), (0, [R] * 6), (0, [R] * 6)) + \
        example("Matrices.dat")[:4000]
    seeds["sigmas"] = schedule((0, [I, R, R, R, R])) + example("Sigmas.dat")[:2000]
    seeds["excluded"] = schedule((1, [I])) + b"23\n24\n3 7\n"
    seeds["free-form"] = schedule((0, [R, R, R, R, R]), (0, [I, I]), (0, [C10, C3, I]),
                                  (1, [R, I])) + \
        b"3*1.5, ,2\n7.9 -7.9\n'it''s' \"q\" 2*\n 4 / 5\n1e-400,,\r\n-0d0 +.5e+3\n"
    seeds["strings"] = schedule((0, [C10, C10]), (0, [C3]), (A80, []), (1, [C10])) + \
        b"'over a\nline end' word\n\"a\"\"b\",x\n" + b"x" * 100 + b"\n'unterminated\n"
    seeds["crlf"] = schedule((A80, []), (0, [R, I]), (0, [C10])) + \
        b"title\r\n1.5\r\n7\r\n'ab\r\ncd'\r\n"
    return seeds


def numfmt_seeds():
    seeds = {}
    for i, v in enumerate([0.0, -0.0, 1234.56785, 0.99996, 1e-120, 99999.99999, 0.05,
                           5e-324, 1.7976931348623157e308, float("nan"), -float("inf")]):
        seeds["value%d" % i] = bytes([1]) + struct.pack("<d", v) + bytes(range(40))
    seeds["decimal"] = bytes([2, 5, 5, 5, 5, 5]) + bytes(60)
    return seeds


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        sys.exit(2)
    for target, seeds in (("startup", startup_seeds()), ("listread", listread_seeds()),
                          ("numfmt", numfmt_seeds())):
        d = os.path.join(sys.argv[1], target)
        os.makedirs(d, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
