#!/usr/bin/env python3
"""Write the input of the beam-beam tracker: the model collider
(bbtools/collider.py), a ring converted from the Twiss tables of a lattice
code (bbtools/conversion.py), or the general ring file of either or of a
classic folder (--ring-out, bbtools/ring_file.py).

Usage:
    python3 tools/make_ring.py --out DIR --check
    python3 tools/make_ring.py --force         # rewrites examples/ring/
    python3 tools/make_ring.py --from-tfs B1.tfs --opposing B2.tfs --out DIR
    python3 tools/make_ring.py --from-tfs B1.tfs --opposing B2.tfs --ring-out FILE
    python3 tools/make_ring.py --from-folder examples/ring --ring-out FILE
    python3 tools/make_ring.py --ips 2 --qx 62.31 --qy 60.32 --ring-out FILE
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bbtools import classic_folder as cf  # noqa: E402
from bbtools import collider  # noqa: E402  (the model collider)
from bbtools import collider_check  # noqa: E402
from bbtools import collider_options  # noqa: E402
from bbtools import collider_ring  # noqa: E402  (the model as a general ring)
from bbtools import conversion  # noqa: E402  (rings from Twiss tables)
from bbtools import lattice  # noqa: E402
from bbtools import ring_file  # noqa: E402  (the general ring file)
from bbtools import triplet_errors  # noqa: E402  (multipoles.dat from multdist.dat)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUT = os.path.join(REPO, "examples", "ring")
NAME = "make_ring.py"


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """One line, exit status 2."""
        self.exit(2, "%s: error: %s\n" % (NAME, message))


def build_parser():
    p = Parser(description=collider.__doc__.split("\n\n")[0],
               formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    p.add_argument("--out", default=DEFAULT_OUT, help="output folder (classic files)")
    p.add_argument("--force", action="store_true",
                   help="write into an output folder that already holds files, "
                   "or over an existing --ring-out file")
    p.add_argument("--check", action="store_true",
                   help="read the written files back and verify the optics")
    p.add_argument("--ring-out", metavar="FILE", default=None,
                   help="write the general ring file (any number of encounters, "
                   "tunes anywhere) instead of the classic folder")
    p.add_argument("--from-folder", metavar="DIR", default=None,
                   help="with --ring-out: convert this classic folder")
    g = collider_options.add_options(p)
    triplet_errors.add_arguments(g)
    lattice.add_options(p)
    collider_ring.add_options(p)
    return p


def parse_args(argv=None):
    """The options; args.given holds the names of those the user gave (a
    converted ring takes no model default)."""
    p = build_parser()
    args = p.parse_args(argv)
    q = build_parser()
    for action in q._actions:
        action.default = argparse.SUPPRESS
    args.given = set(vars(q.parse_args(argv)))
    collider_options.finish(p, args, classic=args.ring_out is None
                            and args.from_tfs is None and args.from_folder is None)
    bad = lattice.check_patterns(args) or refusal(args)
    if bad:
        p.error(bad)
    return args


def refusal(args):
    """Why a combination of options cannot be done, or None."""
    converted = args.from_tfs or args.from_folder
    if args.from_tfs and args.from_folder:
        return "--from-tfs and --from-folder: give one source"
    if args.from_folder and not args.ring_out:
        return "--from-folder converts a classic folder into --ring-out FILE"
    for opt, on in (("--wires", args.wires != "none"),
                    ("--triplet-errors", args.triplet_errors), ("--tfs", args.tfs),
                    ("--ips", "ips" in args.given)):
        if converted and on:
            return ("%s places elements by the model collider's layout; a converted "
                    "ring takes its wires and multipoles from its own files" % opt)
    if args.ring_out and not converted and (args.triplet_errors or args.tfs):
        return ("--triplet-errors and --tfs act on the classic model; the model as "
                "a general ring takes neither")
    if "wire_distance" in args.given and (args.wires == "none" or not args.ring_out):
        return "--wire-distance moves the wires of --wires in --ring-out only"
    if args.head_on_6d:
        if not args.ring_out:
            return "--head-on-6d writes six-dimensional encounters into --ring-out only"
        if args.sigma_z is None or not args.sigma_z > 0.0:
            return "--head-on-6d needs --sigma-z, the bunch length (> 0) [m]"
        if args.slices is None or not 1 <= args.slices <= 10000:
            return "--head-on-6d needs --slices N, 1 .. 10000"
    for path in args.tfs or []:
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder) or os.path.isdir(path):
            return "--tfs %s: no folder %s to write it into" % (path, folder)
    return None


def write_ring(args, say):
    path = args.ring_out
    if os.path.isdir(path):
        raise ValueError("--ring-out %s is a folder" % path)
    if os.path.lexists(path) and not args.force:
        raise ValueError("--ring-out %s exists; give --force to overwrite it" % path)
    expect = None
    if args.from_folder:
        ring = ring_file.from_folder(args.from_folder)
        source = "the classic folder %s" % args.from_folder
        turn = conversion.one_turn(cf.read_matrices(
            os.path.join(args.from_folder, "Matrices.dat")))
        (qx, bx), (qy, by) = (conversion.plane_optics(turn, o) for o in (0, 2))
        expect = (qx, qy), (bx, by)
    elif args.from_tfs:
        ring, tunes, betas = conversion.to_ring(args, args.given, say)
        source, expect = "%s (make_ring.py --from-tfs)" % args.from_tfs, (tunes, betas)
    else:
        ring = collider_ring.build(args)
        source = "the model collider (make_ring.py)"
    ring_file.write(path, ring, comments=("ring of %s" % source,))
    say("wrote %s: %d elements, %d encounters" % (
        path, len(ring.elements), ring.count("encounter") + ring.count("encounter6d")))
    if args.check:
        if expect is None:
            expect = collider_ring.expected_optics(args, ring)
        for line in conversion.check_ring(path, *expect):
            say("check: " + line)
        say("check: all passed")


def run(args, say):
    if args.ring_out:
        return write_ring(args, say)
    if os.path.isdir(args.out) and os.listdir(args.out) and not args.force:
        raise ValueError("%s already holds files; give --force to overwrite "
                         "them, or --out NEW_FOLDER" % args.out)
    if args.from_tfs:
        tunes, betas = conversion.to_classic(args, args.given, say)
        if args.check:
            for line in conversion.check_classic(args.out, tunes, betas):
                say("check: " + line)
            say("check: all passed")
        return
    pts = collider.generate(args)
    if args.triplet_errors:
        triplet_errors.write_for_ring(args, pts)
    if args.tfs:
        collider.write_model(args.tfs, args, pts, *collider.phase_advances(args, pts))
    say("wrote Matrices.dat, Sigmas.dat, excluded.dat, diff.input, "
        "multdist.dat%s to %s" % ("" if args.wires == "none" else ", wires.dat", args.out))
    if args.check:
        for line in collider_check.check(args, pts):
            say("check: " + line)
        say("check: all passed")


def main(argv=None):
    args = parse_args(argv)

    def say(text):
        if text.startswith("warning: "):
            print("%s: %s" % (NAME, text), file=sys.stderr)
        else:
            print(text)
    try:
        run(args, say)
    except (OSError, ValueError) as e:
        print("%s: error: %s" % (NAME, e), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
