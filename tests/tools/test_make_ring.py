"""Tests of tools/make_ring.py, the generator of the example input set.

Run with `python3 -m pytest tests/tools` or `python3 tests/tools/test_make_ring.py`.
"""

import contextlib
import filecmp
import io
import os
import shutil
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILES = ("Matrices.dat", "Sigmas.dat", "excluded.dat", "diff.input", "multdist.dat")

sys.path.insert(0, os.path.join(REPO, "tools"))
import make_ring  # noqa: E402
from bbtools import collider, collider_check  # noqa: E402


class MakeRingTest(unittest.TestCase):

    def generate(self, *options):
        out = tempfile.mkdtemp(prefix="make_ring_")
        self.addCleanup(shutil.rmtree, out)
        args = make_ring.parse_args(["--out", out] + list(options))
        collider.generate(args)
        return args

    def test_bundled_set_is_up_to_date(self):
        args = self.generate()
        bundled = os.path.join(REPO, "examples", "ring")
        for name in FILES:
            self.assertTrue(
                filecmp.cmp(os.path.join(args.out, name), os.path.join(bundled, name),
                            shallow=False),
                "%s differs from a fresh run of tools/make_ring.py" % name)

    def test_rerun_is_byte_identical(self):
        a = self.generate()
        b = self.generate()
        for name in FILES:
            self.assertTrue(filecmp.cmp(os.path.join(a.out, name),
                                        os.path.join(b.out, name), shallow=False), name)
        # a folder that holds files is not overwritten unless asked
        with contextlib.redirect_stderr(io.StringIO()) as err:
            self.assertEqual(make_ring.main(["--out", a.out, "--qx", "64.71"]), 2)
        self.assertIn("--force", err.getvalue())
        self.assertTrue(filecmp.cmp(os.path.join(a.out, "Matrices.dat"),
                                    os.path.join(b.out, "Matrices.dat"), shallow=False))

    def test_default_optics(self):
        args = self.generate()
        report = collider_check.check(args)
        self.assertTrue(any(line.startswith("one-turn tunes") for line in report))

    def test_other_layout_and_flat_opposing_beam(self):
        # IP2 moved, other tunes and a non-round opposing beam.
        args = self.generate("--ip2", "44", "--qx", "62.71", "--qy", "60.73",
                             "--crossing1", "y", "--crossing2", "x",
                             "--opp-emitn-y", "3.2e-6", "--betastar", "0.4")
        collider_check.check(args)

    def test_compensating_wires_follow_the_bunch_population(self):
        # no wire file unless asked; with --wires, four wires on the opposing
        # centres (checked by check), the current of the tracker's evaluation
        # with the opposite sign of dnb
        self.assertFalse(os.path.exists(os.path.join(self.generate().out, "wires.dat")))
        for dnb, sign in (("1.15e11", -1.0), ("-1.15e11", 1.0)):
            args = self.generate("--wires", "npar", "--dnb=" + dnb)
            collider_check.check(args)
            with open(os.path.join(args.out, "wires.dat")) as f:
                currents = [float(ln.split()[3]) for ln in f]
            self.assertEqual(currents, [sign * 86.88281256626694] * 4)
        args = self.generate("--wires", "side", "--dnb=1.15e11")
        with open(os.path.join(args.out, "wires.dat")) as f:
            recs = [ln.split() for ln in f]
        self.assertEqual([r[0] for r in recs], ["22", "26", "55", "56"])
        # 21, 11, 18 and 18 kicking encounters on the four sides
        self.assertEqual([round(float(r[3]) / -86.88281256626694 * 16, 9) for r in recs],
                         [21, 11, 18, 18])

    def test_tunes_below_half_integer_are_refused(self):
        with self.assertRaises(SystemExit), contextlib.redirect_stderr(io.StringIO()):
            make_ring.parse_args(["--qx", "64.31"])

    def test_values_the_physics_cannot_take_are_refused_before_writing(self):
        out = os.path.join(tempfile.mkdtemp(prefix="make_ring_"), "ring")
        self.addCleanup(shutil.rmtree, os.path.dirname(out))
        for bad in (["--emitn", "nan"], ["--gamma", "inf"], ["--betastar", "-1"],
                    ["--gamma", "0.5"], ["--thetac=-1e-4"], ["--ntrack", "0"],
                    ["--triplet-betas", "1", "2", "3", "0"], ["--opp-emitn-y", "0"]):
            with contextlib.redirect_stderr(io.StringIO()) as err, \
                    self.assertRaises(SystemExit) as stop:
                make_ring.main(["--out", out] + bad)
            self.assertEqual(stop.exception.code, 2, bad)
            self.assertIn(": error: --", err.getvalue())
            self.assertFalse(os.path.exists(out), bad)
        # the opposing beam's vertical emittance follows --emitn unless given
        for opts, emy in (([], 3.0e-6), (["--emitn", "2.5e-6"], 2.0e-6),
                          (["--emitn", "2.5e-6", "--opp-emitn-y", "2.5e-6"], 2.5e-6)):
            self.assertAlmostEqual(make_ring.parse_args(opts).opp_emitn_y, emy, delta=1e-20)


if __name__ == "__main__":
    unittest.main()
