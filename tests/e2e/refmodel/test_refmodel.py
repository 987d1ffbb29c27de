"""Self-checks of the reference model (pytest style; also runnable as a
plain script: python3 test_refmodel.py)."""

import math
import os
import random
import shutil
import struct
import sys
import tempfile

_here = os.path.dirname(os.path.abspath(__file__))
if _here not in sys.path:
    sys.path.insert(0, _here)

import textio                                   # noqa: E402
from textio import fmt_i, fmt_f, fmt_e, ld_real, ld_lines, format_record, TextIO, RunEnd  # noqa: E402
import numerics                                  # noqa: E402
from numerics import ranuni, errf, c06eaf_check, hermitian_pair, powi, f32  # noqa: E402
import refmodel                                  # noqa: E402


# ---------------------------------------------------------------------------
# Formatted output
# ---------------------------------------------------------------------------

def test_iw():
    assert fmt_i(123456, 5) == "*****"
    assert fmt_i(-100, 3) == "***"
    assert fmt_i(-9, 2) == "-9"
    assert fmt_i(0, 3) == "  0"
    assert fmt_i(-2147483648, 12) == " -2147483648"
    assert fmt_i(1, 6) == "     1"


def test_fw():
    assert fmt_f(1234.56785, 10, 4) == " 1234.5679"
    assert fmt_f(3.14159265, 10, 4) == "    3.1416"
    assert fmt_f(-0.5, 10, 4) == "   -0.5000"
    assert fmt_f(12345.67891, 10, 4) == "12345.6789"
    assert fmt_f(-12345.6, 10, 4) == "*" * 10
    assert fmt_f(99999.99999, 10, 4) == "*" * 10
    assert fmt_f(-0.00004, 10, 4) == "    0.0000"
    assert fmt_f(0.0, 10, 4) == "    0.0000"
    assert fmt_f(-0.0, 10, 4) == "    0.0000"
    assert fmt_f(0.00005, 10, 4) == "    0.0001"
    assert fmt_f(-0.5, 6, 4) == "-.5000"
    assert fmt_f(float("nan"), 10, 4) == "       nan"
    assert fmt_f(numerics.DNAN, 10, 4) == "      -nan"
    assert fmt_f(float("-inf"), 10, 4) == "      -inf"


def test_ew():
    assert fmt_e(0.99996, 10, 4) == "0.1000E+01"
    assert fmt_e(0.0, 10, 4) == "0.0000E+00"
    assert fmt_e(-0.0, 10, 4) == "0.0000E+00"
    assert fmt_e(1.0e-120, 10, 4) == "0.1000-119"
    assert fmt_e(1.23, 10, 3) == " 0.123E+01"
    assert fmt_e(-1.23, 10, 3) == "-0.123E+01"
    assert fmt_e(123.456, 10, 4) == "0.1235E+03"
    assert fmt_e(-123.456, 10, 4) == "-.1235E+03"
    assert fmt_e(123.456, 12, 5) == " 0.12346E+03"
    assert fmt_e(-123.456, 12, 5) == "-0.12346E+03"
    assert fmt_e(1.23456789012, 18, 12) == "0.123456789012E+01"
    assert fmt_e(-1.23456789012, 18, 12) == "-.123456789012E+01"
    assert fmt_e(0.5, 10, 4) == "0.5000E+00"
    assert fmt_e(1.0e100, 10, 4) == "0.1000+101"
    assert fmt_e(-1.0e100, 10, 4) == "-.1000+101"
    assert fmt_e(-1.0e-100, 12, 5) == "-0.10000E-99"
    assert fmt_e(-1.0e-101, 12, 5) == "-0.10000-100"
    assert fmt_e(float("inf"), 10, 4) == "       inf"
    assert fmt_e(numerics.DNAN, 10, 4) == "      -nan"


