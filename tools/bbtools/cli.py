"""Console entry points of the installed package (``pip install ./tools``):
the same commands as the scripts in tools/."""

import sys

from . import _launch


def bbplot():
    _launch.need("numpy", "matplotlib")
    from . import plots
    return plots.main()


def bbtune():
    _launch.need("numpy")
    from . import tunefile
    return tunefile.main()


def bbscan():
    from . import scan
    return scan.main()


def bbrun():
    from . import run
    return run.main()


if __name__ == "__main__":
    sys.exit({"bbplot": bbplot, "bbtune": bbtune, "bbscan": bbscan,
              "bbrun": bbrun}[sys.argv.pop(1)]())
