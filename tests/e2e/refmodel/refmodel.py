#!/usr/bin/env python3
"""Reference model of the beam-beam tracking batch program.

Usage:  python3 refmodel.py RUNDIR

Reads the input files of RUNDIR ("diff.input", "Matrices.dat", "Sigmas.dat",
"excluded.dat", "multdist.dat"), writes into RUNDIR the files the program
writes, plus "stdout.txt", "stderr.txt" and "status.txt" (exit status).
The run happens with RUNDIR as the current directory; environment variables
NO_STOP_MESSAGE and FORnnn are taken from the model's own environment.
"""

import math
import os
import re
import sys

_here = os.path.dirname(os.path.abspath(__file__))
if _here not in sys.path:
    sys.path.insert(0, _here)

from textio import TextIO, RunEnd, fmt_i            # noqa: E402
from numerics import (c_div, c_sqrt, c_exp, c_acos, c_sin, c_cos, f32,  # noqa: E402
                      ranuni, Encounter, ffrank, c06eaf_check,
                      hermitian_pair, QNAN)

F_DIFF = "(I6,3(1X,E10.3),1X,I3,1X,I3)"
F_PHASE = "(1X,I5,4(1X,E10.4))"
F_FOOT = "(2(1X,I5),2(1X,E10.4))"
F_RESAV = "(1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))"
F_FMAP = "(4(1X,E18.12))"
F_MAT = "(6(1X,E12.5))"
F_IMAGE = "(I5,9(1X,F10.4))"

SP_1EM7 = 1.0000000116860974e-07
SP_3356 = 3.3559999465942383
SP_0938 = 0.9380000233650208
SP_001 = 0.009999999776482582
SP_1EM5 = 9.999999747378752e-06

NSLOT = 1001
NTMAPM = 4096


class State(object):
    pass


# -- the program's own diagnostics: one line each on standard error ---------
def warn(io, text):
    io.err_line("diff2wirenew: warning: " + text)


def check_extra_lines(io, name, headers, expected, what):
    """The program's count of lines past what the ring reads."""
    n = 0
    with open(name, "rb") as fh:
        lines = fh.read().split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    for line in lines:
        t = line.lstrip(b" \t\r")
        if not t:
            continue
        if not headers or t[:1].isalpha():
            n += 1
    if n > expected:
        warn(io, "%s holds %d %s, more than the %d of the ring: only the first %d are read"
             % (name, n, what, expected, expected))


def error(io, text):
    io.err_line("diff2wirenew: error: " + text)


def num_g(v):
    """A real in six significant digits, as printf's %g."""
    if v != v:
        return "-nan" if math.copysign(1.0, v) < 0 else "nan"
    return "%g" % v


def require_input(io, name):
    if not os.path.exists(name):
        error(io, "%s does not exist in %s" % (name, os.getcwd()))
    elif os.path.getsize(name) == 0:
        error(io, "%s is empty (a run creates a missing input empty)" % name)


def optional_input(io, name, consequence):
    if not os.path.exists(name):
        warn(io, "%s does not exist in %s, so %s" % (name, os.getcwd(), consequence))


def refuse_turn_limit(io, s):
    error(io, "ntrack = %d, but option %d stores at most %d turns: the run stops "
          "before tracking and writes no results" % (s.ntrack, s.iopt, NTMAPM))
    io.stop(2)


def refuse(io, text):
    error(io, text)
    io.terminate(2)


def refuse_footprint_length(io, s):
    n = s.ntrack
    if c06eaf_check(n) == 0:
        return
    below = [m for m in range(2, n) if c06eaf_check(m) == 0]
    above = max(n + 1, 2)
    while c06eaf_check(above):
        above += 1
    nearest = ("lengths are %d and %d" % (below[-1], above)) if below else ("length is %d" % above)
    refuse(io, "diff.input: ntrack = %d is not a length the footprint's Fourier transform "
           "accepts (at least 2, prime factors at most 19, at most 20 of them); the nearest "
           "accepted %s: the run stops before tracking and writes no results" % (n, nearest))


def warn_option(io, s):
    if s.iopt == 2 and s.ntrack <= 1:
        warn(io, "diff.input: ntrack = %d gives option 2 no turns to analyse: frequencymap.dat "
             "%s; a frequency map needs ntrack >= 2"
             % (s.ntrack, "holds only the start of each particle" if s.ntrack == 1
                else "stays empty"))
    elif s.iopt < 0 or s.iopt > 3:
        warn(io, "diff.input: iopt = %d is not an option (0 to 3): it runs the diffusion run "
             "of option 0" % s.iopt)


def warn_short_diffusion(io, s):
    n = s.ntrack
    if s.iopt != 0 or n >= 2000:
        return
    records = n // 100 - 9 if n >= 1000 else 0
    written = "diff.dat holds %d record%s" % (records, "" if records == 1 else "s")
    if n <= 1000:
        warn(io, "ntrack = %d gives no diffusion rates: the running average of the action "
             "spread starts at turn 1000, so the rates in resav.out are not defined "
             "(0 or nan) and %s; a rate needs ntrack >= 2000" % (n, written))
    else:
        warn(io, "ntrack = %d measures the diffusion rates in resav.out over %d turns after "
             "the running average starts at turn 1000 (%s); a rate needs ntrack >= 2000"
             % (n, n - 1000, written))


