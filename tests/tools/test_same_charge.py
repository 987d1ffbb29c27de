"""Beams of the same charge: a negative bunch population reverses the kick.

The kick attracts the tracked particle to the opposing bunch for a positive
population (beams of opposite charge). With the population negated, the
small-amplitude tune shift of the bundled example ring, head-on and
long-range encounters together, has the same size and the opposite sign.
"""

import pytest

from runs import tracker  # noqa: F401
from bbtools import tunefile, tunes

NTRACK = 1024


def small_amplitude_tunes(run):
    assert run.returncode == 0, run.stderr
    data, _ = tunefile.load_frequencymap(run.path("frequencymap.dat"))
    rec = data[0]  # particle 1 starts at 0.01 sigma in both planes
    return (tunes.analyse(rec[:, 0], rec[:, 1])[2],
            tunes.analyse(rec[:, 2], rec[:, 3])[2])


def test_negative_population_reverses_the_tune_shift(tracker):  # noqa: F811
    q = {dnb: small_amplitude_tunes(tracker.run(iopt=2, ntrack=NTRACK, dnb=dnb))
         for dnb in ("0.0", "1.15E+11", "-1.15E+11")}
    for plane in (0, 1):
        up = q["1.15E+11"][plane] - q["0.0"][plane]
        down = q["-1.15E+11"][plane] - q["0.0"][plane]
        assert up > 0.003 and down < -0.003
        assert down == pytest.approx(-up, rel=0.01)
