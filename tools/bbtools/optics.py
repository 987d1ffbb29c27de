"""Linear optics shared by the model collider and the converter of Twiss
tables: the transfer matrix between two points of known Twiss functions."""

import math


def twiss_block(b1, a1, b2, a2, dmu):
    """The 2x2 transfer matrix from a point of beta b1, alpha a1 to one of
    beta b2, alpha a2 over the phase advance dmu (rad), in the units of the
    betas (m: positions in m, angles in rad)."""
    c, s = math.cos(dmu), math.sin(dmu)
    r = math.sqrt(b2 / b1)
    return [[r * (c + a1 * s), math.sqrt(b1 * b2) * s],
            [-((1.0 + a1 * a2) * s + (a2 - a1) * c) / math.sqrt(b1 * b2),
             (c - a2 * s) / r]]