def test_format_records():
    assert format_record("(1X,I5,4(1X,E10.4))", [7, 1.0, -1.0, 0.0, 2.0]) == \
        "     7 0.1000E+01 -.1000E+01 0.0000E+00 0.2000E+01\n"
    assert format_record("(I6,3(1X,E10.3),1X,I3,1X,I3)", [1000, 1.0, 2.0, 3.0, 1000, 5]) == \
        "  1000  0.100E+01  0.200E+01  0.300E+01 ***   5\n"
    rec = format_record("(1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))",
                        [1.0, 2.0, 3.0, 4, 5.0, 6.0, 7.0, 8.0])
    assert rec[35:37] == " 4" and rec[37:39] == "  " and len(rec) == 83
    rec = format_record("(I5,9(1X,F10.4))", [1] + [0.0] * 9)
    assert rec == "    1" + "     0.0000" * 9 + "\n"
    assert format_record("(2(1X,I5),2(1X,E10.4))", [0, 13, 1.0, float("nan")]) == \
        "     0    13 0.1000E+01        nan\n"


# ---------------------------------------------------------------------------
# List-directed output
# ---------------------------------------------------------------------------

def test_ld_real():
    assert ld_real(0.1) == "  0.1000000000000000     "
    assert ld_real(0.05) == "  5.0000000000000003E-002"
    assert ld_real(1.0e-5) == "  1.0000000000000001E-005"
    assert ld_real(0.0) == "  0.0000000000000000E+000"
    assert ld_real(-0.0) == "  0.0000000000000000E+000"
    assert ld_real(5.0) == "   5.000000000000000     "
    assert ld_real(0.5) == "  0.5000000000000000     "
    assert ld_real(-5.0) == "  -5.000000000000000     "
    assert ld_real(1.0e16) == "  1.0000000000000000E+016"
    assert ld_real(9.0e15) == "   9000000000000000.     "
    assert ld_real(-1.0e-300) == " -1.0000000000000000E-300"
    for v in (0.1, 0.05, 123.456, -7.25e-12, 3.0e200):
        assert len(ld_real(v)) == 25


def test_ld_lines():
    assert ld_lines([" npart = ", 100]) == " " + " npart = " + " " * 9 + "100\n"
    assert len(ld_lines([" npart = ", 100])) == 23   # 22 characters and the line end
    out = ld_lines(["abcde", 1.0, 2.0, 3.0])
    lines = out.split("\n")
    assert len(lines[0]) == 56 and lines[1].startswith(" ") and len(lines[1]) == 26
    assert ld_lines([" "]) == "  \n"
    assert ld_lines([1, 1, 1, " ", 1.0]) == \
        " " + "           1" * 3 + " " + "   1.000000000000000     " + "\n"


# ---------------------------------------------------------------------------
# List-directed input
# ---------------------------------------------------------------------------

def _reader(text):
    d = tempfile.mkdtemp()
    cwd = os.getcwd()
    os.chdir(d)
    with open("in.dat", "w") as f:
        f.write(text)
    io = TextIO({})
    io.open(10, "in.dat")
    return io, d, cwd


def _done(d, cwd):
    os.chdir(cwd)
    shutil.rmtree(d)


def test_ld_read_repeat_null():
    io, d, cwd = _reader("3*1.5, ,2\n4.0\n")
    try:
        vals, eof = io.read_ld(10, ["R"] * 5, [9.0] * 5)
        assert vals == [1.5, 1.5, 1.5, 9.0, 2.0] and not eof
        vals, eof = io.read_ld(10, ["R"], [0.0])
        assert vals == [4.0]
    finally:
        _done(d, cwd)


