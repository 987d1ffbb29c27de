"""The private Slurm cluster really runs job arrays and reports their failures."""

import os
import stat
import textwrap


def write_script(path, body):
    with open(path, "w") as f:
        f.write("#!/bin/bash\n" + textwrap.dedent(body))
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return str(path)


def sbatch_wait(slurm, tmp_path, script, array):
    return slurm.run("sbatch", "--parsable", "--wait", "--array=" + array,
                     "--output=" + str(tmp_path / "slurm-%A_%a.out"),
                     "--chdir=" + str(tmp_path), script, check=False, timeout=180)


def test_array_tasks_all_run(slurm, tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    script = write_script(tmp_path / "task.sh", """\
        echo "$SLURM_ARRAY_TASK_ID" > "%s/task_$SLURM_ARRAY_TASK_ID"
        """ % out)
    res = sbatch_wait(slurm, tmp_path, script, "0-2")
    assert res.returncode == 0, res.stderr + slurm.logs()
    assert res.stdout.strip().split(";")[0].isdigit(), res.stdout
    assert sorted(os.listdir(out)) == ["task_0", "task_1", "task_2"]
    for i in range(3):
        assert (out / ("task_%d" % i)).read_text() == "%d\n" % i


def test_failing_task_fails_the_array(slurm, tmp_path):
    script = write_script(tmp_path / "task.sh", """\
        [ "$SLURM_ARRAY_TASK_ID" = 1 ] && exit 3
        exit 0
        """)
    res = sbatch_wait(slurm, tmp_path, script, "0-2")
    # sbatch --wait exits with the highest exit code of the tasks; 1 would
    # also come from a refused submission
    assert res.returncode == 3, res.stdout + res.stderr + slurm.logs()
    # the cluster is still usable after a failed job
    state = slurm.run("sinfo", "-h", "-o", "%T").stdout.strip()
    assert state in ("idle", "mixed", "allocated"), state