def new_state():
    s = State()
    # readin1..4, phase, crossing, tunemd, wire*, bb
    s.iopt = 0
    s.ntrack = 0
    s.amp = 0.0
    s.ichoice = 0
    s.itrip = 0
    s.circumference = 0.0
    s.spacing = 0.0
    s.xi = 0.0
    s.phase = [0.0, 0.0, 0.0, 0.0]
    s.thetac = 0.0
    s.npar = 0
    s.dpxm = s.dpym = s.fx = s.fy = 0.0
    s.wirestr = s.wstrerr = s.werr2 = s.wranerr = 0.0
    s.iwire = 0
    s.iwswitch = 0
    s.disterr = 0.0
    s.wcurrent = s.wlength = 0.0
    s.wbetax = s.wbetay = s.wdist = 0.0
    s.wirecoef = 0.0
    s.rp = s.gamma = s.dnb = s.emitn = s.srparam = 0.0
    s.sstar = s.betastar = s.emit = s.divstar = 0.0
    s.echarge = s.clight = 0.0
    s.pi = 0.0
    s.trev = 0.0
    s.factor = 0.0
    s.tmat = None
    s.alfx = s.alfy = s.betx = s.bety = 0.0
    s.bbcoord = [[0.0] * 4 for _ in range(74)]   # index 1..73
    s.excl = [0] * 74                           # index 1..73
    s.nexcl = 0
    s.cavind = 0
    s.npart = 0
    s.nlost = 0
    s.ampin = 0.0
    return s


# ---------------------------------------------------------------------------
# Run parameter file
# ---------------------------------------------------------------------------

def readinwire(io, s):
    u = 440
    require_input(io, "diff.input")
    io.open(u, "diff.input")

    def skip():
        io.read_a80(u)

    def rd(kinds, vals):
        return io.read_ld(u, kinds, vals)[0]

    w = lambda *items: io.write_ld(6, list(items))

    skip()                                           # 1
    s.amp, = rd(["R"], [s.amp])                      # 2
    w(" amp = ", s.amp)
    if s.amp < 0.0:
        refuse(io, "diff.input: amp = %s is a negative start amplitude; accepted: amp >= 0 "
               "(sigma)" % num_g(s.amp))
    skip(); skip()                                   # 3, 4
    s.iopt, = rd(["I"], [s.iopt])                    # 5
    w(" iopt = ", s.iopt)
    skip()
    s.itrip, = rd(["I"], [s.itrip])                  # 7
    w(" itrip = ", s.itrip)
    skip()
    s.ichoice, = rd(["I"], [s.ichoice])              # 9
    w(" ichoice = ", s.ichoice)
    skip()
    s.ntrack, = rd(["I"], [s.ntrack])                # 11
    w(" ntrack = ", s.ntrack)
    warn_option(io, s)
    skip()
    s.npart, = rd(["I"], [s.npart])                  # 13
    w(" npart = ", s.npart)
    skip()
    s.phase[0], s.phase[1] = rd(["R", "R"], s.phase[0:2])      # 15
    w(" x tunes = ", s.phase[0], s.phase[1])
    skip()
    s.phase[2], s.phase[3] = rd(["R", "R"], s.phase[2:4])      # 17
    w(" y tunes = ", s.phase[2], s.phase[3])
    skip()
    s.circumference, = rd(["R"], [s.circumference])  # 19
    w(" circumference = ", s.circumference)
    skip()
    s.dnb, = rd(["R"], [s.dnb])                      # 21
    w(" dnb = ", s.dnb)
    skip()
    s.spacing, = rd(["R"], [s.spacing])              # 23
    w(" spacing = ", s.spacing)
    skip()
    s.betastar, = rd(["R"], [s.betastar])            # 25
    w(" betastar = ", s.betastar)
    if not s.betastar > 0.0:
        refuse(io, "diff.input: betastar = %s is not a beta function; accepted: betastar > 0 "
               "(m)" % num_g(s.betastar))
    skip()
    s.emitn, = rd(["R"], [s.emitn])                  # 27
    w(" emitn = ", s.emitn)
    if not s.emitn > 0.0:
        refuse(io, "diff.input: emitn = %s is not an emittance; accepted: emitn > 0 (m rad)"
               % num_g(s.emitn))
    skip()
    s.gamma, = rd(["R"], [s.gamma])                  # 29
    w(" gamma = ", s.gamma)
    if not s.gamma >= 1.0:
        refuse(io, "diff.input: gamma = %s is not a Lorentz factor; accepted: gamma >= 1"
               % num_g(s.gamma))
    s.emit = c_div(s.emitn, s.gamma)
    if not (math.isfinite(s.emit) and s.emit >= sys.float_info.min):
        refuse(io, "diff.input: the geometric emittance emit = emitn/gamma = %s is not a finite "
               "positive normal number: the inputs it is derived from give the tracking nothing "
               "it can use; the run stops before tracking" % num_g(s.emit))
    skip()
    s.xi, = rd(["R"], [s.xi])                        # 31
    w(" xi = ", s.xi)
    skip()
    s.sstar, = rd(["R"], [s.sstar])                  # 33
    w(" sstar = ", s.sstar)
    skip()
    s.divstar, = rd(["R"], [s.divstar])              # 35
    w(" divstar = ", s.divstar)
    skip()
    s.thetac, = rd(["R"], [s.thetac])                # 37
    w(" thetac = ", s.thetac)
    skip()
    s.npar, = rd(["I"], [s.npar])                    # 39
    w(" npar = ", s.npar)
    skip()
    s.dpxm, s.dpym = rd(["R", "R"], [s.dpxm, s.dpym])          # 41
    w(" dpxm, dpym = ", s.dpxm, s.dpym)
    s.fx, s.fy = rd(["R", "R"], [s.fx, s.fy])                  # 42
    w(" fx, fy = ", s.fx, s.fy)
    skip()
    s.iwire, = rd(["I"], [s.iwire])                  # 44
    w(" iwire = ", s.iwire)
    skip()
    s.wstrerr, s.werr2, s.wranerr = rd(["R", "R", "R"],
                                       [s.wstrerr, s.werr2, s.wranerr])  # 46
    s.disterr, = rd(["R"], [s.disterr])              # 47
    s.iwswitch, = rd(["I"], [s.iwswitch])            # 48
    w(" wire errors = ", s.wstrerr, s.werr2, " mrad")
    w(" wire random errors = ", s.wranerr)
    w(" distance error = ", s.disterr)
    w(" iwswitch = ", s.iwswitch)
    skip()
    s.wcurrent, s.wlength = rd(["R", "R"], [s.wcurrent, s.wlength])   # 50
    s.wdist, s.wbetax, s.wbetay = rd(["R", "R", "R"],
                                     [s.wdist, s.wbetax, s.wbetay])   # 51
    w(" wire current =", s.wcurrent)
    w(" wire length =", s.wlength)
    w(" wire distance =", s.wdist)
    w(" wire betax =", s.wbetax)
    w(" wire betay =", s.wbetay)
    s.wstrerr = 0.01 * s.wstrerr


