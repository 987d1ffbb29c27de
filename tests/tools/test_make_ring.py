"""Tests of tools/make_ring.py, the generator of the example input set.

Run with `python3 -m pytest tests/tools` or `python3 tests/tools/test_make_ring.py`.
"""

import contextlib
import filecmp
import io
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The command of examples/lhc/ (examples/README.md)
LHC = ["--qx", "64.31", "--qy", "59.32"]
FILES = ("Matrices.dat", "Sigmas.dat", "excluded.dat", "diff.input", "multdist.dat")

sys.path.insert(0, os.path.join(REPO, "tools"))
import make_ring  # noqa: E402
from runs import binary_path  # noqa: E402
from test_tfs import ring_binary, ring_optics, ring_records  # noqa: E402
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

    def element_folder(self):
        """The model with wires (one with ripple and noise), multipoles and
        a tune modulation, and its general ring."""
        args = self.generate("--wires", "npar")
        with open(os.path.join(args.out, "wires.dat"), "a") as f:
            f.write("30 1.0 2.0 50.0 1.0 0.01 100 0 0.001\n")   # ripple, default seed
        with open(os.path.join(args.out, "multipoles.dat"), "w") as f:
            f.write("# k n kn sn\n5 2 0.1 -0.2\n5, 3, 1d-3, 0\n")
        with open(os.path.join(args.out, "modulation.dat"), "w") as f:
            f.write("x 1e-3 1000 0.5\n")
        ring = os.path.join(args.out, "ring.txt")
        with contextlib.redirect_stdout(io.StringIO()):
            self.assertEqual(make_ring.main(["--from-folder", args.out, "--ring-out", ring]), 0)
        return args, ring

    def test_classic_folder_as_general_ring(self):
        # every file of a classic folder comes along, section by section:
        # encounter (unless excluded, or point 25), wires, multipoles, matrix
        args, ring = self.element_folder()
        recs = ring_records(ring)
        self.assertEqual(recs[0], ("beam", {"gamma": "7460.52", "emitn": "3.75e-06"}))
        self.assertEqual(recs[1], ("modulation", {"plane": "x", "dq": "0.001",
                                                  "period": "1000.0", "phase": "0.5"}))
        with open(os.path.join(args.out, "Sigmas.dat")) as f:
            sig = {int(r.split()[0]): [float(x) for x in r.split()[1:]] for r in f}
        with open(os.path.join(args.out, "wires.dat")) as f:
            wires = [ln.split() for ln in f]
        with open(os.path.join(args.out, "Matrices.dat")) as f:
            mat = [ln.split() for ln in f]
        want = []
        for k in range(1, 74):
            if k not in (23, 24, 25):
                want.append(("encounter", {"name": "P%d" % k, "npart": "-115000000000.0",
                                           "sigx": sig[k][0], "sigy": sig[k][1],
                                           "sepx": sig[k][2], "sepy": sig[k][3]}))
            for no, w in enumerate(wires, 1):
                if int(w[0]) == k:
                    want.append(("wire", [float(x) for x in w[1:]] + ([no] if len(w) == 9 else [])))
            if k == 5:
                want += [("multipole", {"n": "2", "kn": "0.1", "sn": "-0.2"}),
                         ("multipole", {"n": "3", "kn": "0.001", "sn": "0.0"})]
            want.append(("matrix", [float(x) for row in mat[7 * k - 6:7 * k] for x in row]))
        got = []
        for kw, f in recs[2:]:
            if kw == "encounter":
                f = dict(f, **{x: float(f[x]) for x in ("sigx", "sigy", "sepx", "sepy")})
            elif kw == "wire":
                f = [float(v) for v in list(f.values())]
            elif kw == "matrix":
                f = [float(x) for x in f["m"].split(",")]
            got.append((kw, f))
        self.assertEqual(got, want)     # the numbers of the files, to the bit
        q, _ = ring_optics(ring)
        np.testing.assert_allclose(q, [0.69, 0.70], atol=1e-12)

    def test_study_of_a_folder_and_of_its_ring_agree(self):
        exe = ring_binary()
        if exe is None:
            self.skipTest("the tracker %s has no dynap --ring" % binary_path())
        args, ring = self.element_folder()
        study = [exe, "dynap", "--amplitudes", "1:6:1", "--angles", "3", "--turns", "2048",
                 "--quiet", "--out"]
        for extra in (["classic"], ["general", "--ring", ring]):
            subprocess.run(study + extra, cwd=args.out, check=True, timeout=300,
                           stdout=subprocess.DEVNULL, env=dict(os.environ, OMP_NUM_THREADS="2"))
        for name in ("dynap.csv", "dynap_angles.csv", "dynap_summary.txt"):
            self.assertTrue(filecmp.cmp(os.path.join(args.out, "classic", name),
                                        os.path.join(args.out, "general", name),
                                        shallow=False), name)

    def test_wires_of_the_lhc_ring_at_and_beyond_the_opposing_bunch(self):
        # a wire per side at the outermost encounter, on the opposing bunch's
        # centre (minus the separation), attracting (positive current) for
        # same-charge bunches, for the side's 15 encounters; --wire-distance K
        # puts it K times as far out with K^2 the current: the gradient
        # current / distance^2 of its linear tune shift stays
        out = tempfile.mkdtemp(prefix="make_ring_")
        self.addCleanup(shutil.rmtree, out)
        ring = os.path.join(out, "ring.txt")
        i15 = -collider.wire_current(-1.15e11, 15)
        self.assertGreater(i15, 0.0)
        for k in (1.0, 2.5):
            with contextlib.redirect_stdout(io.StringIO()):
                self.assertEqual(make_ring.main(["--ring-out", ring, "--force", "--wires", "side",
                                                 "--wire-distance", str(k)] + LHC), 0)
            recs = ring_records(ring)
            wires = [(i, f) for i, (kw, f) in enumerate(recs) if kw == "wire"]
            self.assertEqual(len(wires), 4)
            for i, w in wires:
                enc = recs[i - 1][1]
                self.assertEqual(w["name"], "W" + enc["name"])
                sep = [float(enc["sepx"]), float(enc["sepy"])]
                self.assertAlmostEqual(math.hypot(*sep), 1e3 * 285e-6 * 15 * 3.74, delta=1e-9)
                self.assertEqual([float(w["x"]), float(w["y"])], [-k * sep[0], -k * sep[1]])
                self.assertAlmostEqual(float(w["current"]) / (k * k), i15, delta=1e-12)
        with self.assertRaises(SystemExit), contextlib.redirect_stderr(io.StringIO()):
            make_ring.parse_args(["--ring-out", ring, "--wire-distance", "2"])


    def test_model_ring_at_the_lhc_working_point(self):
        # tunes below the half integer, any number of IPs, the long-range
        # encounters of each every half bunch spacing within the shared
        # chamber, separated by the crossing angle
        out = tempfile.mkdtemp(prefix="make_ring_")
        self.addCleanup(shutil.rmtree, out)
        ring = os.path.join(out, "ring.txt")
        with contextlib.redirect_stdout(io.StringIO()) as said:
            self.assertEqual(make_ring.main(["--ring-out", ring, "--qx", "62.31", "--qy",
                                             "60.32", "--ips", "3", "--check"]), 0)
        self.assertIn("check: all passed", said.getvalue())
        q, b = ring_optics(ring)
        np.testing.assert_allclose(q, [0.31, 0.32], atol=1e-12)
        np.testing.assert_allclose(b, [0.55, 0.55], rtol=1e-10)
        enc = [f for kw, f in ring_records(ring) if kw == "encounter"]
        nlr = int(59.0 / 3.74)
        self.assertEqual(len(enc), 3 * (2 * nlr + 1))
        for e in enc:
            name = e["name"]
            ip = int(name[-4] if name.startswith("BB") else name[2])
            n = int(name[-2:]) if name.startswith("BB") else 0
            s = 3.74 * n * (1 if "R" in name else -1)
            sep = (float(e["sepx"]), float(e["sepy"]))
            plane = 0 if ip % 2 == 1 else 1
            self.assertAlmostEqual(sep[plane], 1e3 * 285e-6 * s, delta=1e-12)
            self.assertEqual(sep[1 - plane], 0.0)
            beta = 0.55 + s * s / 0.55
            self.assertAlmostEqual(float(e["sigx"]), 1e3 * math.sqrt(beta * 3.75e-6 / 7460.52),
                                   delta=1e-15)
        # the bundled example at the LHC working point is what its command writes
        for name, extra in (("ring.txt", []), ("ring_wires.txt", ["--wires", "side"])):
            with contextlib.redirect_stdout(io.StringIO()):
                make_ring.main(["--ring-out", ring, "--force"] + LHC + extra)
            self.assertTrue(filecmp.cmp(ring, os.path.join(REPO, "examples", "lhc", name),
                                        shallow=False), name)
        # the classic folder keeps its refusal of tunes below the half integer
        with self.assertRaises(SystemExit), contextlib.redirect_stderr(io.StringIO()):
            make_ring.parse_args(["--qx", "64.31"])


if __name__ == "__main__":
    unittest.main()
