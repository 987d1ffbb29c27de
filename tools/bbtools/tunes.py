"""Tune estimators for turn-by-turn records.

Three estimators of increasing precision, for a record of N turns:

- ``tune_peak``: the footprint run's own rule. The largest magnitude over the
  N values of the real transform in Hermitian storage (real parts of harmonics
  0 ... N/2, imaginary parts of harmonics 1 ... (N-1)/2), lowest index on a
  tie, tune = index / N folded into [0.5, 1.0]. Resolution 1/N.
- ``tune_interp``: the largest line of the Hann-windowed spectrum and its two
  neighbours a, b, c give the offset d = 2 (c - a) / (a + 2 b + c) bins, which
  is exact for a pure tone in the limit of large N. Error about 1/N^2 or
  better for a clean signal.
- ``tune_naff``: the frequency that maximises |<f, exp(i 2 pi nu t)>| with a
  symmetric Hann window, found as the root of the derivative by a bracketed
  Newton iteration started at ``tune_interp``, after taking away a fitted
  constant and, for a real record, the mirror line at -Q. Near machine
  precision for a clean tone, real or complex.

With other lines in the record, at a distance of D bins and a relative
amplitude e, both the interpolated and the refined tune are limited by their
leakage: the refined error is about e / D^3 bins, the interpolated one, whose
outer bins a and c see nearly the same leakage, about e / D^4 bins (but for a
real record D includes the mirror line, 2 N Q bins away, which only the
refined tune takes away).

A record is either real (x alone) or complex, z = x - i px with normalised
coordinates, whose spectrum has one line at +Q: the complex record tells Q
from 1 - Q, the real one does not (its tunes are then folded into [0.5, 1.0]
like the footprint run's).
"""

import math

import numpy as np

__all__ = ["hermitian", "tune_peak", "tune_interp", "tune_naff", "analyse",
           "strip_zero_tail", "fold", "hann"]


def fold(q):
    """Fold a tune into [0.5, 1.0] the way the footprint run does."""
    q = q % 1.0
    return 1.0 - q if q < 0.5 else q