def test_ld_read_int_trunc_and_continuation():
    io, d, cwd = _reader("7.9\n-7.9\n1\n\n  2 junk\n, 5\n3 / 4\n1.5D2,2e-1\n")
    try:
        assert io.read_ld(10, ["I"], [0])[0] == [7]
        assert io.read_ld(10, ["I"], [0])[0] == [-7]
        assert io.read_ld(10, ["R", "R"], [0.0, 0.0])[0] == [1.0, 2.0]
        assert io.read_ld(10, ["I", "I"], [8, 8])[0] == [8, 5]
        assert io.read_ld(10, ["I", "I"], [8, 8])[0] == [3, 8]
        assert io.read_ld(10, ["R", "R"], [0.0, 0.0])[0] == [150.0, 0.2]
        vals, eof = io.read_ld(10, ["I"], [0], eof_ok=True)
        assert eof
    finally:
        _done(d, cwd)


def test_ld_read_strings_and_cr():
    io, d, cwd = _reader("SEC001 rest\r\n'it''s' 2\r\n")
    try:
        assert io.read_ld(10, [("C", 10)], [" " * 10])[0] == ["SEC001    "]
        assert io.read_ld(10, [("C", 4), "I"], ["", 0])[0] == ["it's", 2]
    finally:
        _done(d, cwd)


def _expect_fatal(text, kinds, code, rec):
    io, d, cwd = _reader(text)
    try:
        try:
            io.read_ld(10, kinds, [0] * len(kinds))
        except RunEnd as e:
            assert e.status == 1
            err = "".join(io.stderr)
            assert err.startswith("RTFIO-F-%d/list-directed read/unit=10/" % code), err
            assert (" File name = in.dat    formatted, sequential access   record = %d\n"
                    % rec) in err
            assert err.endswith(" In source file SOURCE, at line number LINE\n")
            return
        raise AssertionError("no error")
    finally:
        _done(d, cwd)


def test_ld_read_errors():
    _expect_fatal("abc\n", ["I"], 225, 1)
    _expect_fatal("1\n'x'\n", ["I", "I"], 231, 2)
    _expect_fatal("2147483648\n", ["I"], 231, 1)
    _expect_fatal("1e400\n", ["R"], 231, 1)
    _expect_fatal("1\n", ["I", "I"], 217, 2)
    _expect_fatal("", ["I"], 217, 1)


def test_a80():
    io, d, cwd = _reader("\n" + "x" * 100 + "\nlast")
    try:
        assert io.read_a80(10) == " " * 80
        assert io.read_a80(10) == "x" * 80
        assert io.read_a80(10) == "last" + " " * 76
    finally:
        _done(d, cwd)


# ---------------------------------------------------------------------------
# Random numbers, errf, integer power, FFT factorisation
# ---------------------------------------------------------------------------

def test_ranuni():
    r, s = ranuni(12454643, 4)
    assert r == [28757070 * 2.0 ** -31, 924378547 * 2.0 ** -31,
                 239007298 * 2.0 ** -31, 1376441947 * 2.0 ** -31]
    assert s == 1376441947
    assert r[0] == 0.013391054235398769 and r[3] == 0.64095572894439101
    r, s = ranuni(1, 3)
    assert r == [0.2425861251540482, 0.85303416382521391, 0.62707380345091224]
    assert s == 1346630739
    r, s = ranuni(77, 0)
    assert r == [] and s == 77
    a, _ = ranuni(12454643, 10)
    b = []
    s = 12454643
    for _ in range(10):
        v, s = ranuni(s, 1)
        b.extend(v)
    assert a == b


def test_errf_values():
    assert errf(0.0, 0.0) == (1.0, 0.0)
    wx, wy = errf(1.0, 1.0)
    assert abs(wx - 0.30474420526) < 1e-9 and abs(wy - 0.20821893820) < 1e-9
    wx, wy = errf(3.0, 0.0)
    assert wx == math.exp(-9.0) and abs(wy - 0.201157317) < 1e-8
    for xx, yy in ((0.3, 0.7), (2.0, 1.5), (6.0, 0.5), (1.0, 5.0)):
        a = errf(xx, yy)
        b = errf(-xx, yy)
        assert b == (a[0], -a[1])
    # w(-z) = 2 exp(-z^2) - w(z)
    for xx, yy in ((0.3, 0.7), (1.2, 0.4)):
        z = complex(xx, yy)
        wz = complex(*errf(xx, yy))
        wm = complex(*errf(-xx, -yy))
        ref = 2.0 * complex(math.e) ** (-(z * z)) - wz
        assert abs(wm - ref) < 1e-12
    # borders
    a = errf(1.0, 4.29)
    b = errf(1.0, 4.2899999999)
    assert abs(a[0] - b[0]) < 1e-8 and abs(a[1] - b[1]) < 1e-8


