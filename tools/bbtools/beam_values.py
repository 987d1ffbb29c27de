"""The beam values of a ring converted from Twiss tables: each from an option
the user gave, else from the table's header, else refused.  A header value
the physics cannot take (a Lorentz factor of 1 or below, an emittance or length
that is not positive, a population of zero, anything not finite) is refused
with its file and line."""

import math

from bbtools import tfs


class ConvertError(ValueError):
    pass


# Charge of the particle names a lattice code writes in PARTICLE.
CHARGES = {"PROTON": 1, "POSITRON": 1, "ANTIPROTON": -1, "ELECTRON": -1}


def header(t, name, test=None, what=""):
    """The header value name of table t (None if absent), refused with its
    line when it is not a finite number or fails test."""
    if name not in t.header:
        return None
    v = t.header[name]
    line = t.header_lines.get(name, 0)
    if isinstance(v, (bool, str)) or not math.isfinite(v):
        raise tfs.TfsError(t.path, line, "%r is not a finite number" % (v,), name)
    if test is not None and not test(v):
        raise tfs.TfsError(t.path, line, "%r %s" % (v, what), name)
    return float(v)


def positive(t, name):
    return header(t, name, lambda v: v > 0.0, "is not positive")


def gamma_of(t):
    """GAMMA, else ENERGY / MASS, of the header (None if neither)."""
    g = header(t, "GAMMA", lambda v: v > 1.0,
               "is not a Lorentz factor of a moving beam (above 1)")
    if g is None and "ENERGY" in t.header and "MASS" in t.header:
        g = positive(t, "ENERGY") / positive(t, "MASS")
        if not g > 1.0:
            raise tfs.TfsError(t.path, t.header_lines["ENERGY"], "ENERGY / MASS = %r is "
                               "not a Lorentz factor of a moving beam (above 1)" % g, "ENERGY")
    return g


def charge_of(t):
    c = header(t, "CHARGE", lambda v: v != 0.0, "is not a charge")
    if c is None:
        c = CHARGES.get(str(t.header.get("PARTICLE", "")).upper())
    return c


def _pick(option, given, args, source, what, say):
    """The option's value if the user gave it, else source (a header value),
    else refused."""
    if option in given:
        return getattr(args, option)
    if source is None:
        raise ConvertError("%s: not in the header; give --%s"
                           % (what, option.replace("_", "-")))
    return source


def values(t1, t2, args, given, say):
    """gamma, emitn_x, emitn_y (tracked beam, normalised), opp_ex, opp_ey
    (opposing beam, geometric [m]), npart (signed: negative for beams of the
    same charge), q1, q2 (full tunes), length (None if unknown)."""
    opp = t2 if t2 is not None else t1
    gamma = _pick("gamma", given, args, gamma_of(t1),
                  "%s: GAMMA (or ENERGY and MASS)" % t1.path, say)
    ex1, ey1 = positive(t1, "EX"), positive(t1, "EY")
    emitn_x = _pick("emitn", given, args, None if ex1 is None else ex1 * gamma,
                    "%s: EX" % t1.path, say)
    emitn_y = args.emitn if "emitn" in given else (
        _pick("emitn", given, args, None if ey1 is None else ey1 * gamma,
              "%s: EY" % t1.path, say))
    g2 = gamma_of(opp) or gamma
    ex2, ey2 = positive(opp, "EX"), positive(opp, "EY")
    opp_ex = _pick("opp_emitn_x", given, args, None if ex2 is None else ex2 * g2,
                   "%s: EX of the opposing beam" % opp.path, say) / g2
    opp_ey = _pick("opp_emitn_y", given, args, None if ey2 is None else ey2 * g2,
                   "%s: EY of the opposing beam" % opp.path, say) / g2
    if "dnb" in given:
        npart = args.dnb
    else:
        n = header(opp, "NPART", lambda v: v > 0.0, "is not a positive population")
        if n is None:
            raise ConvertError("%s: NPART of the opposing beam is not in the header; "
                               "give --dnb (negative for beams of the same charge)"
                               % opp.path)
        c1, c2 = charge_of(t1), charge_of(opp)
        if c1 is None or c2 is None:
            raise ConvertError("the charges of the two beams are not in the headers "
                               "(CHARGE or PARTICLE); give --dnb with its sign "
                               "(negative for beams of the same charge)")
        npart = -n if c1 * c2 > 0 else n
        say("opposing population from %s: %r (%s charges)"
            % (opp.path, npart, "same" if npart < 0 else "opposite"))
    if npart == 0.0 or not math.isfinite(npart):
        raise ConvertError("--dnb: %r is not a bunch population" % npart)
    tunes = []
    for key, opt in (("Q1", "qx"), ("Q2", "qy")):
        # the header's tune belongs to the table's phase advances: it wins
        q = header(t1, key)
        if q is None and opt not in given:
            raise ConvertError("%s: no %s in the header: the phase advance that "
                               "closes the ring needs the tune; give --%s"
                               % (t1.path, key, opt))
        tunes.append(getattr(args, opt) if q is None else q)
    length = args.circumference if "circumference" in given else positive(t1, "LENGTH")
    say("beam values: gamma %r, emitn %r / %r; opposing emittances %r / %r m, "
        "population %r" % (gamma, emitn_x, emitn_y, opp_ex, opp_ey, npart))
    return dict(gamma=gamma, emitn_x=emitn_x, emitn_y=emitn_y, opp_ex=opp_ex,
                opp_ey=opp_ey, npart=npart, q1=tunes[0], q2=tunes[1], length=length)
