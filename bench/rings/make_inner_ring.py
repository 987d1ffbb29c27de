#!/usr/bin/env python3
"""Write the benchmark ring whose beam-beam kicks fall mostly in the inner
region of the complex error function (bench/rings/inner/).

73 uniform sections: beta 0.35 m and alpha 0 at every point in both planes,
the phase advance of each section a 73rd of the total tunes, so that the
tracked beam has the same size everywhere.  All 72 encounters kick (nothing
excluded).  The opposing bunches are 0.055 mm wide and 0.0385 mm (odd
points) or 0.045 mm (even points) high; they meet the tracked beam head-on
at points 1 and 2 and offset by 0.3 mm horizontally and 0.1 mm vertically at
the other 70 (about 5.5 by 2.2 to 2.6 of their sizes; the offsets change
sign in the second half of the ring).  gamma 1000, bunch population 2.5e11,
normalised emittance 3e-6, beta* 0.35 m; a diffusion run at amp 3.0.  The
errf arguments u / S then lie around the corner of its inner region, where a
lane needs 10 to 31 continued-fraction steps.

The run parameters, matrix file format and multipole file come from
tools/bbtools (classic_folder.py, collider.py).  Usage:
    python3 bench/rings/make_inner_ring.py [--out DIR]
"""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))
import make_ring  # noqa: E402
from bbtools import classic_folder as cf  # noqa: E402
from bbtools import collider  # noqa: E402

BETA = 0.35
SIG_X = 0.055          # mm
SIG_Y = (0.0385, 0.045)  # odd, even points [mm]
OFFSET = (0.3, 0.1)      # mm
HEAD_ON = (1, 2)


def main(argv=None):
    out = os.path.join(HERE, "inner")
    if argv and argv[0] == "--out":
        out = argv[1]
    args = make_ring.parse_args([
        "--out", out, "--betastar", str(BETA), "--gamma", "1000",
        "--dnb", "2.5e11", "--emitn", "3e-6", "--amp", "3.0",
        "--excluded"])
    os.makedirs(out, exist_ok=True)
    n = cf.NPOINTS
    phz = 2.0 * math.pi * args.qs / n
    bz = args.beta_long
    lz = [[math.cos(phz), bz * math.sin(phz)],
          [-math.sin(phz) / bz, math.cos(phz)]]
    mx = collider.twiss_block(BETA, 0.0, BETA, 0.0, 2.0 * math.pi * args.qx / n)
    my = collider.twiss_block(BETA, 0.0, BETA, 0.0, 2.0 * math.pi * args.qy / n)
    m = [[0.0] * 6 for _ in range(6)]
    for blk, o in ((mx, 0), (my, 2), (lz, 4)):
        for i in range(2):
            for j in range(2):
                m[o + i][o + j] = blk[i][j]
    cf.write_matrices(os.path.join(out, "Matrices.dat"), [m] * n)
    with open(os.path.join(out, "Sigmas.dat"), "w", newline="\n") as f:
        for k in range(1, n + 1):
            if k == cf.NOENC:
                continue
            sign = 1.0 if k <= 37 else -1.0
            x0, y0 = (0.0, 0.0) if k in HEAD_ON else (sign * OFFSET[0], sign * OFFSET[1])
            f.write("%2d %s %s %s %s\n" % (
                k, cf.e17(SIG_X), cf.e17(SIG_Y[k % 2 == 0]),
                cf.e17(x0), cf.e17(y0)))
    cf.write_excluded(os.path.join(out, "excluded.dat"), args.excluded)
    cf.write_diff_input(os.path.join(out, "diff.input"), args)
    collider.write_multdist(os.path.join(out, "multdist.dat"), args)


if __name__ == "__main__":
    main(sys.argv[1:])