# ---------------------------------------------------------------------------
# Optics and collision files
# ---------------------------------------------------------------------------

def readinvorn(io, s):
    w = lambda *items: io.write_ld(6, list(items))
    require_input(io, "Matrices.dat")
    io.open(450, "Matrices.dat")
    s.image = []                 # written with the result files of the option
    s.cavind = 25
    ident = [[1.0 if i == j else 0.0 for j in range(6)] for i in range(6)]
    cum = [ident]
    tmat = [None] * 74
    name = " " * 10
    v = [0.0] * 6
    for k in range(1, 74):
        (name,), _ = io.read_ld(450, [("C", 10)], [name])
        t = [[0.0] * 6 for _ in range(6)]
        for i in range(1, 7):
            v, _ = io.read_ld(450, ["R"] * 6, v)
            for j in range(1, 7):
                val = v[j - 1]
                if j % 2 == 1:
                    val = val * 1000.0
                if i % 2 == 1:
                    val = val * 0.001
                t[i - 1][j - 1] = val
                w(k, i, j, " ", val)
        tmat[k] = t
        prev = cum[k - 1]
        p = [[0.0] * 6 for _ in range(6)]
        for i in range(6):
            ti = t[i]
            for j in range(6):
                acc = 0.0
                for l in range(6):
                    acc = acc + ti[l] * prev[l][j]
                p[i][j] = acc
        cum.append(p)
    s.tmat = tmat
    first, others = None, 0
    for k in range(1, 74):
        for p, plane in enumerate(("horizontal", "vertical", "longitudinal")):
            a, b = 2 * p, 2 * p + 1
            t = tmat[k]
            det = t[a][a] * t[b][b] - t[a][b] * t[b][a]
            if abs(det - 1.0) <= 1e-9:
                continue
            if first is not None:
                others += 1
                continue
            first = ("Matrices.dat: section %d, %s plane: the determinant of the 2x2 block is "
                     "%s, not 1 within 1e-09" % (k, plane, num_g(det)))
    if first is not None:
        if others:
            first += " (and %d more blocks)" % others
        warn(io, first + ": the matrix does not conserve phase-space area")
    check_extra_lines(io, "Matrices.dat", True, 73, "blocks")
    T = cum[73]
    w(" ")
    w(" matrix ")
    for i in range(6):
        io.write_fmt(6, F_MAT, T[i])
    pi = 4.0 * math.atan(1.0)
    s.pi = pi
    twopi = 2.0 * pi
    qx = 1.0 - c_div(c_acos((T[0][0] + T[1][1]) / 2.0), twopi)
    qy = 1.0 - c_div(c_acos((T[2][2] + T[3][3]) / 2.0), twopi)
    qz = 1.0 - c_div(c_acos((T[4][4] + T[5][5]) / 2.0), twopi)
    w(" ")
    w(" tunes ")
    w(qx, " ", qy, " ", qz)
    w(" ")
    mux = twopi * qx
    muy = twopi * qy
    s.betx = c_div(T[0][1], c_sin(mux))
    s.bety = c_div(T[2][3], c_sin(muy))
    s.alfx = c_div(T[0][0] - c_cos(mux), c_sin(mux))
    s.alfy = c_div(T[2][2] - c_cos(muy), c_sin(muy))
    w(" ")
    w(" betas ")
    w(s.betx, " ", s.bety)
    w(" alfas ")
    w(s.alfx, " ", s.alfy)
    w(" ")
    # stability warnings (standard error)
    for plane, tr, beta in (("horizontal", T[0][0] + T[1][1], s.betx),
                            ("vertical", T[2][2] + T[3][3], s.bety)):
        if tr != tr or abs(tr) >= 2.0:
            warn(io, "the %s one-turn matrix of Matrices.dat is unstable (|trace| = %s, "
                 "limit 2): its tune, Twiss functions and every result derived from them "
                 "are meaningless" % (plane, num_g(abs(tr))))
        elif not beta > 0.0:
            warn(io, "the %s beta function at the observation point is not positive "
                 "(%s = %s): the tune of the one-turn matrix of Matrices.dat is below "
                 "the half integer" % (plane, "betx" if plane == "horizontal" else "bety",
                                       num_g(beta)))

    require_input(io, "Sigmas.dat")
    io.open(460, "Sigmas.dat")
    s.cavind = 25
    betx, bety, alfx, alfy, emit = s.betx, s.bety, s.alfx, s.alfy, s.emit
    gx0 = c_div(1.0 + alfx * alfx, betx)
    gy0 = c_div(1.0 + alfy * alfy, bety)
    cx = 0.0
    cy = 0.0
    sv = [0, 0.0, 0.0, 0.0, 0.0]
    sem = c_sqrt(emit)
    misnumbered = False
    for k in range(1, 74):
        if k == s.cavind:
            sv[1] = sv[2] = sv[3] = sv[4] = 0.0
        else:
            sv, _ = io.read_ld(460, ["I", "R", "R", "R", "R"], sv)
            for size, plane in ((sv[1], "x"), (sv[2], "y")):
                if not size > 0.0:
                    refuse(io, "Sigmas.dat: the record for encounter %d (point %d) has the beam "
                           "size %s (%s); accepted: a size > 0 (mm)"
                           % (k, sv[0], num_g(size), plane))
            if sv[0] not in (k, k if k < 25 else k - 1) and not misnumbered:
                misnumbered = True
                warn(io, "Sigmas.dat: the record for encounter %d carries point number %d: a "
                     "missing or extra line shifts every later encounter" % (k, sv[0]))
        s1, s2, s3, s4 = sv[1], sv[2], sv[3], sv[4]
        bb = s.bbcoord[k]
        bb[2] = -0.001 * s3
        bb[3] = -0.001 * s4
        bb[0] = 0.001 * s1
        bb[1] = 0.001 * s2
        w(" in readinvorn ", bb[2], s3)
        xo = bb[2]
        yo = bb[3]
        if k == 1:
            xr = xo
            xpr = c_div(-xo * alfx, betx)
            yr = yo
            ypr = c_div(-yo * alfy, bety)
        else:
            m = cum[k - 1]
            m11, m12, m21, m22 = m[0][0], m[0][1], m[1][0], m[1][1]
            m33, m34, m43, m44 = m[2][2], m[2][3], m[3][2], m[3][3]
            bx = m11 * m11 * betx - 2.0 * m11 * m12 * alfx + m12 * m12 * gx0
            by = m33 * m33 * bety - 2.0 * m33 * m34 * alfy + m34 * m34 * gy0
            ax = -m11 * m21 * betx + (m11 * m22 + m12 * m21) * alfx - m12 * m22 * gx0
            ay = -m33 * m43 * bety + (m33 * m44 + m34 * m43) * alfy - m34 * m44 * gy0
            xr = xo * (m22 + c_div(m12 * ax, bx))
            xpr = -xo * (m21 + c_div(m11 * ax, bx))
            yr = yo * (m44 + c_div(m34 * ay, by))
            ypr = -yo * (m43 + c_div(m33 * ay, by))
            cx = c_div(m22 * bb[0], sem)
            cy = c_div(m44 * bb[1], sem)
        X = c_div(xr, c_sqrt(emit * betx))
        PX = c_div(c_sqrt(betx) * (xpr + c_div(xr * alfx, betx)), sem)
        Y = c_div(yr, c_sqrt(emit * bety))
        PY = c_div(c_sqrt(bety) * (ypr + c_div(yr * alfy, bety)), sem)
        AX = c_sqrt(X * X + PX * PX)
        AY = c_sqrt(Y * Y + PY * PY)
        AR = c_sqrt(AX * AX + AY * AY)
        w(" in readinvorn 2 ", xr, X, emit)
        if k != s.cavind:
            recno = k if k < s.cavind else k - 1
            s.image.append([recno, X, PX, Y, PY, cx, cy, AX, AY, AR])

    check_extra_lines(io, "Sigmas.dat", False, 72, "records")

    optional_input(io, "excluded.dat", "no encounter is excluded")
    io.open(470, "excluded.dat")
    n_read = 0
    for n in range(1, 74):
        vals, eof = io.read_ld(470, ["I"], [s.excl[n]], eof_ok=True)
        if eof:
            break
        s.excl[n] = vals[0]
        n_read = n
    s.nexcl = n_read
    # Entries that exclude no encounter (no point, the point without
    # encounter, one listed before), reals, lines of more than one value and
    # lines past the 73rd read cleanly and are warned about; the count is of
    # the encounters excluded.
    idle = {}
    for j in range(1, s.nexcl + 1):
        k = s.excl[j]
        if not 1 <= k <= 73:
            idle[j] = ", outside 1 ... 73: it excludes nothing"
        elif k == s.cavind:
            idle[j] = ", the point without encounter: it excludes nothing"
        elif k in s.excl[1:j]:
            idle[j] = ", listed before: it excludes nothing more"
    w(" number of excluded collisions = ", s.nexcl - len(idle))
    for j in sorted(idle):
        warn(io, "excluded.dat: entry %d is %d%s" % (j, s.excl[j], idle[j]))
    with open("excluded.dat", "rb") as fh:
        lines = fh.read().split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    entries = 0
    for no, line in enumerate(lines, 1):
        tokens = [t for t in re.split(rb"[ \t,\r]+", line.split(b"/")[0]) if t]
        values = len(tokens)
        if values == 0:
            continue
        entries += 1
        if entries == 74:
            warn(io, "excluded.dat: line %d holds entry 74, more than the 73 points of the "
                 "ring: it and every later line are not read" % no)
        if values > 1:
            warn(io, "excluded.dat: line %d holds %d values; only the first is read (one "
                 "encounter per line)" % (no, values))
        first = tokens[0].decode("latin-1")
        if entries <= s.nexcl and re.search("[.eEdD]", first):
            try:
                v = float(re.sub("[dD]", "e", first))
            except ValueError:
                continue
            if math.isfinite(v) and math.trunc(v) != v:
                warn(io, "excluded.dat: line %d: %s is not a whole number; it is read as %d"
                     % (no, first, s.excl[entries]))
    io.close(460)
    io.close(470)


