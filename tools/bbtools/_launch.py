"""Start-up of the command-line tools: find the package and an interpreter
that has numpy and matplotlib.

Debian installs python3-numpy and python3-matplotlib for /usr/bin/python3.
When the ``python3`` first on PATH is another interpreter without them, the
tools start themselves again under /usr/bin/python3.
"""

import os
import sys

SYSTEM_PYTHON = "/usr/bin/python3"


def need(*modules):
    """Import ``modules`` or re-execute the script under the system Python."""
    missing = []
    for m in modules:
        try:
            __import__(m)
        except ImportError:
            missing.append(m)
    if not missing:
        return
    here = os.path.realpath(sys.executable)
    if (os.path.exists(SYSTEM_PYTHON) and os.path.realpath(SYSTEM_PYTHON) != here
            and not os.environ.get("BBTOOLS_REEXEC")):
        os.environ["BBTOOLS_REEXEC"] = "1"
        # the package, wherever it is (tools/ or a virtual environment)
        package_parent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        os.environ["PYTHONPATH"] = os.pathsep.join(
            [package_parent] + [p for p in [os.environ.get("PYTHONPATH")] if p])
        sys.stdout.flush()
        sys.stderr.flush()
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    sys.stderr.write("%s needs the Python modules %s (Debian: %s)\n" % (
        os.path.basename(sys.argv[0]), ", ".join(missing),
        " ".join("python3-" + m for m in missing)))
    sys.exit(2)


def run(main):
    """Run a tool's ``main`` and return its exit status, with a plain
    message instead of a traceback for whatever it did not foresee: status
    130 after Ctrl-C, 1 for anything else."""
    prog = os.path.basename(sys.argv[0])
    try:
        return main()
    except KeyboardInterrupt:
        sys.stderr.write("%s: interrupted\n" % prog)
        return 130
    except BrokenPipeError:  # the reader of a pipe has gone (e.g. head)
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except Exception as e:  # noqa: BLE001  (the message, never a traceback)
        sys.stderr.write("%s: unexpected error, please report it: %s: %s\n"
                         % (prog, type(e).__name__, e))
        return 1
