"""make_ring.py --triplet-errors: the thin multipoles written from
multdist.dat give, at each point, the kicks of the field expansions of the
magnets placed there, evaluated at the magnets and carried to the point in
normalised coordinates."""

import math
import os
import shutil
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tools"))
import make_ring  # noqa: E402
from bbtools import collider  # noqa: E402
from bbtools import triplet_errors as te  # noqa: E402


def test_multipoles_kick_as_the_magnets_field_expansion():
    out = tempfile.mkdtemp(prefix="triplet_errors_")
    try:
        assert make_ring.main(["--out", out, "--triplet-errors", "multdist.dat"]) == 0
        a, b, beta, weight = te.read_multdist(os.path.join(out, "multdist.dat"))
        kicks = {}
        zp = complex(3e-3, -2e-3)  # a position at the points, m
        with open(os.path.join(out, "multipoles.dat")) as fh:
            for line in fh:
                if not line.startswith("#"):
                    k, m, kn, sn = line.split()
                    m = int(m)
                    assert 2 <= m <= 9
                    kick = -complex(float(kn), float(sn)) * zp ** m / math.factorial(m)
                    kicks[int(k)] = kicks.get(int(k), 0j) + kick
        args = make_ring.parse_args(["--out", out])
        brho = 3.356 * 0.938 * args.gamma
        expected = {}
        for j in range(16):
            # Magnets 1-4 left of IP1, 5-8 right, 9-12 left of IP2, 13-16 right;
            # Q3 .. Q1 on the left, Q1 .. Q3 on the right; Q1, Q3 focusing on
            # the right, the left triplet antisymmetric.
            ip, left = 1 + j // 8, (j // 4) % 2 == 0
            q = 3 - j % 4 if left else j % 4
            sign = (1, -1, -1, 1)[q] * (-1 if left else 1)
            side = [p for p in collider.layout(args)
                    if p.kind == "lr" and p.ip == ip and (p.s < 0) == left]
            pt = min(side, key=lambda p: abs(p.twiss[0] - beta[j]))
            bp = pt.twiss[0]
            # B_y + i B_x = G R sum (b_n + i a_n) 1e-4 (z/R)^(n-1) at the
            # magnet, z = zp sqrt(beta_j / beta_p); the kick in normalised
            # units is the same at the point.
            r, g, length = 0.017, sign * 205.0, weight[j] * 6.37
            zm = zp * math.sqrt(beta[j] / bp)
            field = sum(g * r * 1e-4 * complex(b[j][n - 1], a[j][n - 1]) * (zm / r) ** (n - 1)
                        for n in range(3, 11))
            kick = -length / brho * field * math.sqrt(beta[j] / bp)
            expected[pt.number] = expected.get(pt.number, 0j) + kick
        assert sorted(kicks) == sorted(expected)
        for k in kicks:
            assert abs(kicks[k] - expected[k]) <= 1e-9 * abs(expected[k]), k
    finally:
        shutil.rmtree(out)