# ---------------------------------------------------------------------------
# Derived constants and wire
# ---------------------------------------------------------------------------

def init(io, s):
    w = lambda *items: io.write_ld(6, list(items))
    pi = 4.0 * math.atan(1.0)
    s.pi = pi
    s.rp = 1.5e-18
    s.clight = 3.0e8
    s.echarge = 1.6e-19
    s.srparam = c_div((2.0 * s.rp) * s.dnb, s.gamma)
    s.trev = c_div(s.circumference, s.clight)
    if s.iwire == 1:
        mu0 = (4.0 * pi) * SP_1EM7
        ell = 1.0
        cur = c_div(((((((2.0 * s.rp) * s.dnb) * float(s.npar)) * 2.0) * pi)
                     * SP_3356) * SP_0938, mu0 * ell)
        w(" wire current = ", cur, " A")
        kw = c_div((mu0 * cur) * ell, (((2.0 * pi) * SP_3356) * s.gamma) * SP_0938)
        s.wirestr = kw * (s.wstrerr + 1.0)
        total = float(s.npar) * s.srparam
        ratio = c_div(total, s.wirestr)
        w(" wire check : ", total, s.wirestr, ratio)
        w(" strength error : ", s.wstrerr)
    s.factor = c_div(c_sqrt(2.0 * pi) * (s.dnb * s.rp), s.gamma)
    w(" VORN study: factor= ", s.factor)


