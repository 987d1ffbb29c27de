"""What bbscan prints while its points run: the points done, running and
left, and an estimate of the time left from the pace of this run (a
running study counts by the share of its turns and particles done, read
from its progress lines and checkpoint).

Standard library only.
"""

import os
import threading
import time

from . import progress

__all__ = ["Console"]

EVERY = 60.0  # seconds between two lines while nothing ends
WATCH = 5.0  # seconds between two looks at the points' states (batch back ends)


class Console:
    """Progress lines of the points of a scan folder."""

    def __init__(self, scan, out=print, every=EVERY):
        self.scan = scan
        self.out = out
        self.every = every
        self.study = scan.load().get("study") or []
        self.folders = [scan.folder(p) for p in scan.points()]
        self._t0 = time.monotonic()
        self._work0 = self._work()[0]
        self._lock = threading.Lock()
        self._quit = threading.Event()
        self._thread = None

    def _work(self):
        """(work done in points, done, running, left)."""
        work, done, running = 0.0, 0, 0
        for f in self.folders:
            state = self.scan.state(f)[0]
            if state in ("finished", "refused", "failed"):
                work += 1.0
                done += 1
            else:
                running += state == "running"
                if os.path.isdir(f):
                    work += progress.fraction(progress.point_progress(f, self.study))
        return work, done, running, len(self.folders) - done - running

    def line(self):
        work, done, running, left = self._work()
        pace = (work - self._work0) / max(1e-9, time.monotonic() - self._t0)
        eta = ("about %s left" % progress.duration((len(self.folders) - work) / pace)
               if pace > 0 and work < len(self.folders) else
               "time left not known yet" if work < len(self.folders) else "nothing left")
        return "%d done, %d running, %d left; %s" % (done, running, left, eta)

    def point_ended(self, folder):
        with self._lock:
            self.out("%s: %s; %s" % (os.path.basename(folder), self.scan.state(folder)[0],
                                     self.line()))

    def start(self, watch=False):
        """Prints a line every EVERY seconds; ``watch`` (a batch back end,
        whose points end unseen) also when a point has ended."""
        def loop():
            last, said = time.monotonic(), None
            while not self._quit.wait(WATCH if watch else self.every):
                ended = self._work()[1] if watch else None
                if time.monotonic() - last >= self.every or ended != said:
                    with self._lock:
                        self.out(self.line())
                    last, said = time.monotonic(), ended
        self._thread = threading.Thread(target=loop, daemon=True)
        self._thread.start()

    def stop(self):
        self._quit.set()
        if self._thread is not None:
            self._thread.join()
