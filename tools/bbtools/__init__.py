"""Companion tools of diff2wirenew: readers of its result files, tune
estimators, figures and parameter scans.

The modules only read what the tracker writes; none of them changes a run.

- ``readers``: result files ("footprint.dat", "diff.dat", "resav.out",
  "phasespace.dat", "frequencymap.dat") and the standard output of a run.
- ``params``: the positional layout of "diff.input", reading and editing.
- ``wires``: the wire file "wires.dat" and the names of its values.
- ``tunes``: spectral-peak, interpolated and refined tune estimators.
- ``tunefile``: the tune table of ``bbtune``.
- ``dynap``: the result files of the study run and their readers.
- ``plots``: the command line of ``bbplot``; its figures are in ``figure``
  (what they share), ``resonance`` (resonance lines), ``fig_footprint``,
  ``fig_diffusion`` (running averages and rates), ``fig_tbt`` (phase space
  and spectra) and ``fig_study`` (frequency map and dynamic aperture).
- ``scan``: parameter scans of ``bbscan`` (local, Slurm, HTCondor): its
  grid (``grid``), folder (``scan_folder``, ``point_script``), back ends
  (``scan_backends``), results (``scan_results``, ``scan_plots``) and
  console (``scan_console``, ``progress``).
- ``run``: single runs of ``bbrun``; ``run_folder`` the state of a run folder.
- ``studies``: the study run from Python, ``study`` and ``read_study`` below.
- ``frames``: the classic result files as pandas DataFrames with units.
"""

__all__ = ["readers", "params", "wires", "tunes", "tunefile", "dynap", "plots", "scan",
           "studies", "frames", "study", "read_study"]


def study(ring, out=None, binary=None, threads=None, **options):
    """Runs ``diff2wirenew dynap`` on ``ring`` and returns its results as
    pandas DataFrames and the summary as a dict; see ``studies.study``."""
    from . import studies
    return studies.study(ring, out, binary, threads, **options)


def read_study(folder):
    """The results of the study in ``folder``; see ``studies.read_study``."""
    from . import studies
    return studies.read_study(folder)