# ---------------------------------------------------------------------------
# Distributions
# ---------------------------------------------------------------------------

def initcoordwire(io, s, C):
    X, XP, Y, YP = C
    n = s.npart
    r, _ = ranuni(12454643, 2 * n)
    A = s.ampin
    betx, bety, alfx, alfy, emit, pi = s.betx, s.bety, s.alfx, s.alfy, s.emit, s.pi
    for i in range(1, n + 1):
        phx = (2.0 * pi) * r[i - 1]
        phy = (2.0 * pi) * r[n + i - 1]
        x = (A * c_sqrt(betx * emit)) * c_sin(phx)
        xp = (A * c_sqrt(c_div(emit, betx))) * c_cos(phx) - c_div(alfx * x, betx)
        y = (A * c_sqrt(bety * emit)) * c_sin(phy)
        yp = (A * c_sqrt(c_div(emit, bety))) * c_cos(phy) - c_div(alfy * y, bety)
        X[i - 1], XP[i - 1], Y[i - 1], YP[i - 1] = x, xp, y, yp


def initcoorduni(io, s, C):
    X, XP, Y, YP = C
    betx, bety, emit = s.betx, s.bety, s.emit
    X[0] = SP_001 * c_sqrt(betx * emit)
    Y[0] = SP_001 * c_sqrt(bety * emit)
    XP[0] = 0.0
    YP[0] = 0.0
    m = int(f32(c_sqrt(float(s.npart - 1))))
    step = c_div(10.0, float(m))
    io.write_ld(6, [" nparts = ", m])
    for j in range(1, m + 1):
        for i in range(1, m + 1):
            p = 1 + (j - 1) * m + i
            X[p - 1] = (float(i) * step) * c_sqrt(betx * emit)
            XP[p - 1] = 0.0
            Y[p - 1] = (float(j) * step) * c_sqrt(bety * emit)
            YP[p - 1] = 0.0


def initcoordunir(io, s, C):
    X, XP, Y, YP = C
    n = s.npart
    r, _ = ranuni(12454643, 4 * n)
    io.write_ld(6, [" nparts = ", n])
    betx, bety, emit = s.betx, s.bety, s.emit
    for i in range(1, n + 1):
        X[i - 1] = (3.0 * r[2 * n + i - 1]) * c_sqrt(betx * emit)
        Y[i - 1] = (3.0 * r[3 * n + i - 1]) * c_sqrt(bety * emit)
        XP[i - 1] = 0.0
        YP[i - 1] = 0.0


