"""The reference in docs/ names every echo line of diff.input and every file
the program writes, taken from real runs of every option."""

import glob
import os
import re

from runs import EXAMPLE, REPO, tracker  # noqa: F401

INPUTS = set(os.listdir(EXAMPLE)) | {"stdout.txt"}
_LABEL = re.compile(r"^\s*(\S.*?=)\s")


def test_docs_name_every_echo_line_and_file(tracker):  # noqa: F811
    docs = "".join(open(p).read() for p in glob.glob(os.path.join(REPO, "docs", "*.md")))
    labels, files = set(), set()
    for iopt in (0, 1, 2, 3):
        run = tracker.run(iopt=iopt, ntrack=1100)
        assert run.returncode == 0, run.stderr
        with open(run.path("stdout.txt")) as fh:
            echo = fh.read().split("\n")[:31]
        labels |= {_LABEL.match(line).group(1) for line in echo}
        files |= set(os.listdir(run.dir)) - INPUTS
    assert len(labels) == 31
    assert files >= {"diff.dat", "resav.out", "phasespace.dat", "frequencymap.dat",
                     "fort.20", "footprint.dat", "imageoflrbb.dat", "test.dat"}
    assert [x for x in sorted(labels) if "`" + x not in docs] == []
    assert [f for f in sorted(files) if "`" + f + "`" not in docs] == []