def hermitian(x):
    """Real transform of ``x`` in Hermitian storage (length N)."""
    x = np.asarray(x, dtype=float)
    n = len(x)
    spec = np.fft.rfft(x)
    h = np.empty(n)
    h[:n // 2 + 1] = spec.real
    k = np.arange(1, (n - 1) // 2 + 1)
    h[n - k] = spec.imag[k]
    return h


def tune_peak(x):
    """Spectral-peak tune of a real record as the footprint run computes it;
    NaN when the transform has no magnitude above zero."""
    x = np.asarray(x, dtype=float)
    if not np.all(np.isfinite(x)):
        return math.nan
    mag = np.abs(hermitian(x))
    if not np.any(mag > 0.0):
        return math.nan
    ipk = int(np.argmax(mag))  # first of equal maxima
    return fold(ipk / len(x))


def hann(n, symmetric=False):
    """Hann window of n points: periodic (DFT-even) or symmetric."""
    t = np.arange(n)
    if symmetric:
        return 0.5 - 0.5 * np.cos(2.0 * math.pi * (t + 0.5) / n)
    return 0.5 - 0.5 * np.cos(2.0 * math.pi * t / n)


def _prepare(z):
    """The record as a float or complex array and whether it is complex;
    None for a record too short (under 4 turns) or not finite."""
    z = np.asarray(z)
    if len(z) < 4 or not np.all(np.isfinite(z)):
        return None, False
    is_complex = np.iscomplexobj(z)
    return z.astype(complex if is_complex else float), is_complex


def tune_interp(z):
    """Tune from the Hann-windowed spectrum with three-line interpolation.

    For a complex record the result lies in [0, 1); for a real record the
    search runs over (0, 0.5) and the result is folded into [0.5, 1.0].
    NaN for a record that is zero or not finite.
    """
    z, is_complex = _prepare(z)
    if z is None:
        return math.nan
    n = len(z)
    w = hann(n)
    zc = z - np.sum(w * z) / np.sum(w)
    mag = np.abs(np.fft.fft(zc * w))
    if is_complex:
        k = int(np.argmax(mag))
        if mag[k] == 0.0:
            return math.nan
        a, b, c = mag[(k - 1) % n], mag[k], mag[(k + 1) % n]
    else:
        half = mag[1:(n + 1) // 2]
        if len(half) == 0 or not np.any(half > 0.0):
            return math.nan
        k = int(np.argmax(half)) + 1
        a, b, c = mag[k - 1], mag[k], mag[(k + 1) % n]
    d = 2.0 * (c - a) / (a + 2.0 * b + c)
    q = ((k + d) / n) % 1.0
    return q if is_complex else fold(q)


def _projections(zw, t, nu):
    """F, F', F'' of F(nu) = sum zw(t) exp(-i 2 pi nu t), t centred."""
    e = np.exp(-2j * math.pi * nu * t) * zw
    f0 = np.sum(e)
    f1 = np.sum(e * (-2j * math.pi * t))
    f2 = np.sum(e * (-4.0 * math.pi * math.pi * t * t))
    return f0, f1, f2


def _maximise(zw, t, start, n, maxiter):
    """Root of g(nu) = Re(conj(F) F') near ``start`` for the windowed record
    ``zw``; None when no bracket of a maximum is found within 2.5 bins."""

    def g(nu):
        f0, f1, f2 = _projections(zw, t, nu)
        val = (np.conj(f0) * f1).real
        der = (np.conj(f1) * f1).real + (np.conj(f0) * f2).real
        return val, der

    h = 0.5 / n
    lo, hi = start - h, start + h
    glo, _ = g(lo)
    ghi, _ = g(hi)
    grow = 0
    # g > 0 below a maximum of |F| and < 0 above it
    while not (glo > 0.0 > ghi) and grow < 4:
        lo, hi = lo - h, hi + h
        glo, _ = g(lo)
        ghi, _ = g(hi)
        grow += 1
    if not (glo > 0.0 > ghi):
        return None
    nu = start if lo < start < hi else 0.5 * (lo + hi)
    for _ in range(maxiter):
        val, der = g(nu)
        if val > 0.0:
            lo = nu
        elif val < 0.0:
            hi = nu
        else:
            break
        step = -val / der if der < 0.0 else None
        new = nu + step if step is not None else None
        if new is None or not (lo < new < hi):
            new = 0.5 * (lo + hi)
        if abs(new - nu) <= 4e-16 * max(1.0, abs(nu)):
            nu = new
            break
        nu = new
        if hi - lo <= 4e-16 * max(1.0, abs(nu)):
            break
    return nu


def _background(z, w, t, nu, is_complex):
    """What the fit of the record by a constant and the line at nu leaves
    besides that line: the constant, and for a real record also the mirror
    line at -nu. Weighted least squares with the window w.

    For a pure tone this is zero (a real one: exactly its mirror line), so
    taking it away leaves a single clean line, whose |F| has its maximum at
    its frequency to rounding level. The plain weighted mean of a tone a few
    bins from zero frequency is not small, and the mirror line of a real
    record leaks into the line searched; either shifts the maximum far
    above rounding level.
    """
    e = np.exp(2j * math.pi * nu * t)
    if is_complex:
        cols = [np.ones(len(z)), e]
    else:
        cols = [np.ones(len(z)), e, np.conj(e)]
    s = np.sqrt(w)
    coef = np.linalg.lstsq(np.column_stack(cols) * s[:, None], z * s, rcond=None)[0]
    if is_complex:
        return coef[0]
    return coef[0] + coef[2] * np.conj(e)


def tune_naff(z, start=None, maxiter=60, passes=16):
    """Refined tune: the maximum of |sum w(t) (z(t) - c) exp(-i 2 pi nu t)|.

    The Hann window is symmetric about the middle of the record, so for a
    pure tone the maximum lies exactly at its frequency. The root of
    g(nu) = Re(conj(F) F') = d|F|^2/dnu / 2 is searched in the bracket of
    half a bin on either side of the start value (``tune_interp`` by default)
    by Newton steps kept inside the bracket, falling back to bisection.

    The background c starts as the weighted mean of the record. Once a tune
    is found it is replaced by what a joint fit of a constant and the line
    at that tune (and, for a real record, its mirror line at minus the tune)
    attributes to the constant and the mirror line, and the search is
    repeated, at most ``passes`` times or until the tune stays put (a line
    little more than a bin from zero frequency needs a dozen passes). A line
    within one bin of zero frequency keeps the mean: line and constant
    cannot be told apart there.
    """
    z, is_complex = _prepare(z)
    if z is None:
        return math.nan
    n = len(z)
    if start is None:
        start = tune_interp(z)
    if not math.isfinite(start):
        return math.nan
    if not is_complex and start > 0.5:
        start = 1.0 - start  # search the line at positive frequency
    w = hann(n, symmetric=True)
    t = np.arange(n) - 0.5 * (n - 1)
    c = np.sum(w * z) / np.sum(w)
    nu = start
    for k in range(max(1, passes)):
        if k:
            q = nu % 1.0
            if n * min(q, 1.0 - q) <= 1.0:
                break
            c = _background(z, w, t, nu, is_complex)
        new = _maximise((z - c) * w, t, nu, n, maxiter)
        if new is None:
            break  # no bracket: keep the value found so far
        moved = abs(new - nu)
        nu = new
        if k and moved <= 4e-16 * max(1.0, abs(nu)):
            break
    q = nu % 1.0
    return q if is_complex else fold(q)


def strip_zero_tail(z):
    """The record without its trailing exact zeros (turns after an early end
    of the tracking loop); a record that is zero throughout is returned as
    it is."""
    nz = np.nonzero(z)[0]
    return z[:nz[-1] + 1] if len(nz) else z


def analyse(x, px=None, skip_zero_tail=True):
    """The three tunes of one plane: (q_peak, q_interp, q_naff).

    ``q_peak`` always comes from the real record x (the footprint rule).
    The others use z = x - i px when px is given, else x alone. Samples of
    exact zeros at the end of a record (turns after an early end of the
    tracking loop) are left out of the interpolated and refined tunes when
    ``skip_zero_tail`` is set.
    """
    x = np.asarray(x, dtype=float)
    qp = tune_peak(x)
    z = x if px is None else x - 1j * np.asarray(px, dtype=float)
    if skip_zero_tail:
        z = strip_zero_tail(z)
    if len(z) < 4:
        return qp, math.nan, math.nan
    qi = tune_interp(z)
    qn = tune_naff(z, start=qi)
    return qp, qi, qn