def initcoordfp(io, s, C, fp):
    X, XP, Y, YP = C
    nside = int(f32(c_sqrt(float(s.npart))))
    n = nside
    sx = c_sqrt(s.betx * s.emit)
    dA = c_div(6.0 * sx, float(n - 1))
    dphi = c_div(s.pi, float(2 * (n - 1)))
    for j in range(0, n):
        for i in range(0, n):
            p = (n + 1) * j + i + 1
            if i == 0 and j == 0:
                phi = s.pi * 0.25
            else:
                phi = float(i) * dphi + SP_1EM5
            A = SP_001 * sx + float(j) * dA
            x = A * c_cos(phi)
            y = A * c_sin(phi)
            X[p - 1], XP[p - 1], Y[p - 1], YP[p - 1] = x, 0.0, y, 0.0
            fp[p - 1] = (i, j)
            io.write_ld(6, [" footprint init", p, " ", j, " ", i, x, y])


# ---------------------------------------------------------------------------
# Triplet multipole errors
# ---------------------------------------------------------------------------

def tripletin(io, s):
    w = lambda *items: io.write_ld(6, list(items))
    sa = [0.0] * 10
    sb = [0.0] * 10
    qa = [0.0] * 10
    qb = [0.0] * 10
    require_input(io, "multdist.dat")
    io.open(25, "multdist.dat")
    tra = [[0.0] * 16 for _ in range(10)]
    trb = [[0.0] * 16 for _ in range(10)]
    for j in range(16):
        for n in range(10):
            (a, b), _ = io.read_ld(25, ["R", "R"], [tra[n][j], trb[n][j]])
            tra[n][j] = a
            trb[n][j] = b
            sa[n] = sa[n] + a
            sb[n] = sb[n] + b
            qa[n] = qa[n] + a * a
            qb[n] = qb[n] + b * b
        w(0.0)
    w(" read multipoledata ")
    w("  ")
    w(" average values  ")
    ma = [0.0] * 10
    mb = [0.0] * 10
    for n in range(10):
        ma[n] = 0.0625 * sa[n]
        mb[n] = 0.0625 * sb[n]
        w(ma[n], mb[n])
    w("  ")
    w(" rms ")
    for n in range(10):
        ra = c_sqrt(0.0625 * qa[n] - ma[n] * ma[n])
        rb = c_sqrt(0.0625 * qb[n] - mb[n] * mb[n])
        w(ra, rb)
    w("  ")
    w(" multipole initialization finished ")
    w("  ")
    trbeta = [0.0] * 16
    for j in range(16):
        (trbeta[j],), _ = io.read_ld(25, ["R"], [trbeta[j]])
    w(" read beta functions ")
    w("  ")
    w(" mean values  ")
    for j in range(16):
        w(trbeta[j])
    trw = [0.0] * 16
    for j in range(16):
        (trw[j],), _ = io.read_ld(25, ["R"], [trw[j]])
    for j in range(16):
        w(trw[j])
    w("  ")
    w(" beta function initialization finished ")
    w("  ")
    io.close(25)


# ---------------------------------------------------------------------------
# Library error reporting
# ---------------------------------------------------------------------------

def p01abf_hard(io, ierror):
    rec = (" ** ABNORMAL EXIT from NAG Library routine " + "C06EAF" + ": IFAIL"
           + " =" + fmt_i(ierror, 6))
    io.write_text_line(6, rec.rstrip() or rec[:1])
    io.write_text_line(6, " ** NAG hard failure - execution terminated")
    raise RunEnd(0)


# ---------------------------------------------------------------------------
# Driver
# ---------------------------------------------------------------------------

