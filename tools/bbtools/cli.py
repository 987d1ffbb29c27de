"""Console entry points of the installed package (``pip install ./tools``):
the same commands as the scripts in tools/."""

import sys

from . import _launch


def bbplot():
    _launch.need("numpy", "matplotlib")
    from . import plots
    return _launch.run(plots.main)


def bbtune():
    _launch.need("numpy")
    from . import tunefile
    return _launch.run(tunefile.main)


def bbscan():
    from . import scan
    return _launch.run(scan.main)


def bbrun():
    from . import run
    return _launch.run(run.main)


if __name__ == "__main__":
    sys.exit({"bbplot": bbplot, "bbtune": bbtune, "bbscan": bbscan,
              "bbrun": bbrun}[sys.argv.pop(1)]())
