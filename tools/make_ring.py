#!/usr/bin/env python3
"""Write the input of the beam-beam tracker: the model collider
(bbtools/collider.py), or a ring converted from the Twiss tables of a lattice
code (bbtools/lattice.py).

Usage:
    python3 tools/make_ring.py --out DIR --check
    python3 tools/make_ring.py --force         # rewrites examples/ring/
    python3 tools/make_ring.py --from-tfs B1.tfs --opposing B2.tfs --out DIR
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bbtools import collider  # noqa: E402  (the model collider)
from bbtools import collider_check  # noqa: E402
from bbtools import collider_options  # noqa: E402
from bbtools import lattice  # noqa: E402  (rings from Twiss tables)
from bbtools import triplet_errors  # noqa: E402  (multipoles.dat from multdist.dat)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUT = os.path.join(REPO, "examples", "ring")


def build_parser():
    p = argparse.ArgumentParser(
        description=collider.__doc__.split("\n\n")[0],
        formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    p.add_argument("--out", default=DEFAULT_OUT, help="output folder")
    p.add_argument("--force", action="store_true",
                   help="write into an output folder that already holds files")
    p.add_argument("--check", action="store_true",
                   help="read the written files back and verify the optics")
    g = collider_options.add_options(p)
    triplet_errors.add_arguments(g)
    lattice.add_options(p)
    return p


def parse_args(argv=None):
    p = build_parser()
    args = p.parse_args(argv)
    collider_options.finish(p, args)
    return args


def main(argv=None):
    args = parse_args(argv)
    if os.path.isdir(args.out) and os.listdir(args.out) and not args.force:
        print("make_ring.py: %s already holds files; give --force to overwrite "
              "them, or --out NEW_FOLDER" % args.out, file=sys.stderr)
        return 2
    if args.from_tfs:
        try:
            lattice.convert(args, sys.argv[1:] if argv is None else argv)
        except (OSError, ValueError) as e:
            print("make_ring.py: error: %s" % e, file=sys.stderr)
            return 2
        return 0
    pts = collider.generate(args)
    if args.triplet_errors:
        triplet_errors.write_for_ring(args, pts)
    if args.tfs:
        collider.write_model(args.tfs, args, pts, *collider.phase_advances(args, pts))
    print("wrote Matrices.dat, Sigmas.dat, excluded.dat, diff.input, "
          "multdist.dat%s to %s" % ("" if args.wires == "none" else ", wires.dat",
                                     args.out))
    if args.check:
        for line in collider_check.check(args, pts):
            print("check: " + line)
        print("check: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