def main(io):
    s = new_state()
    w = lambda *items: io.write_ld(6, list(items))
    readinwire(io, s)
    readinvorn(io, s)
    w(" actual betas = ", s.betx, s.bety)
    init(io, s)
    w(s.gamma, s.echarge, s.clight)
    s.wirecoef = c_div(((2.0 * s.rp) * s.wcurrent) * s.wlength,
                       (s.gamma * s.echarge) * s.clight)
    w(" wirecoef = ", s.wirecoef)
    s.npart = 169
    s.nlost = 0
    s.ampin = 0.5 * s.amp
    w(" iopt decision ")

    X = [0.0] * NSLOT
    XP = [0.0] * NSLOT
    Y = [0.0] * NSLOT
    YP = [0.0] * NSLOT
    C = (X, XP, Y, YP)
    fp = [None] * NSLOT          # grid point of each slot (option 3)
    fmap = None                  # per-slot sample lists (option 2)
    iopt = s.iopt

    betx, bety, alfx, alfy, emit = s.betx, s.bety, s.alfx, s.alfy, s.emit
    sbx = c_sqrt(betx)
    sby = c_sqrt(bety)
    sem = c_sqrt(emit)
    sbxe = sbx * sem
    sbye = sby * sem

    def beta_scaled(x, xp, y, yp):
        return (c_div(x, sbx), (c_div(alfx * x, betx) + xp) * sbx,
                c_div(y, sby), (c_div(alfy * y, bety) + yp) * sby)

    def beam_units(x, xp, y, yp):
        return (c_div(x, sbxe), c_div((c_div(alfx * x, betx) + xp) * sbx, sem),
                c_div(y, sbye), c_div((c_div(alfy * y, bety) + yp) * sby, sem))

    if iopt == 3:
        initcoordfp(io, s, C, fp)
        if s.ntrack > NTMAPM:
            w(" ntrack>ntmapm - abunai! ")
            refuse_turn_limit(io, s)
        refuse_footprint_length(io, s)
    elif iopt == 2:
        initcoorduni(io, s, C)
        if s.ntrack > NTMAPM:
            w(" ntrack>ntmapm - abunai! ")
            refuse_turn_limit(io, s)
        nt = max(s.ntrack, 1)
        fmap = []
        for i in range(s.npart):
            row = [(0.0, 0.0, 0.0, 0.0)] * nt
            row[0] = beta_scaled(X[i], XP[i], Y[i], YP[i])
            fmap.append(row)
    elif iopt == 1:
        s.ntrack = 500
        s.npart = 15
        w(" option 1 ", s.npart, s.sstar, s.divstar, s.emit)
        initcoordunir(io, s, C)
        w(X[14], Y[14])
    else:
        initcoordwire(io, s, C)
    w(" after initialization ")

    # Every result file of the option is emptied before the first turn;
    # options 2 and 3 write their diffusion records to unit 20's default file.
    if s.itrip == 1:
        tripletin(io, s)
    io.open_result(23, "imageoflrbb.dat")
    for rec in s.image:
        io.write_fmt(23, F_IMAGE, rec)
    io.open_result(35, "test.dat")
    if iopt == 3:
        io.open_result(24, "footprint.dat")
    if iopt in (1, 3):
        io.open_result(22, "phasespace.dat")
    if iopt == 2:
        io.open_result(23, "frequencymap.dat")
    if iopt not in (1, 2, 3):
        io.open_result(20, "diff.dat")
        io.open_result(21, "resav.out")
    if iopt in (2, 3):
        io.open_result(20, io.default_name(20))

    w("  ")
    w(" start tracking ")
    w(" ioption = ", s.iopt)
    w(" ichoice = ", s.ichoice)
    w(" itrip = ", s.itrip)
    w(" ------------------------- ")
    w("  ")
    w(" srparam = ", s.srparam)
    w(" npar = ", s.npar)

    # --- ring model for tracking ---
    excluded = set(s.excl[1:1 + s.nexcl]) if s.nexcl > 0 else set()
    factor = s.factor
    secs = []
    for k in range(1, 74):
        enc = None
        if k not in excluded and k != s.cavind:
            bb = s.bbcoord[k]
            enc = Encounter(bb[0], bb[1], bb[2], bb[3])
            gx0, gy0 = ffrank(0.0, 0.0, enc)
            enc.fk0x = factor * gx0
            enc.fk0y = factor * gy0
        t = s.tmat[k]
        secs.append((enc, t[0][0], t[0][1], t[1][0], t[1][1],
                     t[2][2], t[2][3], t[3][2], t[3][3]))
    secs = tuple(secs)

    ntrack = s.ntrack
    trev = s.trev
    ave1 = [0.0] * 1000
    ave2 = [0.0] * 1000
    avx = avy = 0.0
    avx0 = avy0 = avx1 = avy1 = 0.0
    iturn0 = iturn1 = 0
    store = {}                    # (iang, iamp) -> ([x...], [y...]) for option 3
    all_lost = 0                  # the turn that lost the last particle
    npart = s.npart

    i = 1
    while i <= ntrack:
        if i % 500 == 0:
            w(" i = ", i)
        # one turn for every particle (particles do not interact)
        for idx in range(npart):
            x = X[idx]
            xp = XP[idx]
            y = Y[idx]
            yp = YP[idx]
            for enc, r11, r12, r21, r22, r33, r34, r43, r44 in secs:
                if enc is not None:
                    gx, gy = ffrank(x, y, enc)
                    xp = xp + (enc.fk0x - factor * gx)
                    yp = yp + (enc.fk0y - factor * gy)
                x, xp = r11 * x + r12 * xp, r21 * x + r22 * xp
                y, yp = r33 * y + r34 * yp, r43 * y + r44 * yp
            X[idx] = x
            XP[idx] = xp
            Y[idx] = y
            YP[idx] = yp
        tnow = float(i) * trev

        # loss check
        keep = [j for j in range(npart)
                if abs(X[j]) <= 1000.0 and abs(Y[j]) <= 1000.0]
        if len(keep) != npart:
            s.nlost += npart - len(keep)
            for dst, src in enumerate(keep):
                X[dst] = X[src]
                XP[dst] = XP[src]
                Y[dst] = Y[src]
                YP[dst] = YP[src]
                fp[dst] = fp[src]
            if fmap is not None:
                fmap = [fmap[j] for j in keep]
            npart = len(keep)
            s.npart = npart
            if npart == 0 and all_lost == 0:
                all_lost = i

        if iopt != 1:
            # action spreads
            if npart == 0:
                varx = 0.0
                vary = 0.0
            else:
                s1 = s2 = q1 = q2 = 0.0
                for j in range(npart):
                    x = X[j]
                    y = Y[j]
                    tx = c_div(alfx * x, betx) + XP[j]
                    ty = c_div(alfy * y, bety) + YP[j]
                    wx = c_div(x * x, betx) + betx * (tx * tx)
                    wy = c_div(y * y, bety) + bety * (ty * ty)
                    s1 = s1 + wx
                    s2 = s2 + wy
                    q1 = q1 + wx * wx
                    q2 = q2 + wy * wy
                fn = float(npart)
                m1 = s1 / fn
                m2 = s2 / fn
                q1 = q1 / fn
                q2 = q2 / fn
                varx = c_div(c_sqrt(abs(q1 - m1 * m1)), emit)
                vary = c_div(c_sqrt(abs(q2 - m2 * m2)), emit)
            # running average
            r = i % 1000
            if i == 1:
                for j in range(1000):
                    ave1[j] = 0.0
                    ave2[j] = 0.0
            ave1[r] = varx
            ave2[r] = vary
            if i < 1000:
                avx = 0.0
                avy = 0.0
            else:
                a1 = 0.0
                a2 = 0.0
                for j in range(1000):
                    a1 = a1 + ave1[j]
                    a2 = a2 + ave2[j]
                avx = 0.001 * a1
                avy = 0.001 * a2
            if i == 1000:
                avx0, avy0, iturn0 = avx, avy, i
            if s.nlost > 0 and i > 2000:
                avx1, avy1, iturn1 = avx, avy, i
                break
            if i == ntrack:
                avx1, avy1, iturn1 = avx, avy, i
            if i >= 1000 and i % 100 == 0:
                io.write_fmt(20, F_DIFF, [i, tnow, avx, avy, s.nlost, npart])

        if iopt == 3:
            for j in range(npart):
                xh, pxh, yh, pyh = beta_scaled(X[j], XP[j], Y[j], YP[j])
                if j == 0:
                    io.write_fmt(22, F_PHASE, [i, xh, pxh, yh, pyh])
                g = fp[j]
                if g is not None:
                    rec = store.get(g)
                    if rec is None:
                        rec = ([0.0] * ntrack, [0.0] * ntrack)
                        store[g] = rec
                    rec[0][i - 1] = f32(xh)
                    rec[1][i - 1] = f32(yh)
        elif iopt == 1:
            for j in range(npart):
                io.write_fmt(22, F_PHASE, [i] + list(beam_units(X[j], XP[j], Y[j], YP[j])))
        elif iopt == 2:
            if i + 1 <= ntrack:
                for j in range(npart):
                    fmap[j][i] = beam_units(X[j], XP[j], Y[j], YP[j])
        i += 1

    w(" after tracking loop ", i)

    if iopt == 3:
        footprint(io, s, store)
    if iopt == 0:
        den = float(iturn1 - iturn0)
        diffx = c_div(avx1 - avx0, den)
        diffy = c_div(avy1 - avy0, den)
        io.write_fmt(21, F_RESAV, [s.ampin, diffx, diffy, s.ichoice] + list(s.phase))
        warn_short_diffusion(io, s)
    if iopt == 2:
        for row in fmap:
            for smp in row[:max(ntrack, 0)]:
                io.write_fmt(23, F_FMAP, list(smp))
    if iopt == 1:
        io.close(22)
    else:
        io.close(20)
        io.close(21)
    w(" lost particles = ", s.nlost)
    if all_lost:
        warn(io, "every particle is lost by turn %d (%d lost): %s"
             % (all_lost, s.nlost, "the records after that turn hold no particle"
                if 1 <= iopt <= 3 else "the diffusion rates in resav.out then mean nothing"))