def test_errf_fast_equals_safe():
    rnd = random.Random(5)
    for _ in range(3000):
        xx = rnd.uniform(-8, 8)
        yy = rnd.uniform(-6, 6)
        assert numerics._errf_fast(xx, yy) == numerics._errf_safe(xx, yy)


def test_ffrank_fast_equals_safe():
    rnd = random.Random(9)
    for _ in range(300):
        sx = rnd.uniform(1e-5, 1e-4)
        sy = sx * rnd.choice([1.0, 1.005, 0.7, 1.6])
        enc = numerics.Encounter(sx, sy, rnd.uniform(-1e-3, 1e-3), rnd.uniform(-1e-3, 1e-3))
        for _ in range(10):
            x = rnd.uniform(-1e-3, 1e-3)
            y = rnd.uniform(-1e-3, 1e-3)
            assert numerics._ffrank_fast(x, y, enc) == numerics._ffrank_safe(x, y, enc)


def test_ffrank_properties():
    enc = numerics.Encounter(1e-5, 1e-5, 0.0, 0.0)
    assert numerics.ffrank(0.0, 0.0, enc) == (0.0, 0.0)
    gx, gy = numerics.ffrank(1e-7, 0.0, enc)
    assert gy == 0.0 and gx > 0.0
    e1 = numerics.Encounter(2e-5, 1e-5, 1e-4, 3e-5)
    e2 = numerics.Encounter(1e-5, 2e-5, 3e-5, 1e-4)
    g1 = numerics.ffrank(2e-5, -1e-5, e1)
    g2 = numerics.ffrank(-1e-5, 2e-5, e2)
    assert abs(g1[0] - g2[1]) <= 1e-12 * abs(g1[0]) and abs(g1[1] - g2[0]) <= 1e-12 * abs(g1[1])
    # zero-size beam: no exception, IEEE result
    ez = numerics.Encounter(0.0, 0.0, 1e-3, 0.0)
    gx, gy = numerics.ffrank(0.0, 0.0, ez)
    assert gx != gx or True


def test_powi():
    assert powi(2.0, 10) == 1024.0
    assert powi(3.0, -2) == 1.0 / 9.0
    x = 1.0000001
    p = 1.0
    b = x
    e = 13
    while e:
        if e & 1:
            p *= b
        b *= b
        e >>= 1
    assert powi(x, 13) == p


def test_c06eaf_check():
    assert c06eaf_check(1000) == 0 and c06eaf_check(4096) == 0
    assert c06eaf_check(1009) == 1
    assert c06eaf_check(23) == 1 and c06eaf_check(46) == 1 and c06eaf_check(1) == 3
    assert c06eaf_check(0) == 3 and c06eaf_check(-5) == 3
    assert c06eaf_check(2 ** 20) == 0 and c06eaf_check(2 ** 21) == 2
    assert c06eaf_check(2 ** 19 * 15) == 2
    assert c06eaf_check(2310) == 0 and c06eaf_check(4199) == 0


