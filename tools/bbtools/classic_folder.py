"""The classic input folder's files: "Matrices.dat", "Sigmas.dat",
"excluded.dat" and "diff.input", written with fixed formats (17 significant
digits for the optics, so that a number reads back to the same double) and
read back as the tracker reads them.

File units.  Positions are written in mm and angles in rad (z in mm, delta
without unit), so a file matrix is R_file(i,j) = R_SI(i,j) d_j / d_i with
d = (0.001, 1, 0.001, 1, 0.001, 1); the tracker undoes this on reading.
"""

from bbtools import params

NPOINTS = 73       # sections (and encounter points) of the tracker
NOENC = 25         # the point without an encounter
RP = 1.5e-18       # classical proton radius used by the tracker [m]
# Scale of the file units: positions in mm, angles in rad.
UNIT = (0.001, 1.0, 0.001, 1.0, 0.001, 1.0)


def e17(v):
    """17 significant digits: reads back to the same double."""
    return "%24.16E" % v


def real(v):
    """Short form of a run parameter, always with a point or an exponent:
    12 significant digits at most, trailing zeros dropped."""
    if v != 0.0 and not 1e-3 <= abs(v) < 1e7:
        mant, exp = ("%.11E" % v).split("E")
        mant = mant.rstrip("0")
        return (mant + "0" if mant.endswith(".") else mant) + "E" + exp
    t = "%.12G" % v
    return t if "." in t else t + ".0"


def write_matrices(path, mats):
    with open(path, "w", newline="\n") as f:
        for k, m in enumerate(mats, 1):
            f.write("SEC%03d\n" % k)
            for i in range(6):
                f.write(" ".join(e17(m[i][j] * (UNIT[j] / UNIT[i]))
                                 for j in range(6)) + "\n")



def write_sigma_rows(path, rows):
    """Sigmas.dat from rows (point, sigx, sigy, x, y) [mm]."""
    with open(path, "w", newline="\n") as f:
        for k, sx, sy, x, y in rows:
            f.write("%2d %s %s %s %s\n" % (k, e17(sx), e17(sy), e17(x), e17(y)))


def write_excluded(path, points):
    with open(path, "w", newline="\n") as f:
        for k in points:
            f.write("%d\n" % k)


def diff_input_values(args):
    """Text of every value of diff.input, by the parameter names of
    bbtools.params."""
    wse, we2, wre = args.wire_errors
    ints = {"iopt": args.iopt, "itrip": args.itrip, "ichoice": args.ichoice,
            "ntrack": args.ntrack, "npart": args.npart, "npar": args.npar,
            "iwire": args.iwire, "iwswitch": args.iwswitch}
    reals = {"amp": args.amp, "xtune": args.qx, "xfrac": round(args.qx % 1.0, 12),
             "ytune": args.qy, "yfrac": round(args.qy % 1.0, 12),
             "circumference": args.circumference, "dnb": args.dnb,
             "spacing": args.spacing, "betastar": args.betastar, "emitn": args.emitn,
             "gamma": args.gamma, "xi": args.xi, "sstar": args.sstar,
             "divstar": args.divstar, "thetac": args.thetac,
             "dpxm": args.dpm[0], "dpym": args.dpm[1], "fx": args.fmod[0],
             "fy": args.fmod[1], "wstrerr": wse, "werr2": we2, "wranerr": wre,
             "disterr": args.disterr, "wcurrent": args.wcurrent,
             "wlength": args.wlength, "wdist": args.wdist, "wbetax": args.wbetax,
             "wbetay": args.wbetay}
    out = {k: "%d" % v for k, v in ints.items()}
    out.update({k: real(v) for k, v in reals.items()})
    return out


def diff_input_lines(args):
    """The 51 lines of diff.input: (text, is_value), laid out by the table of
    bbtools.params that bbscan and bbrun edit the file with."""
    values = diff_input_values(args)
    return [(comment, False) if comment is not None
            else (" ".join(values[n] for n in names), True)
            for _, comment, names in params.layout()]


def write_diff_input(path, args):
    with open(path, "w", newline="\n") as f:
        for text, _ in diff_input_lines(args):
            f.write(text + "\n")



def read_matrices(path):
    """Read Matrices.dat as the tracker does and return the 73 matrices in
    tracking units (m, rad)."""
    with open(path) as f:
        lines = f.read().split("\n")
    assert lines[-1] == "", "Matrices.dat must end with a line feed"
    lines = lines[:-1]
    assert len(lines) == 7 * NPOINTS, "Matrices.dat: %d lines" % len(lines)
    mats = []
    for k in range(NPOINTS):
        name = lines[7 * k].split()
        assert len(name) == 1 and len(name[0]) <= 10, "bad name line"
        t = []
        for i in range(6):
            v = [float(x) for x in lines[7 * k + 1 + i].split()]
            assert len(v) == 6, "row of 6 numbers expected"
            row = []
            for j in range(6):
                x = v[j]
                if j % 2 == 0:      # odd column (1-based)
                    x *= 1000.0
                if i % 2 == 0:      # odd row
                    x *= 0.001
                row.append(x)
            t.append(row)
        mats.append(t)
    return mats