def footprint(io, s, store):
    n = s.ntrack
    err = c06eaf_check(n)
    if err:
        p01abf_hard(io, err)
    zeros = [0.0] * n
    for iang in range(14):
        for iamp in range(14):
            rec = store.get((iang, iamp))
            xs, ys = rec if rec is not None else (zeros, zeros)
            xz = all(v == 0.0 for v in xs)
            yz = all(v == 0.0 for v in ys)
            tunes = []
            if xz and yz:
                tunes = [QNAN, QNAN]
            else:
                fx, fy = hermitian_pair(xs, ys)
                for zero, f in ((xz, fx), (yz, fy)):
                    if zero:
                        tunes.append(QNAN)
                        continue
                    mx = 0.0
                    ipk = -1
                    for p in range(n):
                        a = abs(f[p])
                        if a > mx:
                            mx = a
                            ipk = p
                    if ipk < 0:
                        tunes.append(QNAN)
                        continue
                    t = float(ipk) / float(n)
                    if t < 0.5:
                        t = 1.0 - t
                    tunes.append(t)
            tx, ty = tunes
            io.write_ld(6, [iang, iamp, tx, ty])
            io.write_fmt(24, F_FOOT, [iang, iamp, tx, ty])


def run(rundir, env=None):
    rundir = os.path.abspath(rundir)
    cwd = os.getcwd()
    os.chdir(rundir)
    try:
        io = TextIO(env)
        status = 0
        try:
            main(io)
        except RunEnd as e:
            status = e.status
        io.close_all()
        with open("stdout.txt", "w", newline="") as f:
            f.write("".join(io.stdout))
        with open("stderr.txt", "w", newline="") as f:
            f.write("".join(io.stderr))
        with open("status.txt", "w", newline="") as f:
            f.write("%d\n" % status)
    finally:
        os.chdir(cwd)
    return status


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.stderr.write("usage: refmodel.py RUNDIR\n")
        sys.exit(2)
    run(sys.argv[1])