def test_dft():
    rnd = random.Random(3)
    for n in (2, 4, 6, 8, 12, 30, 49, 77, 210):
        xs = [rnd.uniform(-1, 1) for _ in range(n)]
        ys = [rnd.uniform(-1, 1) for _ in range(n)]
        fx, fy = hermitian_pair(xs, ys)
        for seq, f in ((xs, fx), (ys, fy)):
            for k in range(n // 2 + 1):
                z = sum(seq[j] * complex(math.cos(2 * math.pi * j * k / n),
                                         -math.sin(2 * math.pi * j * k / n)) for j in range(n))
                z /= math.sqrt(n)
                assert abs(f[k] - z.real) < 1e-12
                if 1 <= k <= (n - 1) // 2:
                    assert abs(f[n - k] - z.imag) < 1e-12
    fx, fy = hermitian_pair([0.0, 1.0, 0.0, -1.0], [1.0, 1.0, 1.0, 1.0])
    assert max(abs(a - b) for a, b in zip(fx, [0, 0, 0, -1])) < 1e-15
    assert abs(fy[0] - 2.0) < 1e-15


def test_f32():
    assert f32(0.01) == 0.009999999776482582
    assert f32(1e-5) == 9.999999747378752e-06
    assert f32(1e39) == float("inf")


# ---------------------------------------------------------------------------
# Whole runs
# ---------------------------------------------------------------------------

DIFF_INPUT_VALUES = {
    2: "6.0", 5: "0", 7: "0", 9: "1", 11: "0", 13: "169", 15: "64.31 0.31",
    17: "59.32 0.32", 19: "26658.883", 21: "1.15E+11", 23: "7.48", 25: "0.55",
    27: "3.75E-06", 29: "7460.52", 31: "0.003", 33: "1.6E-05", 35: "3.0E-05",
    37: "2.85E-04", 39: "16", 41: "0.0 0.0", 42: "0.0 0.0", 44: "0",
    46: "0.0 0.0 0.0", 47: "0.0", 48: "0", 50: "80.0 1.0", 51: "9.5 1000.0 1000.0",
}


def write_diff_input(path, **over):
    vals = dict(DIFF_INPUT_VALUES)
    vals.update({int(k[1:]): v for k, v in over.items()})
    with open(path, "w") as f:
        for ln in range(1, 52):
            f.write(vals.get(ln, "comment line %d" % ln) + "\n")


def tiny_run(d, **over):
    write_diff_input(os.path.join(d, "diff.input"), **over)
    with open(os.path.join(d, "Matrices.dat"), "w") as f:
        for k in range(73):
            f.write("SEC%03d\n" % (k + 1))
            for i in range(6):
                f.write(" ".join("1.0" if i == j else "0.0" for j in range(6)) + "\n")
    with open(os.path.join(d, "Sigmas.dat"), "w") as f:
        for k in range(72):
            f.write("%d 0.2 0.17 0.0 0.0\n" % (k + 1))
    return refmodel.run(d, env={})


def test_tiny_run_identity():
    d = tempfile.mkdtemp()
    try:
        st = tiny_run(d)
        assert st == 0
        out = open(os.path.join(d, "stdout.txt")).read().split("\n")
        assert out[0] == "  amp =    6.000000000000000     "
        # 31 echo lines, then 2628 matrix element lines
        assert out[31] == "            1           1           1    1.000000000000000     "
        assert out[31 + 2627].startswith("           73           6           6")
        i = out.index("  tunes ")
        one = "   1.000000000000000     "
        assert out[i + 1] == " " + one + " " + one + " " + one
        assert "  number of excluded collisions =            0" in out
        assert out[-2] == "  lost particles =            0"
        assert "  after tracking loop            1" in out
        err = open(os.path.join(d, "stderr.txt")).read().split("\n")
        assert err[0].startswith("diff2wirenew: warning: the horizontal one-turn matrix of "
                                 "Matrices.dat is unstable (|trace| = 2, limit 2)")
        assert err[1].startswith("diff2wirenew: warning: the vertical one-turn matrix")
        assert err[2] == ("diff2wirenew: warning: excluded.dat does not exist in %s, so no "
                          "encounter is excluded" % os.path.realpath(d))
        assert err[3].startswith("diff2wirenew: warning: ntrack = 0 gives no diffusion rates")
        assert err[4:] == [""]
        assert open(os.path.join(d, "status.txt")).read() == "0\n"
        img = open(os.path.join(d, "imageoflrbb.dat")).read().split("\n")
        assert len(img) == 73 and img[72] == ""
        assert [int(l[:5]) for l in img[:72]] == list(range(1, 73))
        assert os.path.getsize(os.path.join(d, "test.dat")) == 0
        assert os.path.exists(os.path.join(d, "excluded.dat"))
        resav = open(os.path.join(d, "resav.out")).read()
        # 0 turns: diffx = 0/0 -> default NaN (sign bit set)
        assert resav.startswith("  0.3000E+01       -nan       -nan  1")
        assert os.path.getsize(os.path.join(d, "diff.dat")) == 0
    finally:
        shutil.rmtree(d)


def test_missing_inputs():
    d = tempfile.mkdtemp()
    try:
        st = refmodel.run(d, env={})
        assert st == 1
        err = open(os.path.join(d, "stderr.txt")).read()
        assert err == ("diff2wirenew: error: diff.input does not exist in %s\n"
                       % os.path.realpath(d) +
                       "RTFIO-F-217/formatted read/unit=440/attempt to read past end of file.\n"
                       " File name = diff.input    formatted, sequential access   record = 1\n"
                       " In source file SOURCE, at line number LINE\n")
        assert os.path.getsize(os.path.join(d, "diff.input")) == 0
        assert open(os.path.join(d, "stdout.txt")).read() == ""
    finally:
        shutil.rmtree(d)


def test_abunai_stop():
    d = tempfile.mkdtemp()
    try:
        st = tiny_run(d, l5="3", l11="4097")
        assert st == 2
        assert open(os.path.join(d, "stderr.txt")).read().endswith(
            "diff2wirenew: error: ntrack = 4097, but option 3 stores at most 4096 turns: the run "
            "stops before tracking and writes no results\nFORTRAN STOP\n")
        out = open(os.path.join(d, "stdout.txt")).read()
        assert out.endswith("  ntrack>ntmapm - abunai! \n")
        assert not os.path.exists(os.path.join(d, "test.dat"))
    finally:
        shutil.rmtree(d)


def test_footprint_rejected_length():
    d = tempfile.mkdtemp()
    try:
        st = tiny_run(d, l5="3", l11="1")
        assert st == 2
        err = open(os.path.join(d, "stderr.txt")).read()
        assert err.endswith("the nearest accepted length is 2: the run stops before tracking "
                            "and writes no results\n")
        assert not os.path.exists(os.path.join(d, "footprint.dat"))
    finally:
        shutil.rmtree(d)


def _example_dir():
    p = os.path.normpath(os.path.join(_here, "..", "..", "..", "examples", "ring"))
    return p if os.path.isdir(p) else None


def test_example_ring_short():
    src = _example_dir()
    if src is None:
        return
    d = tempfile.mkdtemp()
    try:
        for fn in os.listdir(src):
            shutil.copy(os.path.join(src, fn), d)
        lines = open(os.path.join(d, "diff.input")).read().split("\n")
        lines[10] = "3"
        open(os.path.join(d, "diff.input"), "w").write("\n".join(lines))
        st = refmodel.run(d, env={})
        assert st == 0
        out = open(os.path.join(d, "stdout.txt")).read()
        assert out.endswith("  after tracking loop            4\n  lost particles =            0\n")
        assert len(open(os.path.join(d, "imageoflrbb.dat")).read().split("\n")) == 73
    finally:
        shutil.rmtree(d)


if __name__ == "__main__":
    names = [n for n in sorted(globals()) if n.startswith("test_")]
    failed = 0
    for n in names:
        try:
            globals()[n]()
        except Exception as e:   # noqa: BLE001
            failed += 1
            print("FAIL", n, repr(e))
    print("%d passed, %d failed" % (len(names) - failed, failed))
    sys.exit(1 if failed else 0)
