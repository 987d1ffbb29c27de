"""Companion tools of diff2wirenew: readers of its result files, tune
estimators, figures and parameter scans.

The modules only read what the tracker writes; none of them changes a run.

- ``readers``: result files ("footprint.dat", "diff.dat", "resav.out",
  "phasespace.dat", "frequencymap.dat") and the standard output of a run.
- ``params``: the positional layout of "diff.input", reading and editing.
- ``wires``: the wire file "wires.dat" and the names of its values.
- ``tunes``: spectral-peak, interpolated and refined tune estimators.
- ``tunefile``: the tune table of ``bbtune``.
- ``plots``: the figures of ``bbplot``.
- ``scan``: parameter scans of ``bbscan`` (local, Slurm, HTCondor): its
  grid (``grid``), folder (``scan_folder``, ``point_script``), back ends
  (``scan_backends``), results (``scan_results``, ``scan_plots``) and
  console (``scan_console``, ``progress``).
- ``run``: single runs of ``bbrun``; ``run_folder`` the state of a run folder.
"""

__all__ = ["readers", "params", "wires", "tunes", "tunefile", "plots", "scan"]
