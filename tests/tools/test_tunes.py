"""Errors of the tune estimators on synthetic records of known tune."""

import math
import os
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "tools"))
from bbtools import tunes  # noqa: E402

LENGTHS = (1000, 4096)


def off_bin_tunes(n):
    """Tunes a fraction of a bin off the Fourier grid, spread over (0, 1)
    and including some a dozen bins from the integer and from 1/2, with the
    distance of each to its nearest bin (in bins)."""
    out = []
    for k, d in ((12, 0.3), (int(0.23 * n), 0.13), (int(0.41 * n), 0.4),
                 (n // 2 - 12, 0.27), (n // 2 + 11, 0.45), (int(0.68 * n), 0.36),
                 (int(0.83 * n), 0.21), (n - 13, 0.38)):
        out.append(((k + d) / n, min(d, 1.0 - d)))
    return out


def tone(n, q, amp, phase):
    t = np.arange(n)
    return amp * np.exp(1j * (2.0 * math.pi * q * t + phase))


@pytest.mark.parametrize("n", LENGTHS)
def test_clean_tone_error_scaling(n):
    rng = np.random.default_rng(n)
    for q, dist in off_bin_tunes(n):
        z = tone(n, q, rng.uniform(0.01, 100.0), rng.uniform(0.0, 2.0 * math.pi))
        qp, qi, qn = tunes.analyse(z.real, -z.imag)  # x and px of z = x - i px
        # peak: quantised to the grid, the nearest bin (a hair beyond half a
        # bin only where two bins nearly tie), so the error is the distance
        err = abs(qp - tunes.fold(q)) * n
        assert 0.9 * dist <= err <= 0.5 + 1e-3, (q, err)
        assert abs(qi - q) < 1e-2 / n ** 2, (q, qi - q)
        assert abs(qn - q) < 5e-15, (q, qn - q)
        # the real record alone gives the same line, folded; its mirror at -q
        # limits the interpolated tune, but the refined tune takes it away
        qr = tunes.fold(q)
        assert abs(tunes.tune_interp(z.real) - qr) < 1.0 / n ** 2
        assert abs(tunes.tune_naff(z.real) - qr) < 5e-15, q


@pytest.mark.parametrize("n", LENGTHS)
def test_real_record_with_weaker_second_line(n):
    # Leakage of a line eps times weaker, D bins away: about eps / D^3 bins
    # for the refined tune, eps / D^4 bins for the interpolated one.
    t = np.arange(n)
    eps = 0.1
    for q1, dq in ((0.3123, 0.0371), (0.7311, -0.0523), (0.6789, 0.0192)):
        x = np.cos(2 * math.pi * q1 * t + 0.4) + eps * np.cos(2 * math.pi * (q1 + dq) * t + 2.1)
        qp, qi, qn = tunes.analyse(x)
        d = abs(dq) * n
        q = tunes.fold(q1)
        assert abs(qp - q) <= (0.5 + 1e-3) / n
        assert abs(qi - q) < 3.0 * eps / d ** 4 / n, qi - q
        assert abs(qn - q) < 3.0 * eps / d ** 3 / n, qn - q


@pytest.mark.parametrize("n", LENGTHS)
def test_folding_near_half_and_integer(n):
    t = np.arange(n)
    for q in (7.3 / n, 1.0 - 7.3 / n, 0.5 - 5.2 / n, 0.5 + 5.2 / n):
        x = np.cos(2 * math.pi * q * t + 1.0)
        folded = tunes.fold(q)
        assert 0.5 <= folded <= 1.0
        for est, tol in ((tunes.tune_peak, 0.5 / n), (tunes.tune_interp, 1e-6),
                         (tunes.tune_naff, 1e-12)):
            assert abs(est(x) - folded) <= tol + 1e-15, (est.__name__, q)
        # the complex record tells q from 1 - q
        z = tone(n, q, 1.0, 1.0)
        assert abs(tunes.tune_naff(z) - q) < 1e-14
    # footprint rule on the grid: index k and N - k give 1 - k/N, index 0
    # (a constant) gives 1.0, the Nyquist line 0.5
    assert tunes.tune_peak(np.cos(2 * math.pi * 0.25 * t)) == 0.75
    assert tunes.tune_peak(np.full(n, 2.0)) == 1.0
    assert tunes.tune_peak((-1.0) ** t) == 0.5
    assert [tunes.fold(v) for v in (0.3, 0.7, 1.3, -0.3, 0.0, 0.5)] == \
        pytest.approx([0.7, 0.7, 0.7, 0.7, 1.0, 0.5])


def test_records_without_a_tune():
    t = np.arange(256)
    z = tone(256, 0.3141, 1.0, 0.0)
    bad = z.real.copy()
    bad[17] = math.nan
    for q in tunes.analyse(bad, -z.imag) + tunes.analyse(np.zeros(256), np.zeros(256)):
        assert math.isnan(q)
    # turns after an early end of the tracking loop are zeros: the
    # interpolated and refined tunes use the record before them
    head = np.where(t < 200, z, 0.0)
    _, qi, qn = tunes.analyse(head.real, -head.imag)
    assert abs(qn - 0.3141) < 1e-14 and abs(qi - 0.3141) < 1e-9
