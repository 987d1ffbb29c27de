"""Read the model collider's written input set back and verify its optics
(make_ring.py --check)."""

import math
import os

from bbtools import collider as col
from bbtools.classic_folder import NPOINTS, NOENC, read_matrices, diff_input_lines


def matmul(a, b):
    n = len(a)
    return [[sum(a[i][l] * b[l][j] for l in range(n)) for j in range(n)]
            for i in range(n)]




def check(args, pts=None):
    """Verify the written set; returns a list of report lines, raises
    AssertionError on a failure."""
    if pts is None:
        pts = col.layout(args)
    rep = []
    mats = read_matrices(os.path.join(args.out, "Matrices.dat"))

    # Symplectic 2x2 blocks, and the drift sections agree with the Twiss
    # construction.
    worst = 0.0
    for k, t in enumerate(mats):
        for o in (0, 2, 4):
            det = t[o][o] * t[o + 1][o + 1] - t[o][o + 1] * t[o + 1][o]
            worst = max(worst, abs(det - 1.0))
    assert worst < 1e-10, "determinant off by %g" % worst
    rep.append("section determinants: max |det - 1| = %.2e" % worst)
    dmux, dmuy = col.phase_advances(args, pts)
    worst = 0.0
    for k in range(NPOINTS):
        p1, p2 = pts[k], pts[(k + 1) % NPOINTS]
        if col.is_drift(p1, p2):
            for o, dmu, (b1, a1), (b2, a2) in (
                    (0, dmux[k], p1.twiss[0:2], p2.twiss[0:2]),
                    (2, dmuy[k], p1.twiss[2:4], p2.twiss[2:4])):
                m = col.twiss_block(b1, a1, b2, a2, dmu)
                for i in range(2):
                    for j in range(2):
                        worst = max(worst, abs(m[i][j] - mats[k][o + i][o + j]))
    assert worst < 1e-9, "drift sections differ from Twiss form by %g" % worst
    rep.append("drift sections vs Twiss form: max difference = %.2e" % worst)

    # One-turn matrix, tunes and Twiss functions at point 1, as the tracker
    # derives them; keep the maps from point 1 to every point.
    cum = [[float(i == j) for j in range(6)] for i in range(6)]
    maps = [cum]
    for t in mats:
        cum = matmul(t, cum)
        maps.append(cum)
    T = cum
    pi = 4.0 * math.atan(1.0)
    qx = 1.0 - math.acos((T[0][0] + T[1][1]) / 2.0) / (2.0 * pi)
    qy = 1.0 - math.acos((T[2][2] + T[3][3]) / 2.0) / (2.0 * pi)
    qz = 1.0 - math.acos((T[4][4] + T[5][5]) / 2.0) / (2.0 * pi)
    betx = T[0][1] / math.sin(2.0 * pi * qx)
    bety = T[2][3] / math.sin(2.0 * pi * qy)
    alfx = (T[0][0] - math.cos(2.0 * pi * qx)) / math.sin(2.0 * pi * qx)
    alfy = (T[2][2] - math.cos(2.0 * pi * qy)) / math.sin(2.0 * pi * qy)
    rep.append("one-turn tunes: qx = %.12f  qy = %.12f  qz = %.12f"
               % (qx, qy, qz))
    rep.append("twiss at point 1: betx = %.12f  bety = %.12f  "
               "alfx = %.3e  alfy = %.3e" % (betx, bety, alfx, alfy))
    assert abs(qx - args.qx % 1.0) < 1e-9, "qx = %r" % qx
    assert abs(qy - args.qy % 1.0) < 1e-9, "qy = %r" % qy
    assert abs(qz - (1.0 - args.qs)) < 1e-9, "qz = %r" % qz
    assert abs(betx - args.betastar) < 1e-8 * args.betastar, betx
    assert abs(bety - args.betastar) < 1e-8 * args.betastar, bety
    assert abs(alfx) < 1e-8 and abs(alfy) < 1e-8, (alfx, alfy)

    # Beta functions transported from point 1 to every encounter, compared
    # with the sizes of Sigmas.dat.
    gx0 = (1.0 + alfx * alfx) / betx
    gy0 = (1.0 + alfy * alfy) / bety
    emx = args.opp_emitn_x / args.gamma
    emy = args.opp_emitn_y / args.gamma
    with open(os.path.join(args.out, "Sigmas.dat")) as f:
        rows = [ln.split() for ln in f.read().splitlines()]
    assert len(rows) == NPOINTS - 1, "Sigmas.dat: %d lines" % len(rows)
    numbers = [int(r[0]) for r in rows]
    assert numbers == [p for p in range(1, NPOINTS + 1) if p != NOENC]
    worst = 0.0
    seps = []
    for r in rows:
        k = int(r[0])
        sx, sy, x0, y0 = (float(x) for x in r[1:5])
        m = maps[k - 1]
        bx = (m[0][0] ** 2 * betx - 2.0 * m[0][0] * m[0][1] * alfx
              + m[0][1] ** 2 * gx0)
        by = (m[2][2] ** 2 * bety - 2.0 * m[2][2] * m[2][3] * alfy
              + m[2][3] ** 2 * gy0)
        worst = max(worst, abs(sx / (1000.0 * math.sqrt(bx * emx)) - 1.0),
                    abs(sy / (1000.0 * math.sqrt(by * emy)) - 1.0))
        pt = pts[k - 1]
        if pt.kind == "ip":
            assert x0 == 0.0 and y0 == 0.0, "offset at IP point %d" % k
        else:
            plane = args.crossing1 if pt.ip == 1 else args.crossing2
            d, o, s = (x0, y0, sx) if plane == "x" else (y0, x0, sy)
            assert o == 0.0 and (d > 0) == (pt.s > 0), "sign at %d" % k
            seps.append(abs(d) / s)
    assert worst < 1e-9, "beam sizes differ from the optics by %g" % worst
    rep.append("Sigmas.dat sizes vs transported beta: max rel. diff = %.2e"
               % worst)
    rep.append("long-range separations: %.2f .. %.2f sigma (%d encounters)"
               % (min(seps), max(seps), len(seps)))

    # diff.input: 51 lines, numbers where the tracker reads them.
    expected = diff_input_lines(args)
    with open(os.path.join(args.out, "diff.input")) as f:
        lines = f.read().split("\n")
    assert lines[-1] == "" and len(lines) == 52, "diff.input: 51 lines"
    ints = {5, 7, 9, 11, 13, 39, 44, 48}
    counts = {15: 2, 17: 2, 41: 2, 42: 2, 46: 3, 50: 2, 51: 3}
    for no, (text, (_, is_value)) in enumerate(zip(lines, expected), 1):
        assert len(text) < 80, "diff.input line %d too long" % no
        if is_value:
            toks = text.split()
            assert len(toks) == counts.get(no, 1), "line %d" % no
            for t in toks:
                if no in ints:
                    int(t)
                else:
                    float(t)
    value_lines = [no for no, (_, isv) in enumerate(expected, 1) if isv]
    assert value_lines == [2, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27,
                           29, 31, 33, 35, 37, 39, 41, 42, 44, 46, 47, 48,
                           50, 51], value_lines
    rep.append("diff.input: 51 lines, values on the 27 lines read")

    with open(os.path.join(args.out, "excluded.dat")) as f:
        excl = [int(x.split()[0]) for x in f.read().splitlines()]
    for k in excl:
        assert 1 <= k <= NPOINTS and k != NOENC and pts[k - 1].kind == "lr"
    rep.append("excluded.dat: %s" % " ".join(str(k) for k in excl))

    with open(os.path.join(args.out, "multdist.dat")) as f:
        recs = [ln.split() for ln in f.read().splitlines()]
    assert len(recs) == 192, len(recs)
    assert all(len(r) == 2 for r in recs[:160])
    assert all(len(r) == 1 for r in recs[160:])
    [float(x) for r in recs for x in r]
    rep.append("multdist.dat: 160 multipole records, 16 betas, 16 weights")

    if args.wires != "none":
        sig = {int(r[0]): r for r in rows}
        with open(os.path.join(args.out, "wires.dat")) as f:
            wrecs = [ln.split() for ln in f.read().splitlines()]
        assert len(wrecs) == 4, "wires.dat: %d records" % len(wrecs)
        for w in wrecs:
            k = int(w[0])
            assert k not in excl and pts[k - 1].kind == "lr", "wire at point %d" % k
            # on the opposing centre: the negated offsets, digit for digit
            assert float(w[1]) == -float(sig[k][3]) and float(w[2]) == -float(sig[k][4])
            assert (float(w[3]) < 0) == (args.dnb > 0), "current sign at %d" % k
        rep.append("wires.dat: wires at points %s, currents %s A"
                   % (" ".join(w[0] for w in wrecs), " ".join(w[3] for w in wrecs)))
    return rep

